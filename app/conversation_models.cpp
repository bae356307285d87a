#include "app/conversation_models.h"

#include "chat/message_text.h"
#include "chat/person_names.h"
#include "core/local_time.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <limits>

namespace velmoran {

namespace {

// name, marked as the own user's when id is theirs.
QString ownMarked(const ChatHistory& history, const QString& id, const QString& name)
{
    if (!isOwnUser(history, id))
        return name;
    return QCoreApplication::translate("velmoran::ConversationWindow", "%1 (you)").arg(name);
}

// The names of a chat's listed members, the first few of a large group.
QString memberNames(const ChatHistory& history, const HistoryChat& chat)
{
    constexpr qsizetype Shown = 12;
    QStringList names;
    for (qsizetype i = 0; i < std::min(chat.members.size(), Shown); ++i)
        names << ownMarked(history, chat.members[i], personName(history, chat.members[i]));
    if (chat.members.size() > Shown)
        names << QStringLiteral("\u2026");
    return names.join(QStringLiteral(", "));
}

} // namespace

QString conversationDisplayName(const HistoryChat& chat)
{
    if (!chat.name.isEmpty())
        return chat.name;
    if (!chat.peerHandle.isEmpty())
        return chat.peerHandle;
    return chat.id;
}

QString messageSenderLabel(const ChatHistory& history, const HistoryMessage& message)
{
    return ownMarked(history, message.senderId, senderShownName(history, message));
}

QString conversationShownName(const ChatHistory& history, int chat)
{
    return chat >= 0 ? chatShownName(history, size_t(chat)) : QString();
}

qsizetype conversationMemberCount(const HistoryChat& chat)
{
    return chat.members.isEmpty() ? chat.memberCount : chat.members.size();
}

QString conversationHeaderSuffix(const HistoryChat& chat)
{
    if (chat.kind == ConversationKind::Bot)
        return QCoreApplication::translate("velmoran::ConversationWindow", "  (bot)");
    if (chat.kind != ConversationKind::Group)
        return {};
    const qsizetype members = conversationMemberCount(chat);
    if (members == 0)
        return QCoreApplication::translate("velmoran::ConversationWindow", "  (group)");
    return QCoreApplication::translate("velmoran::ConversationWindow", "  (group, %1 members)")
        .arg(members);
}

QString conversationHeaderText(const ChatHistory& history, int chat)
{
    if (chat < 0 || size_t(chat) >= history.chats.size())
        return {};
    return conversationShownName(history, chat)
           + conversationHeaderSuffix(history.chats[size_t(chat)]);
}

void ConversationListModel::setHistory(ChatHistoryPtr history)
{
    beginResetModel();
    m_history = std::move(history);
    m_chats.clear();
    m_rowOfChat.clear();
    if (m_history) {
        const auto& chats = m_history->chats;
        m_chats.resize(chats.size());
        for (size_t i = 0; i < chats.size(); ++i)
            m_chats[i] = qint32(i);
        auto last = [&](qint32 chat) {
            const auto& messages = chats[size_t(chat)].messages;
            return messages.empty() ? std::numeric_limits<qint64>::min()
                                    : messages.back().timestampMs;
        };
        std::stable_sort(m_chats.begin(), m_chats.end(),
                         [&](qint32 a, qint32 b) { return last(a) > last(b); });
        m_rowOfChat.resize(chats.size());
        for (size_t row = 0; row < m_chats.size(); ++row)
            m_rowOfChat[size_t(m_chats[row])] = qint32(row);
    }
    endResetModel();
}

int ConversationListModel::rowOfChat(int chat) const
{
    return chat >= 0 && size_t(chat) < m_rowOfChat.size() ? m_rowOfChat[size_t(chat)] : -1;
}

int ConversationListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_chats.size());
}

QVariant ConversationListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= m_chats.size())
        return {};
    const qint32 chatIndex = m_chats[size_t(index.row())];
    const HistoryChat& chat = m_history->chats[size_t(chatIndex)];
    const QString name = conversationShownName(*m_history, chatIndex);
    switch (role) {
    case Qt::DisplayRole: {
        const QLocale locale;
        // The name is isolated, so a right-to-left name does not reorder the count and dates.
        QString text = QChar(0x2068) + name + QChar(0x2069) + QStringLiteral("  \u00b7  ")
                       + (chat.messages.size() == 1 ? tr("1 message")
                                                    : tr("%1 messages").arg(chat.messages.size()));
        if (!chat.messages.empty()) {
            const QDate first =
                QDateTime::fromMSecsSinceEpoch(chat.messages.front().timestampMs).date();
            const QDate last =
                QDateTime::fromMSecsSinceEpoch(chat.messages.back().timestampMs).date();
            text += QStringLiteral("  \u00b7  ") + locale.toString(first, QLocale::ShortFormat)
                    + QStringLiteral(" \u2013 ") + locale.toString(last, QLocale::ShortFormat);
        }
        return text;
    }
    case Qt::ToolTipRole: {
        QString text = name;
        if (!chat.id.isEmpty())
            text += QLatin1Char('\n') + chat.id;
        text += QLatin1Char('\n') + conversationKindText(chat.kind);
        if (const qsizetype members = conversationMemberCount(chat); members > 0)
            text += QStringLiteral(", %1 members").arg(members);
        if (!chat.members.isEmpty())
            text += QLatin1Char('\n') + memberNames(*m_history, chat);
        return text;
    }
    case FilterRole:
        return name + QLatin1Char('\n') + chat.name + QLatin1Char('\n') + chat.peerHandle
               + QLatin1Char('\n') + chat.id;
    case ChatRole:
        return chatIndex;
    }
    return {};
}

void MessageListModel::setChat(ChatHistoryPtr history, int chat)
{
    beginResetModel();
    m_history = std::move(history);
    m_chat = m_history && chat >= 0 && size_t(chat) < m_history->chats.size() ? chat : -1;
    m_dates.clear();
    m_dayStarts.clear();
    if (const HistoryChat* c = chatData(); c && !c->messages.empty()) {
        // One pass without date or text work: a message's local day is its time plus the
        // offset in force then, in whole days. A message out of time order gets a date row
        // of its own, as does the one after it.
        const auto [first, last] =
            std::minmax_element(c->messages.begin(), c->messages.end(),
                                [](const HistoryMessage& a, const HistoryMessage& b) {
                                    return a.timestampMs < b.timestampMs;
                                });
        LocalOffsets offsets(first->timestampMs, last->timestampMs);
        qint64 previousDay = 0;
        for (size_t i = 0; i < c->messages.size(); ++i) {
            const qint64 day = offsets.localDay(c->messages[i].timestampMs);
            if (i > 0 && day == previousDay)
                continue;
            previousDay = day;
            m_dates.push_back(QDate::fromJulianDay(UnixEpochJulianDay + day));
            m_dayStarts.push_back(qint32(i));
        }
    }
    endResetModel();
}

const HistoryChat* MessageListModel::chatData() const
{
    return m_chat >= 0 ? &m_history->chats[size_t(m_chat)] : nullptr;
}

int MessageListModel::messageCount() const
{
    const HistoryChat* c = chatData();
    return c ? int(c->messages.size()) : 0;
}

const HistoryMessage& MessageListModel::message(int index) const
{
    return chatData()->messages[size_t(index)];
}

int MessageListModel::rowOfMessage(int message) const
{
    if (message < 0 || message >= messageCount())
        return -1;
    const auto day = std::upper_bound(m_dayStarts.begin(), m_dayStarts.end(), qint32(message));
    return message + int(day - m_dayStarts.begin());
}

int MessageListModel::dayOfRow(int row) const
{
    // The last day whose date row is at or before the row.
    int low = 0;
    int high = int(m_dayStarts.size()) - 1;
    while (low < high) {
        const int mid = (low + high + 1) / 2;
        if (m_dayStarts[size_t(mid)] + mid <= row)
            low = mid;
        else
            high = mid - 1;
    }
    return low;
}

int MessageListModel::messageOfRow(int row) const
{
    if (row < 0 || row >= rowCount())
        return -1;
    const int day = dayOfRow(row);
    const int dateRow = m_dayStarts[size_t(day)] + day;
    return row == dateRow ? -1 : row - day - 1;
}

int MessageListModel::find(const QString& text, Qt::CaseSensitivity cs, int from, int count,
                           std::vector<qint32>& found) const
{
    const HistoryChat* c = chatData();
    if (!c || text.isEmpty())
        return messageCount();
    const int end = int(std::min<qint64>(qint64(from) + count, qint64(c->messages.size())));
    // The sender as the row shows it; a run of one sender's messages looks it up once.
    const HistoryMessage* previous = nullptr;
    bool senderHit = false;
    for (int i = std::max(from, 0); i < end; ++i) {
        const HistoryMessage& m = c->messages[size_t(i)];
        const bool hit = isPlainTextMessage(m)
                             ? m.body.contains(text, cs)
                             : messageShownText(m, m_history.get()).contains(text, cs);
        if (!previous || m.senderId.constData() != previous->senderId.constData()
            || m.senderId.size() != previous->senderId.size()
            || m.senderDisplayName.constData() != previous->senderDisplayName.constData()
            || m.senderDisplayName.size() != previous->senderDisplayName.size())
            senderHit = messageSenderLabel(*m_history, m).contains(text, cs);
        previous = &m;
        if (hit || senderHit)
            found.push_back(qint32(i));
    }
    return end;
}

QString MessageListModel::copyLine(int message) const
{
    const HistoryMessage& m = this->message(message);
    return messageCopyLine(*m_history, m);
}

int MessageListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : messageCount() + int(m_dates.size());
}

QVariant MessageListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const int message = messageOfRow(index.row());
    if (message < 0) {
        if (role != Qt::DisplayRole && role != IsDateRole && role != MessageRole)
            return {};
        if (role == IsDateRole)
            return true;
        if (role == MessageRole)
            return -1;
        return QLocale().toString(m_dates[size_t(dayOfRow(index.row()))], QLocale::LongFormat);
    }
    const HistoryMessage& m = this->message(message);
    switch (role) {
    case Qt::DisplayRole:
        return copyLine(message);
    case Qt::ToolTipRole: {
        // Who is behind the name, then the whole text, which the row may cut short.
        QString sender = messageSenderLabel(*m_history, m);
        if (const QString handle = handleOfId(m.senderId); !handle.isEmpty() && handle != sender)
            sender += QStringLiteral(" \u00b7 ") + handle;
        return sender + QLatin1Char('\n') + messageShownText(m, m_history.get());
    }
    case IsDateRole:
        return false;
    case TimeRole:
        return QLocale().toString(QDateTime::fromMSecsSinceEpoch(m.timestampMs).time(),
                                  QLocale::ShortFormat);
    case SenderRole:
        return messageSenderLabel(*m_history, m);
    case TextRole:
        return messageShownText(m, m_history.get());
    case MessageRole:
        return message;
    }
    return {};
}

Qt::ItemFlags MessageListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    if (messageOfRow(index.row()) < 0)
        return Qt::ItemIsEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

} // namespace velmoran
