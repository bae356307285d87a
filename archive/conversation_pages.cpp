#include "archive/conversation_pages.h"

#include "archive/archive_writer.h"
#include "archive/html_text.h"
#include "archive/local_times.h"
#include "archive/media_files.h"
#include "archive/message_html.h"
#include "archive/search_index.h"
#include "archive/stats_page.h"
#include "archive/svg_charts.h"
#include "chat/message_parts.h"
#include "chat/message_text.h"
#include "chat/person_names.h"

#include <QLocale>

#include <algorithm>
#include <memory>

namespace velmoran {

namespace {

// Room kept on a page for its end: the day heading before a message, the navigation after.
constexpr qint64 PageEndBytes = 4096;
// A page's messages go in batches of this many, each laid out only near the view (the style
// sheet's content-visibility), so a long page shows its first screen as fast as a short one.
constexpr qsizetype MessagesPerBatch = 50;

QString senderKey(const QString& id)
{
    return id.startsWith(QLatin1String("8:")) ? id.mid(2) : id;
}

// "2024-11.html", then "2024-11-2.html" for the second part of the month.
QString pageFileName(int year, int month, int part)
{
    QString file = QStringLiteral("%1-%2")
                       .arg(year, 4, 10, QLatin1Char('0'))
                       .arg(month, 2, 10, QLatin1Char('0'));
    if (part > 1)
        file += QStringLiteral("-%1").arg(part);
    return file + QStringLiteral(".html");
}

QString monthName(int year, int month)
{
    return QLocale().toString(QDate(year, month, 1), QStringLiteral("MMMM yyyy"));
}

} // namespace

ConversationPages::ConversationPages(const ChatHistory& history, size_t chat,
                                     std::vector<qint32> order, const QString& folder,
                                     MediaFiles& media, LocalTimes& times,
                                     std::function<void()> tick, ArchiveStats* stats)
    : m_history(history)
    , m_chat(chat)
    , m_chatData(history.chats[chat])
    , m_order(std::move(order))
    , m_folder(folder)
    , m_name(chatShownName(history, chat))
    , m_media(media)
    , m_times(times)
    , m_tick(std::move(tick))
    , m_stats(stats)
{
}

void ConversationPages::write()
{
    writeMessages();
    writeIndex();
}

QString ConversationPages::quoteTarget(qsizetype position, const QString& authorId,
                                       qint64 timeMs) const
{
    // A message of this conversation already written, of that second and author.
    const qint64 second = timeMs / 1000 - (timeMs % 1000 < 0 ? 1 : 0);
    const auto& messages = m_chatData.messages;
    const auto end = m_order.begin() + position;
    auto at = std::lower_bound(m_order.begin(), end, second * 1000, [&](qint32 m, qint64 ms) {
        return messages[size_t(m)].timestampMs < ms;
    });
    const QString author = senderKey(authorId);
    for (; at != end && messages[size_t(*at)].timestampMs < (second + 1) * 1000; ++at) {
        if (author.isEmpty() || senderKey(messages[size_t(*at)].senderId) == author) {
            const qsizetype found = at - m_order.begin();
            const auto page = std::upper_bound(
                m_pages.begin(), m_pages.end(), found,
                [](qsizetype p, const Page& candidate) { return p < candidate.firstPosition; });
            return (page - 1)->file + QStringLiteral("#m") + QString::number(*at);
        }
    }
    return {};
}

void ConversationPages::appendNavigation(QString& out, const QString& next)
{
    out += QLatin1StringView("<nav><a href=\"../index.html\">All conversations</a> &middot; "
                             "<a href=\"index.html\">");
    appendHtmlText(out, m_name);
    out += QLatin1StringView("</a>");
    if (m_pages.size() > 1) {
        out += QLatin1StringView(" &middot; <a href=\"");
        out += m_pages[m_pages.size() - 2].file;
        out += QLatin1StringView("\" rel=\"prev\">Previous</a>");
    }
    if (!next.isEmpty()) {
        out += QLatin1StringView(" &middot; <a href=\"");
        out += next;
        out += QLatin1StringView("\" rel=\"next\">Next</a>");
    }
    out += QLatin1StringView("</nav>\n");
}

ConversationPages::~ConversationPages() = default;

void ConversationPages::openPage(int year, int month, int part, qsizetype position)
{
    const QString file = pageFileName(year, month, part);
    m_pages.push_back({file, year, month, part, position});
    m_page = std::make_unique<Utf8File>(m_folder + QLatin1Char('/') + file);
    m_out.truncate(0);
    const QString subtitle =
        monthName(year, month) + (part > 1 ? QStringLiteral(", part %1").arg(part) : QString());
    appendPageHead(m_out, m_name + QStringLiteral(" \u2014 ") + subtitle, QLatin1StringView("../"));
    appendNavigation(m_out, {});
    m_out += QLatin1StringView("<h1 dir=\"auto\">");
    appendHtmlText(m_out, m_name);
    m_out += QLatin1StringView("</h1>\n<p class=\"sub\">");
    appendHtmlText(m_out, subtitle);
    m_out += QLatin1StringView("</p>\n<main>\n");
    m_page->append(m_out);
    m_out.truncate(0);
}

void ConversationPages::closePage(const QString& next)
{
    if (m_pages.back().messages > 0)
        m_out += QLatin1StringView("</div>\n");
    m_out += QLatin1StringView("</main>\n");
    appendNavigation(m_out, next);
    appendPageEnd(m_out);
    m_page->append(m_out);
    m_out.truncate(0);
    m_page->finish();
    m_page.reset();
}

void ConversationPages::writeMessages()
{
    Utf8File text(m_folder + QStringLiteral("/conversation.txt"));
    MessageHtml html(m_history, m_media, m_times);
    QString line;
    QString messageMarkup;
    QString dayHeading;
    QDate pageDay;
    const QLocale locale;
    // The sender's shown name for conversation.txt; runs of one sender look it up once.
    const QString* senderId = nullptr;
    const QString* senderDisplayName = nullptr;
    QString senderName;
    for (qsizetype position = 0; position < qsizetype(m_order.size()); ++position) {
        const qint32 index = m_order[size_t(position)];
        const HistoryMessage& message = m_chatData.messages[size_t(index)];
        const std::vector<MessagePart> parts = decodeMessageParts(message);

        if (!senderId || message.senderId.constData() != senderId->constData()
            || message.senderId.size() != senderId->size()
            || message.senderDisplayName.constData() != senderDisplayName->constData()
            || message.senderDisplayName.size() != senderDisplayName->size()) {
            senderId = &message.senderId;
            senderDisplayName = &message.senderDisplayName;
            senderName = senderShownName(m_history, message);
        }
        line.truncate(0);
        line += m_times.copyText(message.timestampMs);
        line += QLatin1StringView(", ");
        line += senderName;
        line += QLatin1StringView(": ");
        const qsizetype shownAt = line.size();
        line += messageShownText(message, parts, &m_history);
        line += u'\n';
        text.append(line);

        messageMarkup.truncate(0);
        html.append(messageMarkup, message, index, parts, [&](const QuotePart& quote) {
            return quoteTarget(position, quote.authorId, quote.timeMs);
        });
        const QDate day = m_times.minute(message.timestampMs).date;
        const qint64 bytes = utf8Size(messageMarkup);
        const bool newMonth = m_pages.empty() || day.year() != m_pages.back().year
                              || day.month() != m_pages.back().month;
        if (newMonth || m_pages.back().messages >= MessagesPerPage
            || m_page->size() + bytes + PageEndBytes > BytesPerPage) {
            const int part = newMonth ? 1 : m_pages.back().part + 1;
            if (m_page)
                closePage(pageFileName(day.year(), day.month(), part));
            openPage(day.year(), day.month(), part, position);
            pageDay = {};
        }
        if (const qsizetype written = m_pages.back().messages; written % MessagesPerBatch == 0)
            m_page->append(written > 0 ? QLatin1StringView("</div>\n<div class=\"batch\">\n")
                                       : QLatin1StringView("<div class=\"batch\">\n"));
        if (day != pageDay) {
            pageDay = day;
            dayHeading = QStringLiteral("<h2>");
            appendHtmlText(dayHeading, locale.toString(day, QLocale::LongFormat));
            dayHeading += QLatin1StringView("</h2>\n");
            m_page->append(dayHeading);
        }
        m_page->append(messageMarkup);
        ++m_pages.back().messages;
        if (m_searchIndex)
            m_searchIndex->add(index, m_pages.back().file, message.timestampMs, senderName,
                               QStringView(line).sliced(shownAt, line.size() - shownAt - 1));
        if (m_stats)
            m_stats->add(message, m_times.minute(message.timestampMs));
        m_tick();
    }
    if (m_page)
        closePage({});
    text.finish();
}

QString memberNamesText(const ChatHistory& history, size_t chat)
{
    constexpr qsizetype Shown = 12;
    const HistoryChat& data = history.chats[chat];
    QStringList ids = data.members;
    if (ids.isEmpty() && !data.peerHandle.isEmpty())
        ids << data.peerHandle;
    QStringList names;
    for (qsizetype i = 0; i < std::min(ids.size(), Shown); ++i) {
        const QString name = personName(history, ids[i]);
        names << (isOwnUser(history, ids[i]) ? name + QStringLiteral(" (you)") : name);
    }
    if (ids.size() > Shown)
        names << QStringLiteral("and %1 more").arg(ids.size() - Shown);
    return names.join(QStringLiteral(", "));
}

void ConversationPages::writeIndex()
{
    Utf8File file(m_folder + QStringLiteral("/index.html"));
    const QLocale locale;
    QString& out = m_out;
    out.clear();
    appendPageHead(out, m_name, QLatin1StringView("../"));
    out += QLatin1StringView("<nav><a href=\"../index.html\">All conversations</a></nav>\n"
                             "<h1 dir=\"auto\">");
    appendHtmlText(out, m_name);
    out += QLatin1StringView("</h1>\n<p class=\"sub\">");
    appendHtmlText(out, conversationKindText(m_chatData.kind));
    if (const QString members = memberNamesText(m_history, m_chat); !members.isEmpty()) {
        out += QLatin1StringView(" &middot; <span dir=\"auto\">");
        appendHtmlText(out, members);
        out += QLatin1StringView("</span>");
    }
    out += QLatin1StringView("</p>\n<p>");
    out += m_order.size() == 1
               ? QStringLiteral("1 message")
               : QStringLiteral("%1 messages").arg(locale.toString(qint64(m_order.size())));
    if (!m_order.empty()) {
        const QDate first =
            m_times.minute(m_chatData.messages[size_t(m_order.front())].timestampMs).date;
        const QDate last =
            m_times.minute(m_chatData.messages[size_t(m_order.back())].timestampMs).date;
        out += QLatin1StringView(", ");
        appendHtmlText(out, locale.toString(first, QLocale::ShortFormat));
        out += QLatin1StringView(" &ndash; ");
        appendHtmlText(out, locale.toString(last, QLocale::ShortFormat));
    }
    out += QLatin1StringView(" &middot; <a href=\"conversation.txt\">as plain text</a></p>\n");
    // Messages per month over the conversation's span, above the list of its months.
    std::vector<MonthCount> months;
    for (const Page& page : m_pages) {
        const int month = monthNumber(page.year, page.month);
        if (months.empty() || months.back().month != month)
            months.push_back({month, 0});
        months.back().messages += page.messages;
    }
    if (!months.empty())
        appendMonthChart(out, months, months.front().month, months.back().month, 150,
                         QStringLiteral("%1: messages per month").arg(m_name));
    if (!m_pages.empty())
        out += QLatin1StringView(
            "<table class=\"months\"><thead><tr><th>Month</th><th>Messages</th><th>Pages</th>"
            "</tr></thead><tbody>\n");
    for (size_t i = 0; i < m_pages.size();) {
        size_t end = i;
        qsizetype messages = 0;
        for (; end < m_pages.size() && m_pages[end].year == m_pages[i].year
               && m_pages[end].month == m_pages[i].month;
             ++end)
            messages += m_pages[end].messages;
        out += QLatin1StringView("<tr><td><a href=\"");
        out += m_pages[i].file;
        out += QLatin1StringView("\">");
        appendHtmlText(out, monthName(m_pages[i].year, m_pages[i].month));
        out += QLatin1StringView("</a></td><td>");
        out += locale.toString(qint64(messages));
        out += QLatin1StringView("</td><td>");
        for (size_t p = i; p < end && end - i > 1; ++p) {
            out += QLatin1StringView("<a href=\"");
            out += m_pages[p].file;
            out += QLatin1StringView("\">");
            out += QString::number(m_pages[p].part);
            out += QLatin1StringView("</a> ");
        }
        out += QLatin1StringView("</td></tr>\n");
        i = end;
    }
    if (!m_pages.empty())
        out += QLatin1StringView("</tbody></table>\n");
    appendPageEnd(out);
    file.append(out);
    out.clear();
    file.finish();
}

} // namespace velmoran
