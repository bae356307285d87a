#include "history_builder.h"

#include <QDateTime>

namespace velmoran::test {

Utc::Utc(const char* iso)
{
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
    if (!time.isValid())
        qFatal("bad test time %s", iso);
    ms = time.toMSecsSinceEpoch();
}

HistoryMessage messageOf(const MessageData& data)
{
    HistoryMessage message;
    message.timestampMs = data.time.ms;
    message.senderId = data.senderId;
    message.senderDisplayName = data.name;
    message.body = data.body;
    message.kind = data.kind;
    return message;
}

HistoryChat chatOf(const ChatData& data)
{
    HistoryChat chat;
    chat.peerHandle = data.peer;
    for (const MessageData& message : data.messages)
        chat.messages.push_back(messageOf(message));
    chat.id = data.id;
    chat.name = data.name;
    chat.kind = data.kind;
    chat.members = data.members;
    return chat;
}

ChatHistory historyOf(const std::vector<ChatData>& chats,
                      const std::optional<QStringList>& contacts)
{
    ChatHistory history;
    for (const ChatData& chat : chats) {
        history.chats.push_back(chatOf(chat));
        if (!contacts && !chat.peer.isEmpty() && !history.contacts.contains(chat.peer))
            history.contacts << chat.peer;
    }
    if (contacts)
        history.contacts = *contacts;
    return history;
}

ChatHistoryPtr sharedHistory(const std::vector<ChatData>& chats,
                             const std::optional<QStringList>& contacts)
{
    return std::make_shared<const ChatHistory>(historyOf(chats, contacts));
}

QStringList dumpMessages(const HistoryChat& chat)
{
    QStringList lines;
    for (const HistoryMessage& m : chat.messages) {
        QString line = QStringLiteral("%1 %2 [%3] %4")
                           .arg(m.timestampMs)
                           .arg(m.senderId, m.senderDisplayName, m.body);
        if (m.kind != MessageKind::Text)
            line += QStringLiteral(" kind %1").arg(int(m.kind));
        if (!m.markup.isEmpty())
            line += QStringLiteral(" markup %1").arg(m.markup);
        if (m.file)
            line += QStringLiteral(" file %1 %2 %3")
                        .arg(m.file->objectId, m.file->fileName)
                        .arg(m.file->size);
        lines << line;
    }
    return lines;
}

QStringList dump(const ChatHistory& history)
{
    QStringList lines;
    lines << QStringLiteral("contacts: ") + history.contacts.join(QLatin1Char('|'));
    lines << QStringLiteral("skipped: %1, first: %2, not UTF-8: %3")
                 .arg(QString::number(history.skippedMessages), history.firstSkipped,
                      QString::number(history.notUtf8Texts));
    lines << QStringLiteral("own user: %1").arg(history.ownUserId);
    for (const HistoryChat& chat : history.chats) {
        lines << QStringLiteral("chat %1 (%2) \"%3\" peer %4 members %5 of %6")
                     .arg(chat.id, conversationKindText(chat.kind), chat.name, chat.peerHandle,
                          chat.members.join(QLatin1Char('|')))
                     .arg(chat.memberCount);
        for (const QString& line : dumpMessages(chat))
            lines << QStringLiteral("  ") + line;
    }
    return lines;
}

} // namespace velmoran::test
