#include "find/conversation_view.h"

#include "core/failure.h"
#include "core/iso_time.h"
#include "core/local_time.h"

#include <QDateTime>
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
    // A date, or a date and "T" and a time to the minute or second, with a zone or in local
    // time.
    const QByteArray latin = text.toLatin1();
    const std::optional<IsoFields> f =
        text.size() == latin.size()
            ? readIsoFields(std::string_view(latin.constData(), size_t(latin.size())))
            : std::nullopt;
    if (!f || f->year < 1 || f->spaceSeparated || f->fractionDigits > 0 || f->second > 59
        || (f->hasZone && !f->hasTime))
        return std::nullopt;
    if (f->hasZone)
        return isoUtcMs(*f);
    const QDate date(f->year, f->month, f->day);
    const QTime time(f->hour, f->minute, f->second);
    const QDateTime local(date, time, Qt::LocalTime);
    if (local.isValid())
        return local.toMSecsSinceEpoch();
    // A time that a change to summer time skips is read with the offset before the change,
    // which lands as far after the change as it lies after its start: a skipped midnight
    // becomes the day's first moment.
    const qint64 wall = isoUtcMs(*f);
    const int before =
        QDateTime::fromMSecsSinceEpoch(wall - MsPerDay, Qt::LocalTime).offsetFromUtc();
    return wall - qint64(before) * 1000;
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
