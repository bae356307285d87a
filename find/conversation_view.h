#pragma once

#include "chat/chat_history.h"
#include "chat/chat_service.h"

#include <QString>

#include <optional>
#include <vector>

namespace velmoran {

// Which messages velmoran-find tests: a time range and a sender. An empty filter lets every
// message through.
struct MessageFilter {
    std::optional<qint64> afterMs;  // inclusive, UTC milliseconds
    std::optional<qint64> beforeMs; // exclusive
    QString sender;                 // contained in the sender's id or name, case ignored; "" any

    bool isEmpty() const { return !afterMs && !beforeMs && sender.isEmpty(); }
    bool accepts(const HistoryMessage& message) const;
};

// A moment given on the command line: YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS], in local time unless
// it ends in Z (UTC) or an offset (+HH:MM, -HH:MM). A date alone is its first moment (local
// midnight, or the first moment after it where a time change skips midnight); a local time that
// a change skips counts from the change on. Answers the moment in UTC milliseconds, or nothing
// when the text is none of these forms or names a day or time that does not exist.
std::optional<qint64> parseMoment(const QString& text);

// A chat service over some chats of a history with only the messages a filter accepts, in
// their order. Positions are those of the view; chat() and messageAt() lead back to the
// history's own chat and message.
class ConversationView final : public ChatService {
public:
    // The chats of the history as the window searches them: every chat, its peer handle as
    // the history holds it.
    static ConversationView allChats(ChatHistoryPtr history, const MessageFilter& filter);
    // The chats that are not one-to-one (no peer handle), each answering its conversation id
    // as its peer, so that a search over those ids reaches each of them.
    static ConversationView otherChats(ChatHistoryPtr history, const MessageFilter& filter);

    // The peers of the view's chats, each once, in order.
    QStringList peers() const;
    const HistoryChat& chat(qint32 chat) const;

    bool isClientRunning() override { return true; }
    QStringList enumerateContacts() override { return m_history->contacts; }
    qint32 chatCount() override { return qint32(m_chats.size()); }
    QString peerHandle(qint32 chat) override;
    qint32 messageCount(qint32 chat) override;
    const HistoryMessage& messageAt(qint32 chat, qint32 message) override;

private:
    struct Entry {
        const HistoryChat* chat;
        QString peer;
        bool filtered;                // false: every message, in the chat's own order
        std::vector<qint32> messages; // 0-based indexes into chat->messages when filtered
    };
    ConversationView(ChatHistoryPtr history, bool otherOnly, const MessageFilter& filter);
    const Entry& entry(qint32 chat) const;

    ChatHistoryPtr m_history;
    std::vector<Entry> m_chats;
};

} // namespace velmoran
