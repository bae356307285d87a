#include "chat/person_names.h"

#include <QSet>

#include <algorithm>
#include <limits>
#include <unordered_map>

namespace velmoran {

namespace {

// A sender id as messages hold it: ordinary accounts without their "8:".
QString senderKey(const QString& id)
{
    return id.startsWith(QLatin1String("8:")) ? id.mid(2) : id;
}

// Whether a message's sender name is none or only the sender's id, as readers show a sender
// without a name ("anna", or "8:anna" as the database may write the author).
bool isOnlyTheId(const QString& name, const QString& id)
{
    return name.isEmpty() || name == id
           || (name.size() == id.size() + 2 && name.startsWith(QLatin1String("8:"))
               && name.endsWith(id));
}

// The latest name messages give one sender; an empty name when none gives one.
struct LatestName {
    qint64 timestampMs = std::numeric_limits<qint64>::min();
    QString name;
};

// Every sender's latest name over all messages. Runs of messages from one sender, whose ids
// share one text, cost a comparison each rather than a lookup.
std::unordered_map<QString, LatestName> latestNames(const ChatHistory& history)
{
    std::unordered_map<QString, LatestName> latest;
    for (const HistoryChat& chat : history.chats) {
        const QString* lastId = nullptr;
        LatestName* entry = nullptr;
        for (const HistoryMessage& m : chat.messages) {
            if (m.senderId.isEmpty())
                continue;
            if (!lastId || m.senderId.constData() != lastId->constData()
                || m.senderId.size() != lastId->size()) {
                entry = &latest[m.senderId];
                lastId = &m.senderId;
            }
            if (m.timestampMs < entry->timestampMs || isOnlyTheId(m.senderDisplayName, m.senderId))
                continue;
            entry->timestampMs = m.timestampMs;
            if (entry->name.constData() != m.senderDisplayName.constData())
                entry->name = m.senderDisplayName;
        }
    }
    return latest;
}

// The name a bot chat is shown by.
QString botName(const ChatHistory& history, const HistoryChat& chat)
{
    if (!chat.name.isEmpty() && chat.name != chat.id)
        return chat.name;
    // The bot's messages may come from its id or from its bare handle.
    const QString handle = handleOfId(chat.id);
    for (const QString& id : {chat.id, handle}) {
        const QString name = history.personNames.value(id);
        if (!name.isEmpty() && name != handleOfId(id))
            return name;
    }
    return handle;
}

QString ownName(const HistoryChat& chat)
{
    if (!chat.name.isEmpty())
        return chat.name;
    if (!chat.peerHandle.isEmpty())
        return chat.peerHandle;
    return chat.id;
}

QString baseName(const ChatHistory& history, const HistoryChat& chat)
{
    switch (chat.kind) {
    case ConversationKind::OneToOne:
        if (!chat.peerHandle.isEmpty())
            return personName(history, chat.peerHandle);
        break;
    case ConversationKind::Bot:
        return botName(history, chat);
    case ConversationKind::Group:
    case ConversationKind::Other:
        break;
    }
    return ownName(chat);
}

} // namespace

QString handleOfId(const QString& id)
{
    if (id.startsWith(QLatin1String("8:")))
        return id.mid(2);
    if (id.startsWith(QLatin1String("28:")))
        return id.mid(3);
    return id;
}

void indexPeople(ChatHistory& history)
{
    // Names known besides messages, weakest last: those given before, then one-to-one chats'.
    QHash<QString, QString> known = std::move(history.personNames);
    for (const HistoryChat& chat : history.chats) {
        if (chat.kind == ConversationKind::OneToOne && !chat.peerHandle.isEmpty()
            && !chat.name.isEmpty() && chat.name != chat.peerHandle
            && !known.contains(chat.peerHandle))
            known.insert(chat.peerHandle, chat.name);
    }
    QHash<QString, QString> names;
    auto add = [&](const QString& id, const QString& messageName) {
        if (names.contains(id))
            return;
        QString name = messageName;
        if (name.isEmpty())
            name = known.value(id);
        if (name.isEmpty() || name == id)
            name = handleOfId(id);
        names.insert(id, name);
    };
    const auto latest = latestNames(history);
    names.reserve(qsizetype(latest.size()));
    for (const auto& [id, entry] : latest)
        add(id, entry.name);
    for (const HistoryChat& chat : history.chats) {
        if (!chat.peerHandle.isEmpty())
            add(chat.peerHandle, {});
        for (const QString& member : chat.members)
            add(senderKey(member), {});
    }
    if (!history.ownUserId.isEmpty())
        add(history.ownUserId, {});
    for (auto it = known.cbegin(); it != known.cend(); ++it)
        add(it.key(), {});
    history.personNames = std::move(names);

    // Chats of one name are told apart in history order by a number no other chat's name has.
    QStringList shown;
    shown.reserve(qsizetype(history.chats.size()));
    for (const HistoryChat& chat : history.chats)
        shown << baseName(history, chat);
    const QSet<QString> taken(shown.cbegin(), shown.cend());
    QSet<QString> seen;
    QSet<QString> given;
    QHash<QString, int> nextNumber;
    for (QString& name : shown) {
        if (!seen.contains(name)) {
            seen.insert(name);
            continue;
        }
        int& number = nextNumber[name];
        number = std::max(number, 2);
        QString distinct;
        do
            distinct = name + QStringLiteral(" (") + QString::number(number++) + QLatin1Char(')');
        while (taken.contains(distinct) || given.contains(distinct));
        given.insert(distinct);
        name = distinct;
    }
    history.chatNames = std::move(shown);
}

QString personName(const ChatHistory& history, const QString& senderId)
{
    const QString key = senderKey(senderId);
    const auto found = history.personNames.constFind(key);
    return found != history.personNames.cend() ? *found : handleOfId(key);
}

bool isOwnUser(const ChatHistory& history, const QString& senderId)
{
    return !history.ownUserId.isEmpty() && senderKey(senderId) == history.ownUserId;
}

QString chatShownName(const ChatHistory& history, size_t chat)
{
    if (chat < size_t(history.chatNames.size()))
        return history.chatNames[qsizetype(chat)];
    return chat < history.chats.size() ? ownName(history.chats[chat]) : QString();
}

} // namespace velmoran
