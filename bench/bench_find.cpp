// velmoran-find on a generated 1,000,000-message export: the whole program (load the .tar,
// search, write the results file), run as a script runs it, against grep -c over the same
// export's messages.json in the same go. Target: at most 3 s for a text found in about 1% of
// bodies.
//
// Then, in a second series of runs, the output formats and the overviews: the same search
// written as jsonl against the default text file (target: at most 1.2 x), and --list and
// --stats against a process that loads the .tar alone (target: at most 1.1 x).
//
// usage: bench_find [--messages N] [--runs R] [--text TEXT] [--formats-only]
//        bench_find --load-only HISTORY   (loads it and ends: the reference above)
// The export (.tar and its messages.json) is generated into a temporary folder and removed
// afterwards. Unless --text is given, the search text is picked from the generated bodies: the
// word or beginning of a word whose share of bodies is nearest to 1%. The share of bodies the
// program really found is printed with the figures.
#include "bench_figures.h"
#include "chat/chat_history.h"
#include "chat/history_loader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace velmoran;
using bench::argumentAfter;
using bench::median;

namespace {

// Runs a program to its end; answers its wall time in seconds, or -1 when it failed.
double timed(const QString& program, const QStringList& arguments, QByteArray* output = nullptr,
             int* status = nullptr)
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (output)
        *output = process.readAllStandardOutput().trimmed();
    if (status)
        *status = process.exitCode();
    return seconds;
}

// A text typed as the bodies have it, whose share of bodies that contain it (letter case
// counting) is nearest to the wanted share: the words of the bodies and their beginnings, of
// 4 characters or more.
QString textNearShare(const ChatHistory& history, double wanted, double* share)
{
    std::vector<const QString*> bodies;
    for (const HistoryChat& chat : history.chats) {
        if (chat.peerHandle.isEmpty())
            continue;
        for (const HistoryMessage& message : chat.messages)
            bodies.push_back(&message.body);
    }
    // Candidates from every 500th body, shares measured on every 20th.
    QSet<QString> candidates;
    for (size_t i = 0; i < bodies.size(); i += 500) {
        for (const QString& word : bodies[i]->split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            for (qsizetype length = 4; length <= std::min<qsizetype>(word.size(), 32); ++length)
                candidates.insert(word.left(length));
        }
    }
    QString best;
    double bestShare = -1;
    for (const QString& text : std::as_const(candidates)) {
        qsizetype hits = 0;
        qsizetype tested = 0;
        for (size_t i = 0; i < bodies.size(); i += 20, ++tested)
            hits += bodies[i]->contains(text) ? 1 : 0;
        const double s = tested ? double(hits) / double(tested) : 0;
        const double distance = std::abs(s - wanted), bestDistance = std::abs(bestShare - wanted);
        if (bestShare < 0 || distance < bestDistance || (distance == bestDistance && text < best)) {
            best = text;
            bestShare = s;
        }
    }
    *share = bestShare;
    return best;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    // The reference for --list and --stats: load the history as velmoran-find does, then end.
    const QString loadOnly = argumentAfter(arguments, QStringLiteral("--load-only"), QString());
    if (!loadOnly.isEmpty()) {
        HistoryLoader loader({loadOnly});
        const ChatHistoryPtr history = loader.load();
        return history && history->messageCount() > 0 ? 0 : 2;
    }
    const QString messages =
        argumentAfter(arguments, QStringLiteral("--messages"), QStringLiteral("1000000"));
    const int runs = std::max(
        1, argumentAfter(arguments, QStringLiteral("--runs"), QStringLiteral("5")).toInt());
    const QString textOption = argumentAfter(arguments, QStringLiteral("--text"), QString());
    const QString programFolder = QCoreApplication::applicationDirPath();
    const QString find = programFolder + QStringLiteral("/velmoran-find");

    QTemporaryDir folder;
    const QString tar = folder.filePath(QStringLiteral("generated_export.tar"));
    const QString json = folder.filePath(QStringLiteral("messages.json"));
    const QString results = folder.filePath(QStringLiteral("results.txt"));
    std::printf("generating %s messages into %s ...\n", qPrintable(messages),
                qPrintable(folder.path()));
    std::fflush(stdout);
    if (QProcess::execute(programFolder + QStringLiteral("/velmoran-generate-history"),
                          {QStringLiteral("--messages"), messages, QStringLiteral("--tar"), tar,
                           QStringLiteral("--json"), json})
        != 0) {
        std::fprintf(stderr, "cannot generate the export\n");
        return 1;
    }

    double sampledShare = 0;
    QString text;
    qsizetype bodies = 0;
    {
        const ChatHistory history = readHistoryFile(tar);
        for (const HistoryChat& chat : history.chats) {
            for (const HistoryMessage& message : chat.messages)
                bodies += chat.peerHandle.isEmpty() || message.body.isEmpty() ? 0 : 1;
        }
        text = textOption.isEmpty() ? textNearShare(history, 0.01, &sampledShare) : textOption;
        std::printf("export: %lld messages, messages.json %.1f MiB; text \"%s\" in %.2f%% of "
                    "sampled bodies\n",
                    qlonglong(history.messageCount()), double(QFileInfo(json).size()) / 1048576,
                    qPrintable(text), sampledShare * 100);
    }

    const bool formatsOnly = arguments.contains(QStringLiteral("--formats-only"));
    struct Case {
        const char* name;
        QStringList extra;
    };
    const Case cases[] = {{"letter case counts", {}},
                          {"--ignore-case", {QStringLiteral("--ignore-case")}}};
    const int grepRuns = formatsOnly ? -1 : runs;
    if (!formatsOnly)
        std::printf("\n%-8s %12s %16s %16s\n", "run", "grep -c s", cases[0].name, cases[1].name);
    std::vector<double> grepTimes, findTimes[2];
    qsizetype rows[2] = {0, 0};
    qsizetype bodyRows[2] = {0, 0};
    QByteArray grepCount;
    for (int run = 0; run <= grepRuns; ++run) {
        const double grep =
            timed(QStringLiteral("grep"), {QStringLiteral("-c"), QStringLiteral("-F"), text, json},
                  &grepCount);
        double times[2];
        for (int c = 0; c < 2; ++c) {
            int status = -1;
            times[c] = timed(find,
                             cases[c].extra
                                 + QStringList{QStringLiteral("--output"), results, tar,
                                               QStringLiteral("--"), text},
                             nullptr, &status);
            if (times[c] < 0 || status != 0) {
                std::fprintf(stderr, "velmoran-find failed (status %d)\n", status);
                return 1;
            }
            QFile written(results);
            rows[c] = bodyRows[c] = 0;
            if (written.open(QIODevice::ReadOnly)) {
                // Values may hold line breaks, never a tab before one: every line ends in tab, CR
                // LF.
                const QByteArray bytes = written.readAll();
                rows[c] = bytes.count("\t\r\n") - 1;
                for (qsizetype at = bytes.indexOf("\tBody "); at >= 0;
                     at = bytes.indexOf("\tBody ", at + 1))
                    ++bodyRows[c];
            }
        }
        // The first run warms the page cache for all of them and is not counted.
        std::printf("%-8s %12.3f %16.3f %16.3f\n",
                    run == 0 ? "warm-up" : qPrintable(QString::number(run)), grep, times[0],
                    times[1]);
        if (run == 0)
            continue;
        grepTimes.push_back(grep);
        for (int c = 0; c < 2; ++c)
            findTimes[c].push_back(times[c]);
    }
    const double reference = median(grepTimes);
    if (!formatsOnly) {
        std::printf(
            "\nmedian of %d runs (velmoran-find: load the .tar, search, write the results file):\n",
            runs);
        std::printf("  reference grep -c -F \"%s\" messages.json   %7.3f s   (%s lines)\n",
                    qPrintable(text), reference, grepCount.constData());
        for (int c = 0; c < 2; ++c) {
            const double m = median(findTimes[c]);
            std::printf("  velmoran-find, %-22s %7.3f s   %.1f x grep   %lld rows, %.2f%% of %lld "
                        "bodies   (target <= 3 s)\n",
                        cases[c].name, m, reference > 0 ? m / reference : 0.0, qlonglong(rows[c]),
                        bodies ? 100.0 * double(bodyRows[c]) / double(bodies) : 0.0,
                        qlonglong(bodies));
        }
    }

    // Formats and overviews against their references, in the same runs. Loading alone is this
    // program run again with --load-only: a process that starts, loads the .tar and ends, as
    // velmoran-find does around its work. Each run starts one step further along the list, so
    // a machine that gets busier during a run burdens none of them more than the others.
    const QString jsonl = folder.filePath(QStringLiteral("results.jsonl"));
    const QString overview = folder.filePath(QStringLiteral("overview.txt"));
    struct Timed {
        const char* name;
        QString program;
        QStringList arguments;
        std::vector<double> times;
    };
    Timed programs[] = {
        {"load alone",
         QCoreApplication::applicationFilePath(),
         {QStringLiteral("--load-only"), tar},
         {}},
        {"text file",
         find,
         {QStringLiteral("--output"), results, tar, QStringLiteral("--"), text},
         {}},
        {"--format jsonl",
         find,
         {QStringLiteral("--format"), QStringLiteral("jsonl"), QStringLiteral("--output"), jsonl,
          tar, QStringLiteral("--"), text},
         {}},
        {"--list", find, {QStringLiteral("--list"), QStringLiteral("--output"), overview, tar}, {}},
        {"--stats",
         find,
         {QStringLiteral("--stats"), QStringLiteral("--all-chats"), QStringLiteral("--output"),
          overview, tar},
         {}},
    };
    const int count = int(std::size(programs));
    std::printf("\n%-8s", "run");
    for (const Timed& program : programs)
        std::printf(" %15s", program.name);
    std::printf("\n");
    for (int run = 0; run <= runs; ++run) {
        double times[std::size(programs)];
        for (int step = 0; step < count; ++step) {
            Timed& program = programs[(run + step) % count];
            int status = -1;
            const double t = timed(program.program, program.arguments, nullptr, &status);
            if (t < 0 || (status != 0 && status != 1)) {
                std::fprintf(stderr, "%s failed (status %d)\n", program.name, status);
                return 1;
            }
            times[(run + step) % count] = t;
        }
        std::printf("%-8s", run == 0 ? "warm-up" : qPrintable(QString::number(run)));
        for (int i = 0; i < count; ++i) {
            std::printf(" %15.3f", times[i]);
            if (run > 0)
                programs[i].times.push_back(times[i]);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    const double load = median(programs[0].times);
    const double textFile = median(programs[1].times);
    const double jsonlTime = median(programs[2].times);
    std::printf("\nmedian of %d runs (each a whole process):\n", runs);
    std::printf("  load the .tar alone                        %7.3f s\n", load);
    std::printf("  velmoran-find, text file                   %7.3f s\n", textFile);
    std::printf("  velmoran-find --format jsonl               %7.3f s   %.2f x text file   (target "
                "<= 1.2 x)   "
                "%.1f MiB written\n",
                jsonlTime, textFile > 0 ? jsonlTime / textFile : 0.0,
                double(QFileInfo(jsonl).size()) / 1048576);
    for (int i = 3; i < count; ++i) {
        const double m = median(programs[i].times);
        std::printf("  velmoran-find %-28s %7.3f s   %.2f x load alone   (target <= 1.1 x)\n",
                    programs[i].name, m, load > 0 ? m / load : 0.0);
    }
    return 0;
}
