#pragma once

#include "chat/chat_history.h"

namespace velmoran {

// The small history built into the program, so it can be tried without a history of one's
// own (velmoran --sample): six contacts, five one-to-one chats, one group chat, about 200
// messages from 2019 to 2024 in several scripts. One message has an empty sender name, one an
// empty body, and one contact has no messages.
ChatHistoryPtr sampleHistory();

} // namespace velmoran
