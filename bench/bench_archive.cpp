// velmoran-archive on a generated 1,000,000-message export without media: the whole program
// (load, write every page and conversation.txt, rename into place), against velmoran-find
// loading the same file and writing every row as JSON lines to /dev/null, in the same go.
// Targets: the archive in at most 10 s and at most 3 x the reference; its peak resident memory
// at most 1.5 x that of the loaded history (a process that loads the file and ends, measured
// after the load). Then the archive in one headless Chromium, started once and driven over the
// DevTools protocol on --remote-debugging-pipe: the search of index.html (the index's size
// against the archive's, the bytes of it a one-word search loads and the time to its first
// results), and the first contentful paint of index.html and of the largest month page. Each is
// loaded runs + 1 times after a blank page; the first load is reported on its own as the cold
// one, the others as medians. The page's own clock (performance.now(), from the start of the
// navigation) gives the times, so the browser's start is not in them.
//
// usage: bench_archive [--messages N | --tar EXPORT.tar] [--runs R]
//        bench_archive --load-only HISTORY      (loads it, prints its resident bytes, ends)
//        bench_archive --peak-of PROGRAM ARG...  (runs it, prints its peak resident bytes)
// Generated files go to /tmp/archive-bench/ and stay there for the next go.
#include "bench_figures.h"
#include "chat/history_loader.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace velmoran;
using bench::argumentAfter;
using bench::median;

namespace {

// Runs a program to its end; answers its wall time in seconds, or -1 when it failed.
double timed(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program),
                     process.readAllStandardError().constData());
        return -1;
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (output)
        *output = process.readAllStandardOutput().trimmed();
    return seconds;
}

// The number a --peak-of or --load-only run prints last.
qint64 printedBytes(const QStringList& arguments)
{
    QByteArray output;
    if (timed(QCoreApplication::applicationFilePath(), arguments, &output) < 0)
        return -1;
    return output.split('\n').last().toLongLong();
}

const char SearchWord[] = "report";

// Chromium driven over the DevTools protocol on the pipe of --remote-debugging-pipe: it reads
// JSON messages from its fd 3 and writes them to its fd 4, each ended by a NUL byte.
class Browser {
public:
    Browser() = default;
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;
    ~Browser();

    // Starts Chromium on about:blank and attaches to its page; false when that fails.
    bool start();
    // The page at url once expression, polled every 10 ms, gives something other than null or
    // undefined; null when it does not within 10 s.
    QJsonValue load(const QString& url, const QString& expression);

private:
    QJsonObject call(const QString& method, const QJsonObject& params,
                     const QDeadlineTimer& deadline, bool inPage = true);
    bool receive(QJsonObject* message, const QDeadlineTimer& deadline);
    void pause(int ms);

    QProcess m_process;
    QTemporaryDir m_profile;
    int m_toBrowser = -1;
    int m_fromBrowser = -1;
    QByteArray m_received;
    int m_lastId = 0;
    QString m_session;
};

// A file descriptor moved to 10 or above, close-on-exec: the child can dup2 it onto 3 or 4
// without the source and target being the same (dup2 then leaves the target inheritable).
int movedHigh(int fd)
{
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    close(fd);
    return moved;
}

bool Browser::start()
{
    std::signal(SIGPIPE, SIG_IGN); // a browser gone is seen as a failed write
    int toBrowser[2], fromBrowser[2];
    if (!m_profile.isValid() || pipe2(toBrowser, O_CLOEXEC) != 0)
        return false;
    if (pipe2(fromBrowser, O_CLOEXEC) != 0) {
        close(toBrowser[0]);
        close(toBrowser[1]);
        return false;
    }
    const int childIn = movedHigh(toBrowser[0]), childOut = movedHigh(fromBrowser[1]);
    m_toBrowser = toBrowser[1];
    m_fromBrowser = fromBrowser[0];
    m_process.setChildProcessModifier([childIn, childOut] {
        dup2(childIn, 3);
        dup2(childOut, 4);
    });
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(QStringLiteral("chromium"),
                    {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                     QStringLiteral("--disable-gpu"), QStringLiteral("--no-first-run"),
                     QStringLiteral("--disable-background-networking"),
                     QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                     QStringLiteral("--remote-debugging-pipe"),
                     QStringLiteral("--user-data-dir=") + m_profile.path(),
                     QStringLiteral("about:blank")});
    // The child has its copies; without ours a browser that ends shows as the end of the pipe.
    close(childIn);
    close(childOut);
    if (!m_process.waitForStarted())
        return false;

    // The page target may take a moment to appear after the browser starts.
    const QDeadlineTimer deadline(10000);
    QString target;
    while (target.isEmpty() && !deadline.hasExpired()) {
        const QJsonObject reply = call(QStringLiteral("Target.getTargets"), {}, deadline, false);
        if (reply.isEmpty())
            return false;
        for (const QJsonValue info : reply[u"result"][u"targetInfos"].toArray()) {
            if (info[u"type"].toString() == u"page")
                target = info[u"targetId"].toString();
        }
        if (target.isEmpty())
            pause(100);
    }
    m_session = call(QStringLiteral("Target.attachToTarget"),
                     {{QStringLiteral("targetId"), target}, {QStringLiteral("flatten"), true}},
                     deadline, false)[u"result"][u"sessionId"]
                    .toString();
    return !m_session.isEmpty()
           && call(QStringLiteral("Page.enable"), {}, deadline).contains(u"result")
           && call(QStringLiteral("Runtime.enable"), {}, deadline).contains(u"result");
}

Browser::~Browser()
{
    if (m_process.state() != QProcess::NotRunning) {
        call(QStringLiteral("Browser.close"), {}, QDeadlineTimer(2000), false);
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    if (m_toBrowser >= 0)
        close(m_toBrowser);
    if (m_fromBrowser >= 0)
        close(m_fromBrowser);
}

// Sends a command and waits for its reply, dropping the events that come before it. Answers the
// reply ("result" or "error"), or an empty object when the browser did not answer in time.
QJsonObject Browser::call(const QString& method, const QJsonObject& params,
                          const QDeadlineTimer& deadline, bool inPage)
{
    const int id = ++m_lastId;
    QJsonObject command{{QStringLiteral("id"), id},
                        {QStringLiteral("method"), method},
                        {QStringLiteral("params"), params}};
    if (inPage)
        command.insert(QStringLiteral("sessionId"), m_session);
    const QByteArray bytes = QJsonDocument(command).toJson(QJsonDocument::Compact) + '\0';
    for (qsizetype sent = 0; sent < bytes.size();) {
        const ssize_t written = write(m_toBrowser, bytes.constData() + sent, bytes.size() - sent);
        if (written < 0 && errno != EINTR)
            return {};
        sent += std::max<ssize_t>(written, 0);
    }
    QJsonObject message;
    while (receive(&message, deadline)) {
        if (message[u"id"].toInt() == id)
            return message;
    }
    return {};
}

// The next message from the browser; false when none came before the deadline.
bool Browser::receive(QJsonObject* message, const QDeadlineTimer& deadline)
{
    for (;;) {
        if (const qsizetype end = m_received.indexOf('\0'); end >= 0) {
            *message = QJsonDocument::fromJson(m_received.left(end)).object();
            m_received.remove(0, end + 1);
            return true;
        }
        pollfd ready{m_fromBrowser, POLLIN, 0};
        const int waited = poll(&ready, 1, int(deadline.remainingTime()));
        if (waited < 0 && errno == EINTR)
            continue;
        if (waited <= 0)
            return false;
        char chunk[65536];
        const ssize_t got = read(m_fromBrowser, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        m_received.append(chunk, got);
    }
}

// Waits, reading and dropping what the browser sends meanwhile so that it never blocks on a
// full pipe.
void Browser::pause(int ms)
{
    const QDeadlineTimer deadline(ms);
    QJsonObject event;
    while (receive(&event, deadline)) {
    }
}

QJsonValue Browser::load(const QString& url, const QString& expression)
{
    // A blank page first, so that each load starts from the same state.
    call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), QStringLiteral("about:blank")}},
         QDeadlineTimer(10000));
    pause(300);
    const QDeadlineTimer deadline(10000);
    if (!call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url}}, deadline)
             .contains(u"result"))
        return QJsonValue::Null;
    // The blank page may still be there at the first polls; file: tells the new one.
    const QJsonObject evaluate{
        {QStringLiteral("expression"), QStringLiteral("location.protocol === 'file:' ? (")
                                           + expression + QStringLiteral(") ?? null : null")},
        {QStringLiteral("returnByValue"), true}};
    while (!deadline.hasExpired()) {
        // An error (the page's context replaced while it ran) is as good as no value yet.
        const QJsonValue value = call(QStringLiteral("Runtime.evaluate"), evaluate,
                                      deadline)[u"result"][u"result"][u"value"];
        if (!value.isNull() && !value.isUndefined())
            return value;
        pause(10);
    }
    return QJsonValue::Null;
}

// One figure of a page loaded runs + 1 times: the first (cold) load on its own, the others.
struct PageTimes {
    double cold = -1;
    std::vector<double> warm;
    int failed = 0;
};

// The median of the warm runs (-1 when all failed).
double warmMedian(const PageTimes& times)
{
    return times.warm.empty() ? -1 : median(times.warm);
}

struct BrowserFigures {
    qint64 indexBytes = 0;
    qint64 loadedBytes = 0;              // of the index, by the search
    PageTimes afterScript, afterRequest; // to the search's first results
    PageTimes indexPaint, monthPaint;    // first contentful paint
    QString monthPage;                   // the largest, relative to the archive
    qint64 monthBytes = 0;
};

// The largest page of a conversation's months in the archive (cNNNN/*.html but index.html).
QFileInfo largestMonthPage(const QString& archive)
{
    static const QRegularExpression conversationName(QStringLiteral("^c[0-9]+$"));
    QFileInfo largest;
    for (const QFileInfo& conversation :
         QDir(archive).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!conversationName.match(conversation.fileName()).hasMatch())
            continue;
        for (const QFileInfo& page :
             QDir(conversation.filePath()).entryInfoList({QStringLiteral("*.html")}, QDir::Files)) {
            if (page.fileName() != QLatin1StringView("index.html") && page.size() > largest.size())
                largest = page;
        }
    }
    return largest;
}

// The first contentful paint of the page at url, in ms after it was asked for.
PageTimes paintTimes(Browser& browser, const QString& url, int runs)
{
    PageTimes times;
    for (int run = 0; run <= runs; ++run) {
        const QJsonValue paint = browser.load(
            url,
            QStringLiteral("performance.getEntriesByName('first-contentful-paint')[0]?.startTime"));
        if (!paint.isDouble()) {
            std::fprintf(stderr, "no first contentful paint of %s in 10 s\n", qPrintable(url));
            ++times.failed;
        } else if (run == 0) {
            times.cold = paint.toDouble();
        } else {
            times.warm.push_back(paint.toDouble());
        }
    }
    return times;
}

// index.html?q=SearchWord: the page's script tells in data- attributes of the body when it
// started and showed the first results (performance.now()), and which files of search/ it loaded.
// Then the first contentful paint of index.html without a query and of the largest month page.
BrowserFigures browserFigures(const QString& archive, int runs)
{
    BrowserFigures figures;
    QDirIterator files(archive + QStringLiteral("/search"), QDir::Files);
    while (files.hasNext())
        figures.indexBytes += files.nextFileInfo().size();
    const QFileInfo month = largestMonthPage(archive);
    figures.monthPage = QDir(archive).relativeFilePath(month.filePath());
    figures.monthBytes = month.size();
    const int loads = runs + 1;
    figures.afterScript.failed = figures.afterRequest.failed = figures.indexPaint.failed =
        figures.monthPaint.failed = loads;

    Browser browser;
    if (!browser.start()) {
        std::fprintf(stderr, "chromium could not be started and attached over its pipe\n");
        return figures;
    }
    figures.afterScript.failed = figures.afterRequest.failed = 0;
    const QString index = QUrl::fromLocalFile(archive + QStringLiteral("/index.html")).toString();
    const QString search = index + QStringLiteral("?q=") + QLatin1StringView(SearchWord);
    for (int run = 0; run < loads; ++run) {
        const QJsonValue data = browser.load(search, QStringLiteral(R"(((data) =>
            data.searchFailed !== undefined ? {failed: data.searchFailed}
            : data.firstResultsMs !== undefined ? {...data} : null)(document.body?.dataset ?? {}))"));
        if (!data.isObject() || data[u"failed"].isString()) {
            std::fprintf(stderr, "the search of %s failed: %s\n", qPrintable(search),
                         data.isObject() ? qPrintable(data[u"failed"].toString())
                                         : "no results in 10 s");
            ++figures.afterScript.failed;
            ++figures.afterRequest.failed;
            continue;
        }
        const double shown = data[u"firstResultsMs"].toString().toDouble();
        const double started = data[u"scriptStartMs"].toString().toDouble();
        if (run == 0) {
            figures.afterRequest.cold = shown;
            figures.afterScript.cold = shown - started;
        } else {
            figures.afterRequest.warm.push_back(shown);
            figures.afterScript.warm.push_back(shown - started);
        }
        figures.loadedBytes = 0;
        for (const QString& file : data[u"searchFiles"].toString().split(u' ', Qt::SkipEmptyParts))
            figures.loadedBytes += QFileInfo(archive + QStringLiteral("/search/") + file).size();
    }
    figures.indexPaint = paintTimes(browser, index, runs);
    if (month.exists())
        figures.monthPaint =
            paintTimes(browser, QUrl::fromLocalFile(month.filePath()).toString(), runs);
    return figures;
}

// " (2 of the runs failed)" when some did, for the figure lines.
QString failures(const PageTimes& times)
{
    return times.failed ? QStringLiteral(" (%1 of the runs failed)").arg(times.failed) : QString();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (const QString loadOnly = argumentAfter(arguments, QStringLiteral("--load-only"), {});
        !loadOnly.isEmpty()) {
        HistoryLoader loader({loadOnly});
        const ChatHistoryPtr history = loader.load();
        std::printf("%lld\n", qlonglong(bench::statusBytes("VmRSS")));
        return history && history->messageCount() > 0 ? 0 : 2;
    }
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--peak-of")); at > 0) {
        // The only child of this process: its peak is the children's peak.
        if (timed(arguments.value(at + 1), arguments.mid(at + 2)) < 0)
            return 2;
        rusage usage = {};
        getrusage(RUSAGE_CHILDREN, &usage);
        std::printf("%lld\n", qlonglong(usage.ru_maxrss) * 1024);
        return 0;
    }

    const QString messages =
        argumentAfter(arguments, QStringLiteral("--messages"), QStringLiteral("1000000"));
    const int runs = std::max(
        1, argumentAfter(arguments, QStringLiteral("--runs"), QStringLiteral("5")).toInt());
    const QString programs = QCoreApplication::applicationDirPath();
    const QString folder = QStringLiteral("/tmp/archive-bench");
    QDir().mkpath(folder);
    QString tar = argumentAfter(arguments, QStringLiteral("--tar"), QString());
    if (tar.isEmpty()) {
        tar = folder + QStringLiteral("/export-") + messages + QStringLiteral(".tar");
        if (!QFileInfo::exists(tar)) {
            std::printf("generating %s messages into %s ...\n", qPrintable(messages),
                        qPrintable(tar));
            std::fflush(stdout);
            if (QProcess::execute(
                    programs + QStringLiteral("/velmoran-generate-history"),
                    {QStringLiteral("--messages"), messages, QStringLiteral("--tar"), tar})
                != 0)
                return 1;
        }
    }
    // Each run writes a new folder of its own; all are removed at the end. (A folder removed
    // just before makes the file system slower to create the next one's 18,000 files, which
    // would time the removal rather than the archive.)
    auto archiveFolder = [&](int run) { return folder + QStringLiteral("/archive-%1").arg(run); };
    auto archiveArguments = [&](int run) {
        return QStringList{QStringLiteral("--no-media"), archiveFolder(run), tar};
    };
    const QString archiveProgram = programs + QStringLiteral("/velmoran-archive");
    const QString findProgram = programs + QStringLiteral("/velmoran-find");
    const QStringList findArguments{QStringLiteral("--all-chats"),
                                    QStringLiteral("--format"),
                                    QStringLiteral("jsonl"),
                                    QStringLiteral("--output"),
                                    QStringLiteral("/dev/null"),
                                    tar,
                                    QStringLiteral("")};

    std::printf("%-6s %12s %12s\n", "run", "find jsonl", "archive");
    std::vector<double> findTimes, archiveTimes;
    for (int run = 0; run <= runs; ++run) {
        const double find = timed(findProgram, findArguments);
        const double written = timed(archiveProgram, archiveArguments(run));
        if (find < 0 || written < 0)
            return 1;
        // The first run warms the page cache and is not counted.
        std::printf("%-6s %11.2fs %11.2fs\n", run == 0 ? "warm" : qPrintable(QString::number(run)),
                    find, written);
        if (run > 0) {
            findTimes.push_back(find);
            archiveTimes.push_back(written);
        }
    }
    const qint64 loaded = printedBytes({QStringLiteral("--load-only"), tar});
    const qint64 peak = printedBytes(QStringList{QStringLiteral("--peak-of"), archiveProgram}
                                     + archiveArguments(runs + 1));
    qint64 archiveBytes = 0;
    for (const QFileInfo& conversation :
         QDir(archiveFolder(0)).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const QFileInfo& file : QDir(conversation.filePath()).entryInfoList(QDir::Files))
            archiveBytes += file.size();
    }
    const BrowserFigures browser = browserFigures(archiveFolder(0), runs);
    for (int run = 0; run <= runs + 1; ++run)
        QDir(archiveFolder(run)).removeRecursively();
    const double findMedian = median(findTimes), archiveMedian = median(archiveTimes);
    std::printf("\nmedians of %d runs: velmoran-find jsonl %.2f s, velmoran-archive %.2f s "
                "(%.2f x; targets <= 10 s and <= 3 x)\n",
                runs, findMedian, archiveMedian, archiveMedian / findMedian);
    std::printf("archive %.1f MiB in conversation folders; peak resident %.0f MiB, loaded history "
                "%.0f MiB (%.2f x; target <= 1.5 x)\n",
                double(archiveBytes) / 1048576, double(peak) / 1048576, double(loaded) / 1048576,
                double(peak) / double(loaded));
    std::printf("search index %.1f MiB, %.1f%% of the pages and texts (target <= 30%%); a search "
                "for \"%s\" loads %.0f KiB of it (target <= 2 MB) and shows its first results "
                "%.0f ms after the script starts, %.0f ms after the page was asked for "
                "(medians of %d warm runs in one headless Chromium, the first run %.0f and %.0f "
                "ms; target <= 500 ms)%s\n",
                double(browser.indexBytes) / 1048576,
                100.0 * double(browser.indexBytes) / double(archiveBytes - browser.indexBytes),
                SearchWord, double(browser.loadedBytes) / 1024, warmMedian(browser.afterScript),
                warmMedian(browser.afterRequest), runs, browser.afterScript.cold,
                browser.afterRequest.cold, qPrintable(failures(browser.afterRequest)));
    std::printf("first contentful paint of index.html %.0f ms (the first run %.0f ms)%s, of the "
                "largest month page %s (%.0f KiB) %.0f ms (the first run %.0f ms)%s (medians of "
                "%d warm runs in the same Chromium; target <= 300 ms)\n",
                warmMedian(browser.indexPaint), browser.indexPaint.cold,
                qPrintable(failures(browser.indexPaint)), qPrintable(browser.monthPage),
                double(browser.monthBytes) / 1024, warmMedian(browser.monthPaint),
                browser.monthPaint.cold, qPrintable(failures(browser.monthPaint)), runs);
    return 0;
}
