#include "archive/archive_writer.h"

#include "archive/conversation_pages.h"
#include "archive/html_text.h"
#include "archive/local_times.h"
#include "archive/media_files.h"
#include "archive/search_index.h"
#include "archive/stats_page.h"
#include "chat/message_parts.h"
#include "chat/person_names.h"
#include "core/failure.h"

#include <QDir>
#include <QDirIterator>
#include <QLocale>

#include <algorithm>
#include <limits>
#include <tuple>

namespace velmoran {

namespace {

// Thrown from the progress tick when it asked to stop.
struct Stopped {};

// System fonts only, nothing fetched; light and dark by the reader's setting; a print style.
const char StyleSheet[] = R"(:root { color-scheme: light dark; --fg: #1b1b1b; --bg: #ffffff;
  --quiet: #666666; --line: #dddddd; --own: #eef5ff; --quote: #f4f4f4; --link: #0b57d0; }
@media (prefers-color-scheme: dark) {
  :root { --fg: #e6e6e6; --bg: #161616; --quiet: #a0a0a0; --line: #3a3a3a; --own: #1c2a3d;
    --quote: #232323; --link: #8ab4f8; } }
body { font-family: system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; color: var(--fg);
  background: var(--bg); max-width: 46rem; margin: 0 auto; padding: 1rem; line-height: 1.45; }
a { color: var(--link); }
nav { margin: 0.5rem 0; color: var(--quiet); }
h1 { font-size: 1.5rem; margin: 0.5rem 0 0; }
h2 { font-size: 0.95rem; color: var(--quiet); text-align: center; margin: 1.5rem 0 0.5rem; }
.sub, .ev, .edited, .gone, time, .you, .cut { color: var(--quiet); }
.batch { content-visibility: auto; contain-intrinsic-size: auto 3000px; }
article { padding: 0.35rem 0.6rem; margin: 0.3rem 0; border-radius: 0.4rem; }
article.own { background: var(--own); }
article p { margin: 0.15rem 0; white-space: pre-wrap; overflow-wrap: anywhere; }
article p.h { white-space: normal; }
.ev { font-size: 0.9rem; margin: 0.3rem 0.6rem; }
.edited { font-size: 0.8rem; }
blockquote { margin: 0.2rem 0; padding: 0.2rem 0.6rem; border-left: 3px solid var(--line);
  background: var(--quote); }
figure { margin: 0.3rem 0; }
img { max-width: 100%; height: auto; }
figcaption { font-size: 0.85rem; color: var(--quiet); }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; padding: 0.3rem 0.4rem; border-bottom: 1px solid var(--line);
  vertical-align: top; }
td.n { text-align: right; white-space: nowrap; }
.chart { display: block; width: 100%; height: auto; margin: 0.2rem 0 0.4rem; }
:root { --bar: #3b78c4; --bar-own: #2a9466; }
@media (prefers-color-scheme: dark) { :root { --bar: #79a8ea; --bar-own: #5cc495; } }
.chart text { font-size: 11px; fill: var(--quiet); }
.chart text.n { fill: var(--fg); }
.chart .m { text-anchor: middle; }
.chart .e { text-anchor: end; }
.chart rect { fill: var(--bar); }
.chart rect.own { fill: var(--bar-own); }
.chart rect:hover { stroke: var(--fg); }
.chart .bars path { stroke: var(--bar); }
.chart .bars path:hover { stroke: var(--fg); }
.chart rect.q0 { fill: var(--line); fill-opacity: 0.5; }
.chart rect.q1 { fill-opacity: 0.2; }
.chart rect.q2 { fill-opacity: 0.4; }
.chart rect.q3 { fill-opacity: 0.6; }
.chart rect.q4 { fill-opacity: 0.8; }
.chart .grid { stroke: var(--line); stroke-dasharray: 3 3; fill: none; }
.chart .axis { stroke: var(--quiet); fill: none; }
.stats h2 { text-align: left; color: var(--fg); font-size: 1.1rem; margin: 1.8rem 0 0.3rem; }
.chart-name { margin: 0.9rem 0 0; }
@media print { :root { --bar: #555555; --bar-own: #000000; } .chart { break-inside: avoid; } }
#search { display: flex; flex-wrap: wrap; gap: 0.4rem; margin: 0.8rem 0 0.2rem; }
#search[hidden] { display: none; }
#search input { flex: 1 1 14rem; font: inherit; padding: 0.35rem 0.5rem; color: var(--fg);
  background: var(--bg); border: 1px solid var(--quiet); border-radius: 0.3rem; }
#search button, button.more { font: inherit; padding: 0.35rem 0.9rem; border-radius: 0.3rem;
  border: 1px solid var(--quiet); background: var(--quote); color: var(--fg); cursor: pointer; }
#search p { flex-basis: 100%; margin: 0; font-size: 0.85rem; }
.searching table { display: none; }
#results h3 { font-size: 1rem; margin: 1rem 0 0.2rem; }
ol.hits { list-style: none; margin: 0; padding: 0; }
ol.hits li { padding: 0.3rem 0.6rem; margin: 0.2rem 0; border-left: 3px solid var(--line); }
ol.hits p { margin: 0.1rem 0 0; overflow-wrap: anywhere; }
ol.hits a { text-decoration: none; }
ol.hits b { color: var(--fg); }
mark { background: #ffe27a; color: #1b1b1b; border-radius: 0.15rem; }
@media (prefers-color-scheme: dark) { mark { background: #6b5a12; color: var(--fg); } }
button.more { margin: 0.6rem 0; }
@media print {
  :root { --fg: #000000; --bg: #ffffff; --quiet: #444444; --own: #ffffff; --quote: #ffffff; }
  nav { display: none; }
  body { max-width: none; }
  article { break-inside: avoid; }
  .batch { content-visibility: visible; }
  a { color: inherit; text-decoration: none; }
}
)";

// The search of index.html (archive/search_index.h): a form to the page itself, shown by the
// script; without scripts a quiet line instead.
const char SearchBox[] = R"(<form id="search" action="index.html" method="get" role="search" hidden>
<input type="search" id="q" name="q" aria-label="Search every conversation"
 placeholder="Search every conversation"> <button>Search</button>
<p class="sub">Messages holding every word, matched at the start of words in any case;
Chinese, Japanese and Thai by characters.</p></form>
<noscript><p class="sub">Searching needs scripts, which are off here; every conversation is
listed below.</p></noscript>
<p id="search-status" class="sub" role="status"></p><section id="results"></section>
)";

// The chats to archive with their messages in time order, and what the index tells of each.
struct Conversation {
    size_t chat;
    QString folder; // "c0001"
    std::vector<qint32> order;
};

std::vector<qint32> messageOrder(const HistoryChat& chat, const ArchiveOptions& options)
{
    std::vector<qint32> order;
    for (size_t i = 0; i < chat.messages.size(); ++i) {
        const qint64 time = chat.messages[i].timestampMs;
        if ((!options.sinceMs || time >= *options.sinceMs)
            && (!options.untilMs || time < *options.untilMs))
            order.push_back(qint32(i));
    }
    std::stable_sort(order.begin(), order.end(), [&](qint32 a, qint32 b) {
        return chat.messages[size_t(a)].timestampMs < chat.messages[size_t(b)].timestampMs;
    });
    return order;
}

qint64 lastTime(const ChatHistory& history, const Conversation& c)
{
    return c.order.empty() ? std::numeric_limits<qint64>::min()
                           : history.chats[c.chat].messages[size_t(c.order.back())].timestampMs;
}

void writeText(const QString& path, QStringView text)
{
    Utf8File file(path);
    file.append(text);
    file.finish();
}

QString indexPageName(size_t page)
{
    return page == 0 ? QStringLiteral("index.html") : QStringLiteral("index-%1.html").arg(page + 1);
}

void appendIndexNavigation(QString& out, size_t page, size_t pages)
{
    if (pages < 2)
        return;
    out += QLatin1StringView("<nav>");
    out += QStringLiteral("Page %1 of %2").arg(page + 1).arg(pages);
    for (const auto& [to, label, rel] :
         {std::tuple{page - 1, "Previous", "prev"}, std::tuple{page + 1, "Next", "next"}}) {
        if (to >= pages)
            continue;
        out += QLatin1StringView(" &middot; <a href=\"");
        out += indexPageName(to);
        out += QLatin1StringView("\" rel=\"");
        out += QLatin1StringView(rel);
        out += QLatin1StringView("\">");
        out += QLatin1StringView(label);
        out += QLatin1StringView("</a>");
    }
    out += QLatin1StringView("</nav>\n");
}

// index.html: a row per conversation, the newest first; a history of very many conversations
// goes on to index-2.html and on, each page within the size of a conversation's page.
void writeIndex(const ChatHistory& history, const QString& folder,
                const std::vector<Conversation>& conversations, LocalTimes& times,
                const QString& searchNonce)
{
    const QLocale locale;
    std::vector<const Conversation*> newestFirst;
    for (const Conversation& c : conversations)
        newestFirst.push_back(&c);
    std::stable_sort(newestFirst.begin(), newestFirst.end(),
                     [&](const Conversation* a, const Conversation* b) {
                         return lastTime(history, *a) > lastTime(history, *b);
                     });
    std::vector<QString> rows;
    std::vector<size_t> pageStarts{0};
    qint64 pageBytes = 0;
    for (const Conversation* c : newestFirst) {
        const HistoryChat& chat = history.chats[c->chat];
        QString out = QStringLiteral("<tr><td><a href=\"");
        out += c->folder;
        out += QLatin1StringView("/index.html\" dir=\"auto\">");
        appendHtmlText(out, chatShownName(history, c->chat));
        out += QLatin1StringView("</a></td><td>");
        appendHtmlText(out, conversationKindText(chat.kind));
        out += QLatin1StringView("</td><td dir=\"auto\">");
        appendHtmlText(out, memberNamesText(history, c->chat));
        out += QLatin1StringView("</td><td class=\"n\">");
        out += locale.toString(qint64(c->order.size()));
        out += QLatin1StringView("</td>");
        for (const qint32 index :
             {c->order.empty() ? -1 : c->order.front(), c->order.empty() ? -1 : c->order.back()}) {
            out += QLatin1StringView("<td class=\"n\">");
            if (index >= 0)
                appendHtmlText(out, locale.toString(
                                        times.minute(chat.messages[size_t(index)].timestampMs).date,
                                        QLocale::ShortFormat));
            out += QLatin1StringView("</td>");
        }
        out += QLatin1StringView("</tr>\n");
        const qint64 bytes = utf8Size(out);
        if (rows.size() > pageStarts.back()
            && (qsizetype(rows.size() - pageStarts.back()) >= ConversationsPerIndexPage
                || pageBytes + bytes + 8192 > BytesPerPage)) {
            pageStarts.push_back(rows.size());
            pageBytes = 0;
        }
        pageBytes += bytes;
        rows.push_back(std::move(out));
    }
    for (size_t page = 0; page < pageStarts.size(); ++page) {
        QString out;
        const PageScript search{QStringLiteral("search/search.js"), searchNonce};
        appendPageHead(out, u"Chat history", QLatin1StringView(""), page == 0 ? &search : nullptr);
        out += QLatin1StringView("<h1>Chat history</h1>\n<p class=\"sub\">");
        out += conversations.size() == 1 ? QStringLiteral("1 conversation")
                                         : QStringLiteral("%1 conversations")
                                               .arg(locale.toString(qint64(conversations.size())));
        out += QLatin1StringView(", newest first &middot; <a href=\"stats.html\">Statistics</a>"
                                 "</p>\n");
        if (page == 0) {
            out += QLatin1StringView(SearchBox);
            appendPageScript(out, search);
        }
        appendIndexNavigation(out, page, pageStarts.size());
        out += QLatin1StringView("<table><thead><tr><th>Conversation</th><th>Kind</th>"
                                 "<th>Members</th><th>Messages</th><th>First</th><th>Last</th>"
                                 "</tr></thead><tbody>\n");
        const size_t end = page + 1 < pageStarts.size() ? pageStarts[page + 1] : rows.size();
        for (size_t row = pageStarts[page]; row < end; ++row)
            out += rows[row];
        out += QLatin1StringView("</tbody></table>\n");
        appendIndexNavigation(out, page, pageStarts.size());
        appendPageEnd(out);
        writeText(folder + QLatin1Char('/') + indexPageName(page), out);
    }
}

// The files the archived messages share, as their pages name them.
std::vector<SharedFile> sharedFiles(const ChatHistory& history,
                                    const std::vector<Conversation>& conversations)
{
    std::vector<SharedFile> files;
    for (const Conversation& c : conversations) {
        for (const qint32 index : c.order) {
            const HistoryMessage& message = history.chats[c.chat].messages[size_t(index)];
            if (message.kind != MessageKind::File && message.kind != MessageKind::Picture)
                continue;
            for (const MessagePart& part : decodeMessageParts(message)) {
                if (const auto* file = std::get_if<FilePart>(&part))
                    files.push_back({file->objectId, file->fileName, file->size});
            }
        }
    }
    return files;
}

qint64 folderBytes(const QString& folder)
{
    qint64 bytes = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        bytes += it.fileInfo().size();
    }
    return bytes;
}

} // namespace

std::optional<ArchiveSummary> writeArchive(const ChatHistory& history, const QString& folder,
                                           const ArchiveOptions& options,
                                           const ArchiveProgress& progress)
{
    std::vector<size_t> chosen = options.chats;
    if (chosen.empty()) {
        for (size_t i = 0; i < history.chats.size(); ++i)
            chosen.push_back(i);
    }
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());

    std::vector<Conversation> conversations;
    qint64 total = 0;
    for (const size_t chat : chosen) {
        conversations.push_back({chat, QStringLiteral("c%1").arg(chat + 1, 4, 10, QLatin1Char('0')),
                                 messageOrder(history.chats[chat], options)});
        total += qint64(conversations.back().order.size());
    }

    qint64 firstMs = std::numeric_limits<qint64>::max();
    qint64 lastMs = std::numeric_limits<qint64>::min();
    for (const Conversation& c : conversations) {
        for (const qint32 index :
             {c.order.empty() ? -1 : c.order.front(), c.order.empty() ? -1 : c.order.back()}) {
            if (index < 0)
                continue;
            const qint64 time = history.chats[c.chat].messages[size_t(index)].timestampMs;
            firstMs = std::min(firstMs, time);
            lastMs = std::max(lastMs, time);
        }
    }
    LocalTimes times(firstMs, std::max(firstMs, lastMs));
    MediaFiles media(history.sourceFiles, folder, options.media);
    SearchIndex search(folder);
    ArchiveStats stats(history);
    qint64 done = 0;
    auto tick = [&] {
        ++done;
        if (progress && (done % 1024 == 0 || done == total) && !progress(done, total))
            throw Stopped{};
    };
    try {
        if (progress && !progress(0, total))
            return std::nullopt;
        writeText(folder + QStringLiteral("/style.css"), QString::fromLatin1(StyleSheet));
        if (!media.prepare(sharedFiles(history, conversations),
                           [&] { return !progress || progress(0, total); }))
            return std::nullopt;
        for (Conversation& c : conversations) {
            const QString path = folder + QLatin1Char('/') + c.folder;
            if (!QDir().mkdir(path))
                throw Failure(QStringLiteral("The folder \"%1\" cannot be made.")
                                  .arg(QDir::toNativeSeparators(path)));
            stats.beginConversation(c.chat, c.folder);
            search.beginConversation(c.folder, chatShownName(history, c.chat));
            ConversationPages pages(history, c.chat, c.order, path, media, times, tick, &stats);
            pages.setSearchIndex(&search);
            pages.write();
        }
        search.finish();
        writeIndex(history, folder, conversations, times, search.nonce());
        writeStatsPage(folder, history, stats);
    } catch (const Stopped&) {
        return std::nullopt;
    }
    return ArchiveSummary{qsizetype(conversations.size()), qsizetype(total), media.copied(),
                          folderBytes(folder)};
}

} // namespace velmoran
