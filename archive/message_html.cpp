#include "archive/message_html.h"

#include "archive/html_text.h"
#include "archive/local_times.h"
#include "archive/media_files.h"
#include "chat/message_text.h"
#include "chat/person_names.h"
#include "chat/shared_file_archive.h"
#include "core/local_time.h"

#include <QDateTime>
#include <QLocale>

#include <cstdio>

namespace velmoran {

namespace {

// A text longer than this is cut on its page; conversation.txt holds it whole. At most six
// bytes a character once escaped, so a message stays well within a page.
constexpr qsizetype LongestShownText = 100'000;

bool isQuietPart(const MessagePart& part)
{
    return std::holds_alternative<CallPart>(part) || std::holds_alternative<MembersPart>(part)
           || std::holds_alternative<TopicPart>(part) || std::holds_alternative<DeletedPart>(part)
           || std::holds_alternative<EditedPart>(part);
}

bool isLinkScheme(const QUrl& url)
{
    const QString scheme = url.scheme();
    return scheme == u"http" || scheme == u"https" || scheme == u"mailto";
}

} // namespace

MessageHtml::MessageHtml(const ChatHistory& history, MediaFiles& media, LocalTimes& times)
    : m_history(history)
    , m_media(media)
    , m_times(times)
{
}

void MessageHtml::appendTime(QString& out, qint64 utcMs)
{
    out += QLatin1StringView("<time title=\"");
    m_times.appendExact(out, utcMs);
    out += QLatin1StringView("\">");
    out += m_times.minute(utcMs).shortTime;
    out += QLatin1StringView("</time>");
}

void MessageHtml::appendHeader(QString& out, const HistoryMessage& message)
{
    const SenderKey key{message.senderId.constData(), message.senderId.size(),
                        message.senderDisplayName.constData(), message.senderDisplayName.size()};
    auto sender = m_senders.find(key);
    if (sender == m_senders.end()) {
        QString markup = QStringLiteral("<b dir=\"auto\">");
        appendHtmlText(markup, senderShownName(m_history, message));
        markup += QLatin1StringView("</b>");
        if (isOwnUser(m_history, message.senderId))
            markup += QLatin1StringView(" <span class=\"you\">(you)</span>");
        sender = m_senders.emplace(key, std::move(markup)).first;
    }
    out += QLatin1StringView("<p class=\"h\">");
    out += sender->second;
    out += u' ';
    appendTime(out, message.timestampMs);
    out += QLatin1StringView("</p>");
}

void MessageHtml::appendLinkedText(QString& out, const QString& text,
                                   const std::vector<TextLink>& links)
{
    const QStringView shown = QStringView(text).left(LongestShownText);
    out += QLatin1StringView("<p dir=\"auto\">");
    qsizetype at = 0;
    for (const TextLink& link : links) {
        if (link.start < at || link.start + link.length > shown.size() || !isLinkScheme(link.url))
            continue;
        appendHtmlText(out, shown.sliced(at, link.start - at));
        out += QLatin1StringView("<a href=\"");
        appendHtmlText(out, link.url.toString(QUrl::FullyEncoded));
        out += QLatin1StringView("\" rel=\"noreferrer\">");
        appendHtmlText(out, shown.sliced(link.start, link.length));
        out += QLatin1StringView("</a>");
        at = link.start + link.length;
    }
    appendHtmlText(out, shown.sliced(at));
    if (shown.size() < text.size())
        out += QStringView(
            u"<span class=\"cut\">\u2026 (the whole text is in conversation.txt)</span>");
    out += QLatin1StringView("</p>");
}

QString MessageHtml::personNameOf(const HistoryMessage& message, const QString& id,
                                  const QString& told)
{
    return partPersonName(message, id, told,
                          [this](const QString& person) { return personName(m_history, person); });
}

void MessageHtml::appendQuote(QString& out, const HistoryMessage& message, const QuotePart& quote,
                              const QuoteTarget& quoteTarget)
{
    out += QLatin1StringView("<blockquote><p class=\"qh\"><b dir=\"auto\">");
    appendHtmlText(out, personNameOf(message, quote.authorId, quote.authorName));
    out += QLatin1StringView("</b>");
    if (quote.timeMs >= 0) {
        const QDateTime local = localWallClock(quote.timeMs);
        const QString when = local.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        const QString target = quoteTarget ? quoteTarget(quote) : QString();
        out += QLatin1StringView(", ");
        if (target.isEmpty()) {
            out += when;
        } else {
            out += QLatin1StringView("<a href=\"");
            appendHtmlText(out, target);
            out += QLatin1StringView("\">");
            out += when;
            out += QLatin1StringView("</a>");
        }
    }
    out += QLatin1StringView("</p>");
    appendLinkedText(out, quote.text, quote.links);
    out += QLatin1StringView("</blockquote>");
}

void MessageHtml::appendFile(QString& out, const FilePart& file)
{
    const QString name = file.fileName.isEmpty() ? (file.picture ? QStringLiteral("Picture")
                                                                 : QStringLiteral("Shared file"))
                                                 : withoutFormatCharacters(file.fileName);
    QString label;
    appendHtmlText(label, name);
    if (file.size >= 0)
        label += QStringLiteral(" (%1)").arg(QLocale().formattedDataSize(file.size));
    const MediaFiles::Entry& entry = m_media.place({file.objectId, file.fileName, file.size});
    if (entry.state != MediaFiles::State::Copied) {
        out += QLatin1StringView("<p class=\"file gone\"><span dir=\"auto\">");
        out += label;
        out += entry.state == MediaFiles::State::Missing
                   ? QStringView(u"</span> \u2014 not in the export</p>")
                   : QStringView(u"</span> \u2014 not included in this archive</p>");
        return;
    }
    // The path is the program's own ("media/f000001.jpg"), one folder up from the page.
    if (entry.picture) {
        out += QLatin1StringView("<figure><a href=\"../");
        out += entry.path;
        out += QLatin1StringView("\"><img src=\"../");
        out += entry.path;
        out += QLatin1StringView("\" alt=\"");
        appendHtmlText(out, name);
        out += QLatin1StringView("\" loading=\"lazy\"></a><figcaption dir=\"auto\">");
        out += label;
        out += QLatin1StringView("</figcaption></figure>");
        return;
    }
    out += QLatin1StringView("<p class=\"file\"><a href=\"../");
    out += entry.path;
    out += QLatin1StringView("\" dir=\"auto\">");
    out += label;
    out += QLatin1StringView("</a></p>");
}

void MessageHtml::append(QString& out, const HistoryMessage& message, qint32 index,
                         const std::vector<MessagePart>& parts, const QuoteTarget& quoteTarget)
{
    // The anchor's digits, written without a text of their own.
    char digits[12];
    const int length = std::snprintf(digits, sizeof digits, "%d", int(index));
    const QLatin1StringView anchor(digits, length);
    if (!parts.empty() && std::all_of(parts.begin(), parts.end(), isQuietPart)) {
        // Calls, member and topic events, deletions: one quiet line with the time.
        const PersonName name = [this](const QString& id) { return personName(m_history, id); };
        out += QLatin1StringView("<p class=\"ev\" id=\"m");
        out += anchor;
        out += QLatin1StringView("\">");
        appendTime(out, message.timestampMs);
        out += QLatin1StringView(" <span dir=\"auto\">");
        appendHtmlText(out, messagePlainText(message, parts, name));
        out += QLatin1StringView("</span></p>\n");
        return;
    }
    out += isOwnUser(m_history, message.senderId)
               ? QLatin1StringView("<article class=\"own\" id=\"m")
               : QLatin1StringView("<article id=\"m");
    out += anchor;
    out += QLatin1StringView("\">");
    appendHeader(out, message);
    for (const MessagePart& part : parts) {
        if (const auto* text = std::get_if<TextPart>(&part)) {
            appendLinkedText(out, text->text, text->links);
        } else if (const auto* quote = std::get_if<QuotePart>(&part)) {
            appendQuote(out, message, *quote, quoteTarget);
        } else if (const auto* file = std::get_if<FilePart>(&part)) {
            appendFile(out, *file);
        } else if (const auto* edited = std::get_if<EditedPart>(&part)) {
            out += QLatin1StringView("<p class=\"edited\"");
            if (edited->timeMs >= 0) {
                out += QLatin1StringView(" title=\"edited ");
                m_times.appendExact(out, edited->timeMs);
                out += u'"';
            }
            out += QLatin1StringView(">edited</p>");
        } else {
            out += QLatin1StringView("<p class=\"ev\" dir=\"auto\">");
            const PersonName name = [this](const QString& id) { return personName(m_history, id); };
            appendHtmlText(out, messagePlainText(message, {part}, name));
            out += QLatin1StringView("</p>");
        }
    }
    out += QLatin1StringView("</article>\n");
}

} // namespace velmoran
