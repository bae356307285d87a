#include "find/conversation_view.h"

#include "core/failure.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>

namespace velmoran {

bool MessageFilter::accepts(const HistoryMessage& message) const
{
    if (afterMs && message.timestampMs < *afterMs)
        return false;
    if (beforeMs && message.timestampMs >= *beforeMs)
        return false;
    return sender.isEmpty() || message.senderId.contains(sender, Qt::CaseInsensitive)
           || message.senderDisplayName.contains(sender, Qt::CaseInsensitive);
}

std::optional<qint64> parseMoment(const QString& text)
{
    static const QRegularExpression form(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})(?:T(\d{2}):(\d{2})(?::(\d{2}))?(Z|[+-]\d{2}:\d{2})?)?$)"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    auto number = [&](int group) { return match.capturedView(group).toInt(); };
    const QDate date(number(1), number(2), number(3));
    const bool hasTime = match.hasCaptured(4);
    const QTime time =
        hasTime ? QTime(number(4), number(5), match.hasCaptured(6) ? number(6) : 0) : QTime(0, 0);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    const QStringView zone = match.capturedView(7);
    if (zone.isEmpty()) {
        // Local time.
        const QDateTime local(date, time, Qt::LocalTime);
        if (local.isValid())
            return local.toMSecsSinceEpoch();
        // A time that a change to summer time skips is read with the offset before the change,
        // which lands as far after the change as it lies after its start: a skipped midnight
        // becomes the day's first moment.
        const qint64 wall = QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch();
        const qint64 dayMs = 24 * 60 * 60 * 1000;
        const int before =
            QDateTime::fromMSecsSinceEpoch(wall - dayMs, Qt::LocalTime).offsetFromUtc();
        return wall - qint64(before) * 1000;
    }
    int offsetSeconds = 0;
    if (zone != u"Z") {
        const int hours = zone.mid(1, 2).toInt();
        const int minutes = zone.mid(4, 2).toInt();
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 60 + minutes) * 60 * (zone.front() == u'-' ? -1 : 1);
    }
    return QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch() - qint64(offsetSeconds) * 1000;
}

ConversationView::ConversationView(ChatHistoryPtr history, bool otherOnly,
                                   const MessageFilter& filter)
    : m_history(std::move(history))
{
    const bool filtered = !filter.isEmpty();
    for (const HistoryChat& chat : m_history->chats) {
        if (otherOnly && !chat.peerHandle.isEmpty())
            continue;
        Entry entry{&chat, otherOnly ? chat.id : chat.peerHandle, filtered, {}};
        if (filtered) {
            for (size_t i = 0; i < chat.messages.size(); ++i) {
                if (filter.accepts(chat.messages[i]))
                    entry.messages.push_back(qint32(i));
            }
        }
        m_chats.push_back(std::move(entry));
    }
}

ConversationView ConversationView::allChats(ChatHistoryPtr history, const MessageFilter& filter)
{
    return ConversationView(std::move(history), false, filter);
}

ConversationView ConversationView::otherChats(ChatHistoryPtr history, const MessageFilter& filter)
{
    return ConversationView(std::move(history), true, filter);
}

QStringList ConversationView::peers() const
{
    QStringList peers;
    for (const Entry& entry : m_chats) {
        if (!peers.contains(entry.peer))
            peers << entry.peer;
    }
    return peers;
}

const ConversationView::Entry& ConversationView::entry(qint32 chat) const
{
    if (chat < 1 || size_t(chat) > m_chats.size())
        throw Failure(QStringLiteral("Chat position %1 is out of range.").arg(chat));
    return m_chats[size_t(chat) - 1];
}

const HistoryChat& ConversationView::chat(qint32 chat) const
{
    return *entry(chat).chat;
}

QString ConversationView::peerHandle(qint32 chat)
{
    return entry(chat).peer;
}

qint32 ConversationView::messageCount(qint32 chat)
{
    const Entry& e = entry(chat);
    return qint32(e.filtered ? e.messages.size() : e.chat->messages.size());
}

const HistoryMessage& ConversationView::messageAt(qint32 chat, qint32 message)
{
    const Entry& e = entry(chat);
    const size_t count = e.filtered ? e.messages.size() : e.chat->messages.size();
    if (message < 1 || size_t(message) > count)
        throw Failure(QStringLiteral("Message position %1 is out of range.").arg(message));
    const size_t index = e.filtered ? size_t(e.messages[size_t(message) - 1]) : size_t(message) - 1;
    return e.chat->messages[index];
}

} // namespace velmoran
