#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace velmoran {

// The three fields of a message that a search tests, in the order it tests them.
enum class MessageField : quint8 { FromDisplayName, Body, Timestamp };
// "From Display Name", "Body" or "Timestamp", as the results list names the field.
QString messageFieldText(MessageField field);

// One message as the history holds it. The timestamp is UTC, in milliseconds since the epoch;
// it becomes local time only when it is shown or searched.
struct HistoryMessage {
    qint64 timestampMs = 0;
    QString senderDisplayName;
    QString body;
};

// One chat. peerHandle is the contact the chat is held with, or empty for chats that are not
// one-to-one (group chats, bots): those never match a contact and are never searched.
struct HistoryChat {
    QString peerHandle;
    std::vector<HistoryMessage> messages;
};

// A whole chat history, loaded once and read by every command afterwards. Readers share
// repeated texts (sender names) between messages through QString's implicit sharing.
struct ChatHistory {
    QStringList contacts;
    std::vector<HistoryChat> chats;

    qsizetype messageCount() const;
};

using ChatHistoryPtr = std::shared_ptr<const ChatHistory>;

} // namespace velmoran
