#pragma once

#include "chat/chat_history.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// Histories built in memory from a compact description, and a text of a history that two
// histories compare by, line by line.
namespace velmoran::test {

// A moment as UTC milliseconds, or as ISO 8601 text with its offset ("2021-03-14T05:00:00Z").
struct Utc {
    Utc(qint64 ms)
        : ms(ms)
    {
    }
    Utc(const char* iso);
    qint64 ms;
};

// One message: when, who (id and display name) and what it says.
struct MessageData {
    Utc time;
    QString senderId;
    QString name;
    QString body;
    MessageKind kind = MessageKind::Text;
};

// One chat, its fields in HistoryChat's order; peer is "" for chats that are not one-to-one.
struct ChatData {
    QString peer;
    std::vector<MessageData> messages = {};
    QString id = {};
    QString name = {};
    ConversationKind kind = ConversationKind::OneToOne;
    QStringList members = {};
};

HistoryMessage messageOf(const MessageData& data);
HistoryChat chatOf(const ChatData& data);

// The chats in the given order. The contacts are the given ones, or else the peers of the
// chats, in their order, each once.
ChatHistory historyOf(const std::vector<ChatData>& chats,
                      const std::optional<QStringList>& contacts = std::nullopt);
ChatHistoryPtr sharedHistory(const std::vector<ChatData>& chats,
                             const std::optional<QStringList>& contacts = std::nullopt);

// Everything a history holds, one line per item (the history, each chat, each message), in
// the history's order, so two histories compare line by line.
QStringList dump(const ChatHistory& history);
// The lines of one chat's messages alone, as dump writes them: "<UTC ms> <sender id> [<name>]
// <body>" and, where set, the kind, markup and shared file.
QStringList dumpMessages(const HistoryChat& chat);

} // namespace velmoran::test
