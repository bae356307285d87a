// velmoran-find on a generated 1,000,000-message export: the whole program (load, search,
// write the results file), run as a script runs it, against ripgrep counting the text in the
// same messages.json, in the same go:
//   the .tar:          velmoran-find EXPORT.tar TEXT   against
//                      tar -xOf EXPORT.tar messages.json | rg --count-matches -F TEXT
//   messages.json:     velmoran-find messages.json TEXT   against
//                      rg --count-matches -F TEXT messages.json
// Targets: at most 1.3 x the reference for each; and at most 3 s for a text found in about 1%
// of bodies. Without rg (Debian package ripgrep) the references are grep -c -F instead, and
// the figures say so.
//
// Then, in a second series of runs, the output formats and the overviews: the same search
// written as jsonl and as csv against the default text file (target: at most 1.2 x), and
// --list and --stats against a process that loads the .tar alone (target: at most 1.1 x).
//
// usage: bench_find [--messages N | --tar EXPORT.tar --json messages.json] [--runs R]
//                   [--text TEXT] [--formats-only | --find-only]
//        bench_find --load-only HISTORY   (loads it and ends: the reference above)
// Unless --tar and --json name an export made before (the same history twice), the export is
// generated into a temporary folder and removed afterwards. Unless --text is given, the search text
// is picked from the generated bodies: the word or beginning of a word whose share of bodies is
// nearest to 1%. The share of bodies the program really found is printed with the figures.
// --find-only leaves out the second series (for large histories).
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
#include <QStandardPaths>
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
    // An export made before (--tar with its --json) is used as it is; else one is generated.
    QString tar = argumentAfter(arguments, QStringLiteral("--tar"), QString());
    QString json = argumentAfter(arguments, QStringLiteral("--json"), QString());
    const QString results = folder.filePath(QStringLiteral("results.txt"));
    if (tar.isEmpty() || json.isEmpty()) {
        tar = folder.filePath(QStringLiteral("generated_export.tar"));
        json = folder.filePath(QStringLiteral("messages.json"));
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
        std::printf(
            "export: %lld messages, messages.json %.1f MiB; text \"%s\" %s\n",
            qlonglong(history.messageCount()), double(QFileInfo(json).size()) / 1048576,
            qPrintable(text),
            textOption.isEmpty() ? qPrintable(
                QStringLiteral("in %1% of sampled bodies").arg(sampledShare * 100, 0, 'f', 2))
                                 : "as given");
    }

    const bool formatsOnly = arguments.contains(QStringLiteral("--formats-only"));
    const bool findOnly = arguments.contains(QStringLiteral("--find-only"));
    // The references count the text in messages.json with ripgrep, or grep when it is missing.
    const bool haveRg = !QStandardPaths::findExecutable(QStringLiteral("rg")).isEmpty();
    if (!haveRg)
        std::printf("\nrg (ripgrep) is NOT installed: the references below use grep -c -F "
                    "instead, which is slower than rg; install the Debian package ripgrep for "
                    "the figures the targets are set against\n");
    const QString counter =
        haveRg ? QStringLiteral("rg --count-matches -F") : QStringLiteral("grep -c -F");
    const QString counterArgs = haveRg ? QStringLiteral("rg --count-matches -F -- \"$1\"")
                                       : QStringLiteral("grep -c -F -- \"$1\"");
    struct Case {
        const char* name;
        QString program;
        QStringList arguments;
        std::vector<double> times = {};
        QByteArray output = {};
        int status = 0;
    };
    // Each velmoran-find case follows its reference.
    Case cases[] = {
        {"tar|count",
         QStringLiteral("sh"),
         {QStringLiteral("-c"), QStringLiteral("tar -xOf \"$0\" messages.json | ") + counterArgs,
          tar, text}},
        {"find .tar", find, {QStringLiteral("--output"), results, tar, QStringLiteral("--"), text}},
        {"count json",
         QStringLiteral("sh"),
         {QStringLiteral("-c"), counterArgs + QStringLiteral(" \"$0\""), json, text}},
        {"find json",
         find,
         {QStringLiteral("--output"), results, json, QStringLiteral("--"), text}},
        {"find .tar -i",
         find,
         {QStringLiteral("--ignore-case"), QStringLiteral("--output"), results, tar,
          QStringLiteral("--"), text}},
    };
    const int caseCount = int(std::size(cases));
    const int findRuns = formatsOnly ? -1 : runs;
    if (!formatsOnly) {
        std::printf("\n%-8s", "run");
        for (const Case& c : cases)
            std::printf(" %13s", c.name);
        std::printf("\n");
    }
    qsizetype rows = 0;
    qsizetype bodyRows = 0;
    for (int run = 0; run <= findRuns; ++run) {
        double times[std::size(cases)];
        for (int i = 0; i < caseCount; ++i) {
            Case& c = cases[i];
            times[i] = timed(c.program, c.arguments, &c.output, &c.status);
            const bool isFind = c.program == find;
            if (times[i] < 0 || (isFind ? c.status != 0 : c.status > 1)) {
                std::fprintf(stderr, "%s failed (status %d)\n", c.name, c.status);
                return 1;
            }
            if (i != 1)
                continue;
            QFile written(results);
            rows = bodyRows = 0;
            if (written.open(QIODevice::ReadOnly)) {
                // Values may hold line breaks, never a tab before one: every line ends in tab, CR
                // LF.
                const QByteArray bytes = written.readAll();
                rows = bytes.count("\t\r\n") - 1;
                for (qsizetype at = bytes.indexOf("\tBody "); at >= 0;
                     at = bytes.indexOf("\tBody ", at + 1))
                    ++bodyRows;
            }
        }
        // The first run warms the page cache for all of them and is not counted.
        std::printf("%-8s", run == 0 ? "warm-up" : qPrintable(QString::number(run)));
        for (int i = 0; i < caseCount; ++i) {
            std::printf(" %13.3f", times[i]);
            if (run > 0)
                cases[i].times.push_back(times[i]);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    if (!formatsOnly) {
        const double tarReference = median(cases[0].times);
        const double jsonReference = median(cases[2].times);
        std::printf("\nmedian of %d runs (velmoran-find: load, search, write the results file):\n",
                    runs);
        std::printf("  reference tar -xOf | %s \"%s\"   %7.3f s   (%s matches)\n",
                    qPrintable(counter), qPrintable(text), tarReference,
                    cases[0].output.constData());
        std::printf("  velmoran-find EXPORT.tar                 %7.3f s   %.2f x reference   "
                    "(target <= 1.3 x, <= 3 s)   %lld rows, %.2f%% of %lld bodies\n",
                    median(cases[1].times),
                    tarReference > 0 ? median(cases[1].times) / tarReference : 0.0, qlonglong(rows),
                    bodies ? 100.0 * double(bodyRows) / double(bodies) : 0.0, qlonglong(bodies));
        std::printf("  velmoran-find --ignore-case EXPORT.tar   %7.3f s   %.2f x reference\n",
                    median(cases[4].times),
                    tarReference > 0 ? median(cases[4].times) / tarReference : 0.0);
        std::printf("  reference %s \"%s\" messages.json   %7.3f s\n", qPrintable(counter),
                    qPrintable(text), jsonReference);
        std::printf("  velmoran-find messages.json              %7.3f s   %.2f x reference   "
                    "(target <= 1.3 x)\n",
                    median(cases[3].times),
                    jsonReference > 0 ? median(cases[3].times) / jsonReference : 0.0);
    }
    if (findOnly)
        return 0;

    // Formats and overviews against their references, in the same runs. Loading alone is this
    // program run again with --load-only: a process that starts, loads the .tar and ends, as
    // velmoran-find does around its work. Each run starts one step further along the list, so
    // a machine that gets busier during a run burdens none of them more than the others.
    const QString jsonl = folder.filePath(QStringLiteral("results.jsonl"));
    const QString csv = folder.filePath(QStringLiteral("results.csv"));
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
        {"--format csv",
         find,
         {QStringLiteral("--format"), QStringLiteral("csv"), QStringLiteral("--output"), csv, tar,
          QStringLiteral("--"), text},
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
    const double csvTime = median(programs[3].times);
    std::printf("\nmedian of %d runs (each a whole process):\n", runs);
    std::printf("  load the .tar alone                        %7.3f s\n", load);
    std::printf("  velmoran-find, text file                   %7.3f s\n", textFile);
    std::printf("  velmoran-find --format jsonl               %7.3f s   %.2f x text file   (target "
                "<= 1.2 x)   "
                "%.1f MiB written\n",
                jsonlTime, textFile > 0 ? jsonlTime / textFile : 0.0,
                double(QFileInfo(jsonl).size()) / 1048576);
    std::printf("  velmoran-find --format csv                 %7.3f s   %.2f x text file   (target "
                "<= 1.2 x)   "
                "%.1f MiB written\n",
                csvTime, textFile > 0 ? csvTime / textFile : 0.0,
                double(QFileInfo(csv).size()) / 1048576);
    for (int i = 4; i < count; ++i) {
        const double m = median(programs[i].times);
        std::printf("  velmoran-find %-28s %7.3f s   %.2f x load alone   (target <= 1.1 x)\n",
                    programs[i].name, m, load > 0 ? m / load : 0.0);
    }
    return 0;
}
