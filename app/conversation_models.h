#pragma once

#include "chat/chat_history.h"
#include "chat/message_text.h"

#include <QAbstractListModel>
#include <QDate>

#include <vector>

namespace velmoran {

// The name a chat is shown by: its name, else the partner's handle, else its id.
QString conversationDisplayName(const HistoryChat& chat);
// Who sent a message as the conversation window names them (chat/message_text.h
// senderShownName), the history's own user marked as such: "Sam Carter (you)".
QString messageSenderLabel(const ChatHistory& history, const HistoryMessage& message);
// The name the conversation window shows chat number chat by: the partner's one name, a bot's
// name, chats of one name told apart ("Team", "Team (2)").
QString conversationShownName(const ChatHistory& history, int chat);
// How many members a chat has: those the history lists, else the count it states; 0 when it
// tells neither.
qsizetype conversationMemberCount(const HistoryChat& chat);
// What the line over a chat's messages tells after the name: "  (group, 5 members)",
// "  (group)" when the history tells no members, "  (bot)", or nothing.
QString conversationHeaderSuffix(const HistoryChat& chat);
// The line over a chat's messages: "Team  (group, 5 members)", "Concierge  (bot)" or the name.
QString conversationHeaderText(const ChatHistory& history, int chat);

// Every conversation of a history, the one with the latest message first (conversations without
// messages last, in history order).
class ConversationListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    // The text the filter box is matched against: name, handle and id.
    static constexpr int FilterRole = Qt::UserRole + 1;
    // The chat's index in the history.
    static constexpr int ChatRole = Qt::UserRole + 2;

    using QAbstractListModel::QAbstractListModel;

    void setHistory(ChatHistoryPtr history);
    const ChatHistoryPtr& history() const { return m_history; }
    // The row that shows a chat, or -1.
    int rowOfChat(int chat) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    ChatHistoryPtr m_history;
    std::vector<qint32> m_chats; // by row
    std::vector<qint32> m_rowOfChat;
};

// The messages of one chat, with a date row before the first message of each local day. Rows
// have one height, so chats of any length scroll at once.
class MessageListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int IsDateRole = Qt::UserRole + 1;
    static constexpr int TimeRole = Qt::UserRole + 2;
    static constexpr int SenderRole = Qt::UserRole + 3;
    static constexpr int TextRole = Qt::UserRole + 4;
    // The message's index in its chat, or -1 for a date row.
    static constexpr int MessageRole = Qt::UserRole + 5;

    using QAbstractListModel::QAbstractListModel;

    void setChat(ChatHistoryPtr history, int chat);
    const ChatHistoryPtr& history() const { return m_history; }
    int chat() const { return m_chat; }
    const HistoryChat* chatData() const;
    int messageCount() const;
    const HistoryMessage& message(int index) const;

    int rowOfMessage(int message) const;
    // The message a row shows, or -1 for a date row.
    int messageOfRow(int row) const;

    // Appends to found the messages from..from+count-1 whose text or sender contains text,
    // first to last. Answers where the next such piece begins.
    int find(const QString& text, Qt::CaseSensitivity cs, int from, int count,
             std::vector<qint32>& found) const;

    // "date time, sender: text" of a message, as Copy writes it.
    QString copyLine(int message) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    int dayOfRow(int row) const;

    ChatHistoryPtr m_history;
    int m_chat = -1;
    // Per local day: its date and the index of its first message. Row of message m is
    // m + (days up to and including m's day).
    std::vector<QDate> m_dates;
    std::vector<qint32> m_dayStarts;
};

} // namespace velmoran
