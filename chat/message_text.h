#pragma once

#include "chat/chat_history.h"
#include "chat/message_parts.h"

#include <QString>

#include <vector>

namespace velmoran {

// A message as one line of text, the way the conversation window shows and copies it:
// "date time, sender: text". Views that have no window (the archive) use the same functions,
// so a copied line and an archived line are the same text.

// "date time" of a timestamp in local time, in the locale's short formats.
QString localDateTimeText(qint64 utcMilliseconds);

// Who sent a message: the display name, else the sender id.
QString senderOwnName(const HistoryMessage& message);
// Who sent a message as the conversation window names them: the person's one name over the
// whole history (chat/person_names.h), else the message's own name or id.
QString senderShownName(const ChatHistory& history, const HistoryMessage& message);

// A written message with nothing but its text: shown as its body is.
bool isPlainTextMessage(const HistoryMessage& message);

// A message's text as the conversation shows it: a shared file by its name and size, a written
// message by its body, a call, quote, edit, deletion or event as its parts read ("Call,
// 36 min"), people named as history names them when it is given.
QString messageShownText(const HistoryMessage& message, const ChatHistory* history = nullptr);
// The same from the message's parts, decoded already (chat/message_parts.h).
QString messageShownText(const HistoryMessage& message, const std::vector<MessagePart>& parts,
                         const ChatHistory* history = nullptr);

// localDateTimeText + ", " + senderShownName + ": " + messageShownText.
QString messageCopyLine(const ChatHistory& history, const HistoryMessage& message);

} // namespace velmoran
