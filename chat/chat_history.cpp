#include "chat/chat_history.h"

namespace velmoran {

QString messageFieldText(MessageField field)
{
    switch (field) {
    case MessageField::FromDisplayName:
        return QStringLiteral("From Display Name");
    case MessageField::Body:
        return QStringLiteral("Body");
    case MessageField::Timestamp:
        return QStringLiteral("Timestamp");
    }
    return {};
}

QString conversationKindText(ConversationKind kind)
{
    switch (kind) {
    case ConversationKind::OneToOne:
        return QStringLiteral("one-to-one");
    case ConversationKind::Group:
        return QStringLiteral("group");
    case ConversationKind::Bot:
        return QStringLiteral("bot");
    case ConversationKind::Other:
        return QStringLiteral("other");
    }
    return {};
}

qsizetype ChatHistory::messageCount() const
{
    qsizetype count = 0;
    for (const HistoryChat& chat : chats)
        count += qsizetype(chat.messages.size());
    return count;
}

} // namespace velmoran
