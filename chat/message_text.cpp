#include "chat/message_text.h"

#include "chat/message_parts.h"
#include "chat/person_names.h"
#include "chat/shared_file_archive.h"
#include "core/local_time.h"

#include <QDateTime>
#include <QLocale>

namespace velmoran {

QString localDateTimeText(qint64 utcMilliseconds)
{
    const QDateTime local = localWallClock(utcMilliseconds);
    const QLocale locale;
    return locale.toString(local.date(), QLocale::ShortFormat) + QLatin1Char(' ')
           + locale.toString(local.time(), QLocale::ShortFormat);
}

QString senderOwnName(const HistoryMessage& message)
{
    return message.senderDisplayName.isEmpty() ? message.senderId : message.senderDisplayName;
}

QString senderShownName(const ChatHistory& history, const HistoryMessage& message)
{
    // A history built without indexPeople knows no one's name: each message names its sender.
    if (message.senderId.isEmpty() || !history.personNames.contains(message.senderId))
        return senderOwnName(message);
    return personName(history, message.senderId);
}

bool isPlainTextMessage(const HistoryMessage& message)
{
    return message.kind == MessageKind::Text && message.markup.isNull() && !message.file;
}

namespace {

// The text of a message that is not plain: parts gives the parts, decoded only when asked.
template <typename Parts>
QString partsShownText(const HistoryMessage& message, const ChatHistory* history, Parts&& parts)
{
    if (!message.file) {
        // Calls, quotes, edits, deletions and events as their parts read: never a blank row.
        PersonName name;
        if (history)
            name = [history](const QString& id) { return personName(*history, id); };
        return messagePlainText(message, parts(), name);
    }
    // Without format characters: a right-to-left override would show "…exe" as "…exe.pdf".
    const QString name = withoutFormatCharacters(
        message.file->fileName.isEmpty() ? message.body : message.file->fileName);
    if (message.file->size < 0)
        return name;
    return QStringLiteral("%1 (%2)").arg(name, QLocale().formattedDataSize(message.file->size));
}

} // namespace

QString messageShownText(const HistoryMessage& message, const ChatHistory* history)
{
    if (isPlainTextMessage(message))
        return message.body;
    return partsShownText(message, history, [&] { return decodeMessageParts(message); });
}

QString messageShownText(const HistoryMessage& message, const std::vector<MessagePart>& parts,
                         const ChatHistory* history)
{
    if (isPlainTextMessage(message))
        return message.body;
    return partsShownText(message, history,
                          [&]() -> const std::vector<MessagePart>& { return parts; });
}

QString messageCopyLine(const ChatHistory& history, const HistoryMessage& message)
{
    return localDateTimeText(message.timestampMs) + QStringLiteral(", ")
           + senderShownName(history, message) + QStringLiteral(": ")
           + messageShownText(message, &history);
}

} // namespace velmoran
