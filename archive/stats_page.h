#pragma once

#include "archive/local_times.h"
#include "archive/svg_charts.h"
#include "chat/chat_history.h"

#include <QHash>
#include <QString>

#include <array>
#include <vector>

namespace velmoran {

// What an archive's statistics page shows, counted as the archive's pages are written: each
// archived message once, in the order the pages take them.
class ArchiveStats {
public:
    explicit ArchiveStats(const ChatHistory& history);

    // The messages counted next are those of chat, archived in folder ("c0001").
    void beginConversation(size_t chat, const QString& folder);
    // Counts a message of the conversation begun last, messages in time order; local: the
    // local minute it was sent in (LocalTimes::minute).
    void add(const HistoryMessage& message, const LocalTimes::Minute& local);

    struct Conversation {
        size_t chat;
        QString folder;
        qint64 messages = 0;
        std::vector<MonthCount> months; // in order, months without messages left out
    };
    struct Person {
        QString name; // the person's one name, "(you)" added for the history's own user
        qint64 messages;
        bool own;
        QString handle = {}; // shown when another charted person has the same name
    };

    const std::vector<Conversation>& conversations() const { return m_conversations; }
    qint64 messages() const;
    // Messages per month over every conversation, in order.
    std::vector<MonthCount> months() const;
    // The people who sent the most messages, the most first (ties in the order first met);
    // count: how many at most.
    std::vector<Person> busiestPeople(size_t count) const;
    size_t people() const { return m_people.size(); }
    // Messages by local weekday (0 Monday … 6 Sunday) and hour.
    qint64 at(int weekday, int hour) const { return m_hours[size_t(weekday)][size_t(hour)]; }

private:
    struct Sender {
        const HistoryMessage* first; // names the sender
        qint64 messages = 0;
    };

    const ChatHistory& m_history;
    std::vector<Conversation> m_conversations;
    std::vector<Sender> m_people;
    QHash<QString, size_t> m_personOf; // by sender id, or "\n" + name for a message without one
    std::array<std::array<qint64, 24>, 7> m_hours = {};
    // The last message's day and sender, so a run of them is looked up once.
    QDate m_day;
    int m_dayMonth = 0;
    int m_dayWeekday = 0;
    const QChar* m_senderId = nullptr;
    qsizetype m_senderIdSize = -1;
    const QChar* m_senderName = nullptr;
    qsizetype m_senderNameSize = -1;
    size_t m_sender = 0;
};

// How many conversations the statistics page draws at most, the busiest (fewer over a span of
// decades, so the page stays within some 300 KB); the others are counted only.
inline constexpr size_t ChartedConversations = 12;
// How many people it draws, the busiest.
inline constexpr size_t ChartedPeople = 20;

// Writes stats.html into the archive's folder: messages per month, the busiest conversations'
// months (each linked to its folder), the busiest people and messages by weekday and hour in
// local time, all as inline SVG with their counts in titles and the totals as text. Its size
// does not grow with the number of conversations.
void writeStatsPage(const QString& folder, const ChatHistory& history, const ArchiveStats& stats);

} // namespace velmoran
