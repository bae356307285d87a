// velmoran-archive on a generated 1,000,000-message export without media: the whole program
// (load, write every page and conversation.txt, rename into place), against velmoran-find
// loading the same file and writing every row as JSON lines to /dev/null, in the same go.
// Targets: the archive in at most 10 s and at most 3 x the reference; its peak resident memory
// at most 1.5 x that of the loaded history (a process that loads the file and ends, measured
// after the load). Then the search of index.html in headless Chromium: the index's size against
// the archive's, the bytes of it a one-word search loads and the time to its first results.
//
// usage: bench_archive [--messages N | --tar EXPORT.tar] [--runs R]
//        bench_archive --load-only HISTORY      (loads it, prints its resident bytes, ends)
//        bench_archive --peak-of PROGRAM ARG...  (runs it, prints its peak resident bytes)
// Generated files go to /tmp/archive-bench/ and stay there for the next go.
#include "bench_figures.h"
#include "chat/history_loader.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>

#include <cstdio>
#include <sys/resource.h>

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

struct SearchFigures {
    qint64 indexBytes = 0;
    qint64 loadedBytes = 0; // of the index, by the search
    double afterScriptMs = -1;
    double afterRequestMs = -1;
};

// index.html?q=SearchWord in headless Chromium: the page's script tells in data- attributes of
// the body when it started and showed the first results, and which files of search/ it loaded.
SearchFigures searchFigures(const QString& archive, int runs)
{
    SearchFigures figures;
    QDirIterator files(archive + QStringLiteral("/search"), QDir::Files);
    while (files.hasNext())
        figures.indexBytes += files.nextFileInfo().size();
    const QString url = QUrl::fromLocalFile(archive + QStringLiteral("/index.html")).toString()
                        + QStringLiteral("?q=") + QLatin1StringView(SearchWord);
    static const QRegularExpression attribute(QStringLiteral("data-([a-z-]+)=\"([^\"]*)\""));
    std::vector<double> afterScript, afterRequest;
    for (int run = 0; run < runs; ++run) {
        QByteArray dom;
        if (timed(QStringLiteral("chromium"),
                  {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                   QStringLiteral("--disable-gpu"), QStringLiteral("--virtual-time-budget=30000"),
                   QStringLiteral("--dump-dom"), url},
                  &dom)
            < 0)
            return figures;
        const QString body = QString::fromUtf8(dom.mid(dom.indexOf("<body"), 2000));
        QHash<QString, QString> data;
        for (const auto& match : attribute.globalMatch(body.left(body.indexOf(u'>'))))
            data.insert(match.captured(1), match.captured(2));
        const double shown =
            data.value(QStringLiteral("first-results-ms"), QStringLiteral("-1")).toDouble();
        afterRequest.push_back(shown);
        afterScript.push_back(shown - data.value(QStringLiteral("script-start-ms")).toDouble());
        figures.loadedBytes = 0;
        for (const QString& file :
             data.value(QStringLiteral("search-files")).split(u' ', Qt::SkipEmptyParts))
            figures.loadedBytes += QFileInfo(archive + QStringLiteral("/search/") + file).size();
    }
    figures.afterScriptMs = median(afterScript);
    figures.afterRequestMs = median(afterRequest);
    return figures;
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
    const SearchFigures search = searchFigures(archiveFolder(0), runs);
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
                "(medians of %d runs in headless Chromium; target <= 500 ms)\n",
                double(search.indexBytes) / 1048576,
                100.0 * double(search.indexBytes) / double(archiveBytes - search.indexBytes),
                SearchWord, double(search.loadedBytes) / 1024, search.afterScriptMs,
                search.afterRequestMs, runs);
    return 0;
}
