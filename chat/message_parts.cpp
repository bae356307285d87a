#include "chat/message_parts.h"

#include "chat/body_markup.h"
#include "chat/message_mapping.h"
#include "core/local_time.h"

#include <QDateTime>
#include <QLocale>
#include <QXmlStreamEntityResolver>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <optional>

namespace velmoran {

namespace {

// Markup longer than this (in UTF-16 units) is not read: its message shows its body.
constexpr qsizetype LongestMarkup = qsizetype(1) << 20;
constexpr qsizetype LongestLink = 2048;
constexpr int MostLinkCandidates = 256;
// A hundred years: longer calls are no durations.
constexpr double LongestCallSeconds = 100.0 * 366 * 86400;
// Quote times: seconds up to the end of the year 9999, or milliseconds below that bound.
constexpr qint64 LastSecond = 253402300799;
constexpr qint64 EndOfPossibleMs = 253402300800000;

// The HTML entities bodies carry besides XML's own five.
class BodyEntities : public QXmlStreamEntityResolver {
public:
    QString resolveUndeclaredEntity(const QString& name) override
    {
        const QByteArray latin = name.toLatin1();
        const char32_t cp =
            namedEntityCodePoint(std::string_view(latin.constData(), size_t(latin.size())));
        return cp ? QString::fromUcs4(&cp, 1) : QString();
    }
};

// Walks markup as the content of one element: onStart(name, attributes), onEnd(name),
// onText(text) for everything inside. Answers false when the markup is not well-formed XML
// (what was walked before the flaw has been walked).
template <typename Start, typename End, typename Text>
bool walkMarkup(const QString& markup, Start onStart, End onEnd, Text onText)
{
    if (markup.size() > LongestMarkup)
        return false;
    BodyEntities entities;
    // One reader for all walks (they never nest): making a reader allocates much, and an
    // archive walks the markup of millions of messages.
    static QXmlStreamReader xml;
    xml.clear();
    xml.addData(QStringLiteral("<m>") + markup + QStringLiteral("</m>"));
    xml.setNamespaceProcessing(false);
    xml.setEntityResolver(&entities);
    qsizetype depth = 0;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            if (depth++ > 0)
                onStart(xml.name(), xml.attributes());
            break;
        case QXmlStreamReader::EndElement:
            if (--depth > 0)
                onEnd(xml.name());
            break;
        case QXmlStreamReader::Characters:
            onText(xml.text());
            break;
        case QXmlStreamReader::DTD:
            // The reader takes a document type even inside an element; its entities are no
            // part of a message.
            return false;
        default:
            break;
        }
    }
    return !xml.hasError();
}

// An id as messages name their sender: ordinary accounts without their "8:".
QString personId(QStringView id)
{
    id = id.trimmed();
    if (id.startsWith(u"8:"))
        id = id.mid(2);
    return id.toString();
}

qint64 quoteTimeMs(QStringView text)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    if (!ok || value < 0)
        return -1;
    if (value <= LastSecond)
        return value * 1000;
    return value < EndOfPossibleMs ? value : -1;
}

// The edit time an <e_m> marker tells: ts_ms, else ts in seconds; -1 when neither.
qint64 editTimeMs(const QXmlStreamAttributes& attributes)
{
    bool ok = false;
    const qint64 ms = attributes.value(QLatin1String("ts_ms")).trimmed().toLongLong(&ok);
    if (ok && ms >= 0 && ms < EndOfPossibleMs)
        return ms;
    const qint64 seconds = attributes.value(QLatin1String("ts")).trimmed().toLongLong(&ok);
    if (ok && seconds >= 0 && seconds <= LastSecond)
        return seconds * 1000;
    return -1;
}

// The parts of written text: its quotes and reply when the markup holds them, else the body;
// the edit mark when the markup holds one.
void decodeText(const HistoryMessage& message, std::vector<MessagePart>& parts,
                std::optional<EditedPart>& edited)
{
    std::vector<QuotePart> quotes;
    QString reply;
    bool quoted = false;
    int quoteDepth = 0;
    int skipDepth = 0; // inside the plain-text copy of a quote or an edit marker
    const bool wellFormed =
        !message.markup.isEmpty()
        && walkMarkup(
            message.markup,
            [&](QStringView name, const QXmlStreamAttributes& attributes) {
                if (skipDepth > 0) {
                    ++skipDepth;
                } else if (name == u"e_m") {
                    ++skipDepth;
                    if (!edited || edited->timeMs < 0)
                        edited = EditedPart{editTimeMs(attributes)};
                } else if (name == u"legacyquote") {
                    ++skipDepth;
                } else if (name == u"quote" && quoteDepth++ == 0) {
                    quoted = true;
                    QuotePart quote;
                    quote.authorId = personId(attributes.value(QLatin1String("author")));
                    quote.authorName = attributes.value(QLatin1String("authorname")).toString();
                    quote.timeMs = quoteTimeMs(attributes.value(QLatin1String("timestamp")));
                    quotes.push_back(std::move(quote));
                }
            },
            [&](QStringView name) {
                if (skipDepth > 0)
                    --skipDepth;
                else if (name == u"quote" && quoteDepth > 0)
                    --quoteDepth;
            },
            [&](QStringView text) {
                if (skipDepth > 0)
                    return;
                if (quoteDepth > 0)
                    quotes.back().text += text;
                else
                    reply += text;
            });
    if (!wellFormed && !edited && message.markup.contains(u"<e_m"))
        edited = EditedPart{};
    if (wellFormed && quoted) {
        for (QuotePart& quote : quotes) {
            quote.text = quote.text.trimmed();
            quote.links = findLinks(quote.text);
            parts.emplace_back(std::move(quote));
        }
        reply = reply.trimmed();
    } else {
        reply = message.body;
    }
    if (!reply.isEmpty()) {
        std::vector<TextLink> links = findLinks(reply);
        parts.emplace_back(TextPart{std::move(reply), std::move(links)});
    }
}

std::optional<EditedPart> editMarkOf(const QString& markup)
{
    std::optional<EditedPart> edited;
    if (!markup.contains(u"<e_m"))
        return edited;
    walkMarkup(
        markup,
        [&](QStringView name, const QXmlStreamAttributes& attributes) {
            if (name == u"e_m" && (!edited || edited->timeMs < 0))
                edited = EditedPart{editTimeMs(attributes)};
        },
        [](QStringView) {}, [](QStringView) {});
    return edited ? edited : EditedPart{};
}

CallPart decodeCall(const QString& markup)
{
    CallPart call;
    bool sawList = false;
    int inDuration = 0;
    QString duration;
    auto takeDuration = [&] {
        bool ok = false;
        const double seconds = duration.trimmed().toDouble(&ok);
        if (ok && std::isfinite(seconds) && seconds >= 0 && seconds < LongestCallSeconds)
            call.durationSeconds = std::max(call.durationSeconds, qint64(std::llround(seconds)));
        duration.clear();
    };
    walkMarkup(
        markup,
        [&](QStringView name, const QXmlStreamAttributes& attributes) {
            if (name == u"partlist" && !sawList) {
                sawList = true;
                const QStringView type = attributes.value(QLatin1String("type"));
                call.state = type == u"started"  ? CallState::Started
                             : type == u"ended"  ? CallState::Ended
                             : type == u"missed" ? CallState::Missed
                                                 : CallState::Unknown;
            } else if (name == u"duration") {
                ++inDuration;
            }
        },
        [&](QStringView name) {
            if (name == u"duration" && inDuration > 0 && --inDuration == 0)
                takeDuration();
        },
        [&](QStringView text) {
            if (inDuration > 0 && duration.size() < 64)
                duration += text;
        });
    return call;
}

// The text of the first element of each name asked for; the others' text is ignored.
struct EventFields {
    QString initiator;
    QStringList targets;
    QString value;
};

EventFields decodeEvent(const QString& markup)
{
    EventFields fields;
    enum class In { Nothing, Initiator, Target, Value } in = In::Nothing;
    int depth = 0; // inside the field being read
    QString text;
    walkMarkup(
        markup,
        [&](QStringView name, const QXmlStreamAttributes&) {
            if (in != In::Nothing) {
                ++depth;
                return;
            }
            if (name == u"initiator")
                in = In::Initiator;
            else if (name == u"target")
                in = In::Target;
            else if (name == u"value")
                in = In::Value;
            else
                return;
            depth = 1;
            text.clear();
        },
        [&](QStringView) {
            if (in == In::Nothing || --depth > 0)
                return;
            if (in == In::Initiator && fields.initiator.isEmpty())
                fields.initiator = personId(text);
            else if (in == In::Target && !text.trimmed().isEmpty())
                fields.targets << personId(text);
            else if (in == In::Value)
                fields.value = text.trimmed();
            in = In::Nothing;
        },
        [&](QStringView piece) {
            if (in != In::Nothing)
                text += piece;
        });
    return fields;
}

// The files a database message names: its URIObject, or each <file> of its <files>.
void decodeFiles(const QString& markup, bool picture, std::vector<MessagePart>& parts)
{
    if (markup.contains(u"<URIObject")) {
        QXmlStreamReader xml;
        const QByteArray utf8 = markup.left(LongestMarkup).toUtf8();
        if (const auto file =
                sharedFileOf(std::string_view(utf8.constData(), size_t(utf8.size())), xml)) {
            parts.emplace_back(FilePart{file->fileName, file->size, file->objectId, picture});
            return;
        }
    }
    FilePart file;
    bool inFile = false;
    walkMarkup(
        markup,
        [&](QStringView name, const QXmlStreamAttributes& attributes) {
            if (name != u"file" || inFile)
                return;
            inFile = true;
            file = FilePart{};
            file.picture = picture;
            bool ok = false;
            const qint64 size = attributes.value(QLatin1String("size")).trimmed().toLongLong(&ok);
            if (ok && size >= 0)
                file.size = size;
        },
        [&](QStringView name) {
            if (name != u"file" || !inFile)
                return;
            inFile = false;
            file.fileName = file.fileName.trimmed();
            parts.emplace_back(std::move(file));
        },
        [&](QStringView text) {
            if (inFile)
                file.fileName += text;
        });
}

} // namespace

std::vector<TextLink> findLinks(QStringView text)
{
    std::vector<TextLink> links;
    int candidates = 0;
    qsizetype from = 0;
    auto isAsciiLetter = [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    };
    auto endsLink = [](QChar c) {
        return c.isSpace() || c.unicode() < 0x20 || c.unicode() == 0x7f || c == u'<' || c == u'>'
               || c == u'"';
    };
    while (candidates < MostLinkCandidates) {
        const qsizetype colon = text.indexOf(u':', from);
        if (colon < 0)
            break;
        from = colon + 1;
        qsizetype start = colon;
        while (start > 0 && colon - start < 7 && isAsciiLetter(text[start - 1]))
            --start;
        if (start > 0 && text[start - 1].isLetterOrNumber())
            continue;
        const QStringView scheme = text.sliced(start, colon - start);
        const bool web = scheme.compare(u"http", Qt::CaseInsensitive) == 0
                         || scheme.compare(u"https", Qt::CaseInsensitive) == 0;
        const bool mail = scheme.compare(u"mailto", Qt::CaseInsensitive) == 0;
        if (!web && !mail)
            continue;
        ++candidates;
        qsizetype end = colon + 1;
        while (end < text.size() && end - start <= LongestLink && !endsLink(text[end]))
            ++end;
        if (end - start > LongestLink)
            continue;
        // Sentence punctuation after a link is no part of it, nor an unmatched ')'.
        while (end > colon + 1 && QStringView(u".,;:!?'").contains(text[end - 1]))
            --end;
        const QStringView candidate = text.sliced(start, end - start);
        if (candidate.endsWith(u')') && candidate.count(u'(') < candidate.count(u')'))
            --end;
        const QString written = text.sliced(start, end - start).toString();
        const QUrl url(written, QUrl::StrictMode);
        const QStringView rest = text.sliced(colon + 1, end - colon - 1);
        const bool linked = url.isValid()
                            && (web ? rest.startsWith(u"//") && !url.host().isEmpty()
                                    : !rest.startsWith(u"/") && url.path().contains(u'@'));
        if (!linked)
            continue;
        links.push_back(TextLink{start, end - start, url});
        from = end;
    }
    return links;
}

std::vector<MessagePart> decodeMessageParts(const HistoryMessage& message)
{
    std::vector<MessagePart> parts;
    std::optional<EditedPart> edited;
    switch (message.kind) {
    case MessageKind::Deleted:
        parts.emplace_back(DeletedPart{});
        return parts;
    case MessageKind::Call:
        parts.emplace_back(decodeCall(message.markup));
        return parts;
    case MessageKind::MembersAdded:
    case MessageKind::MembersRemoved: {
        EventFields fields = decodeEvent(message.markup);
        parts.emplace_back(MembersPart{
            message.kind == MessageKind::MembersAdded,
            fields.initiator.isEmpty() ? message.senderId : fields.initiator, fields.targets});
        return parts;
    }
    case MessageKind::TopicChanged: {
        EventFields fields = decodeEvent(message.markup);
        parts.emplace_back(TopicPart{
            fields.initiator.isEmpty() ? message.senderId : fields.initiator, fields.value});
        return parts;
    }
    case MessageKind::File:
    case MessageKind::Picture: {
        const bool picture = message.kind == MessageKind::Picture;
        if (message.file) {
            parts.emplace_back(FilePart{message.file->fileName, message.file->size,
                                        message.file->objectId, picture});
        } else {
            decodeFiles(message.markup, picture, parts);
            if (parts.empty())
                parts.emplace_back(FilePart{{}, -1, {}, picture});
        }
        // Only the edit mark: the text of a file message says where to view it online.
        edited = editMarkOf(message.markup);
        break;
    }
    case MessageKind::Text:
    case MessageKind::Other:
        decodeText(message, parts, edited);
        break;
    }
    if (edited)
        parts.emplace_back(*edited);
    return parts;
}

namespace {

QString joinedNames(const QStringList& names)
{
    if (names.size() <= 1)
        return names.value(0);
    return names.mid(0, names.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ")
           + names.last();
}

QString durationText(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    const qint64 minutes = (seconds + 30) / 60;
    if (minutes < 60)
        return QStringLiteral("%1 min").arg(minutes);
    return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}

QString callText(const CallPart& call)
{
    switch (call.state) {
    case CallState::Missed:
        return QStringLiteral("Missed call");
    case CallState::Started:
        return QStringLiteral("Call started");
    case CallState::Ended:
        return call.durationSeconds >= 0
                   ? QStringLiteral("Call, %1").arg(durationText(call.durationSeconds))
                   : QStringLiteral("Call ended");
    case CallState::Unknown:
        break;
    }
    return call.durationSeconds >= 0
               ? QStringLiteral("Call, %1").arg(durationText(call.durationSeconds))
               : QStringLiteral("Call");
}

QString fileText(const FilePart& file)
{
    QString text = file.picture ? QStringLiteral("Picture") : QStringLiteral("File");
    if (!file.fileName.isEmpty())
        text += QStringLiteral(": ") + file.fileName;
    if (file.size >= 0)
        text += QStringLiteral(" (%1)").arg(QLocale::c().formattedDataSize(file.size, 1));
    return text;
}

} // namespace

QString partPersonName(const HistoryMessage& message, const QString& id, const QString& told,
                       const PersonName& personName)
{
    if (personName && !id.isEmpty()) {
        const QString name = personName(id);
        if (!name.isEmpty())
            return name;
    }
    if (!told.isEmpty())
        return told;
    if (!id.isEmpty() && id == message.senderId && !message.senderDisplayName.isEmpty())
        return message.senderDisplayName;
    return id.isEmpty() ? QStringLiteral("Someone") : id;
}

QString messagePlainText(const HistoryMessage& message, const std::vector<MessagePart>& parts,
                         const PersonName& personName)
{
    auto nameOf = [&](const QString& id, const QString& told = {}) {
        return partPersonName(message, id, told, personName);
    };
    QStringList lines;
    for (const MessagePart& part : parts) {
        if (const auto* text = std::get_if<TextPart>(&part)) {
            lines << text->text;
        } else if (const auto* quote = std::get_if<QuotePart>(&part)) {
            QString head = QStringLiteral("> ") + nameOf(quote->authorId, quote->authorName);
            if (quote->timeMs >= 0)
                head +=
                    QStringLiteral(", ")
                    + localWallClock(quote->timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
            const QStringList quoted = quote->text.split(QLatin1Char('\n'));
            lines << head + QStringLiteral(": ") + quoted.first();
            for (qsizetype i = 1; i < quoted.size(); ++i)
                lines << QStringLiteral("> ") + quoted[i];
        } else if (const auto* file = std::get_if<FilePart>(&part)) {
            lines << fileText(*file);
        } else if (const auto* call = std::get_if<CallPart>(&part)) {
            lines << callText(*call);
        } else if (std::holds_alternative<DeletedPart>(part)) {
            lines << QStringLiteral("This message was deleted");
        } else if (const auto* members = std::get_if<MembersPart>(&part)) {
            const QString initiator = nameOf(members->initiatorId);
            if (!members->added && members->memberIds == QStringList{members->initiatorId}) {
                lines << QStringLiteral("%1 left").arg(initiator);
                continue;
            }
            QStringList names;
            for (const QString& id : members->memberIds)
                names << nameOf(id);
            const QString verb =
                members->added ? QStringLiteral("added") : QStringLiteral("removed");
            lines << QStringLiteral("%1 %2 %3")
                         .arg(initiator, verb,
                              names.isEmpty() ? QStringLiteral("members") : joinedNames(names));
        } else if (const auto* topic = std::get_if<TopicPart>(&part)) {
            const QString initiator = nameOf(topic->initiatorId);
            lines << (topic->topic.isEmpty() ? QStringLiteral("%1 removed the topic").arg(initiator)
                                             : QStringLiteral("%1 changed the topic to \"%2\"")
                                                   .arg(initiator, topic->topic));
        } else if (std::holds_alternative<EditedPart>(part)) {
            if (lines.isEmpty())
                lines << QStringLiteral("(edited)");
            else
                lines.last() += QStringLiteral(" (edited)");
        }
    }
    if (lines.isEmpty())
        return QStringLiteral("(no text)");
    return lines.join(QLatin1Char('\n'));
}

QString messagePlainText(const HistoryMessage& message, const PersonName& personName)
{
    return messagePlainText(message, decodeMessageParts(message), personName);
}

} // namespace velmoran
