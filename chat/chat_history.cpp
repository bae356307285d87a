#include "chat_history.h"

namespace velmoran {

qsizetype ChatHistory::messageCount() const
{
    qsizetype count = 0;
    for (const HistoryChat& chat : chats)
        count += qsizetype(chat.messages.size());
    return count;
}

} // namespace velmoran
