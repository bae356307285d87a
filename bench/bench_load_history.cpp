// Loading a chat export: time to read a generated 1,000,000-message export (.tar) and list
// its contacts, and the resident memory afterwards and at the peak, each against the size of
// its messages.json. Every load runs in a fresh process so its memory figures are its own.
// The reference, timed in the same run over the same file: tar -xOf FILE messages.json | wc -c.
//
// usage: bench_load_history [--messages N] [--runs R] [--file EXPORT.tar]
// Without --file an export of N messages (default 1,000,000) is generated once into the
// build folder and reused.
#include "bench_figures.h"
#include "chat/chat_service.h"
#include "chat/history_loader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace velmoran;
using bench::argumentAfter;
using bench::median;

namespace {

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM").
qint64 statusBytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

// The child: load once, list the contacts, print "seconds rss hwm rssBefore contacts messages".
int loadOnce(const QString& path)
{
    const qint64 before = statusBytes("VmRSS");
    QElapsedTimer timer;
    timer.start();
    const auto history = std::make_shared<const ChatHistory>(readHistoryFile(path));
    HistoryChatService service(history);
    const QStringList contacts =
        service.isClientRunning() ? service.enumerateContacts() : QStringList();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    std::printf("%.4f %lld %lld %lld %lld %lld\n", seconds, statusBytes("VmRSS"),
                statusBytes("VmHWM"), before, qint64(contacts.size()),
                qint64(history->messageCount()));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 3 && arguments[1] == QStringLiteral("--load-once"))
        return loadOnce(arguments[2]);

    const QString messages =
        argumentAfter(arguments, QStringLiteral("--messages"), QStringLiteral("1000000"));
    const int runs =
        argumentAfter(arguments, QStringLiteral("--runs"), QStringLiteral("5")).toInt();
    QString file = argumentAfter(arguments, QStringLiteral("--file"), QString());
    const QString programFolder = QCoreApplication::applicationDirPath();
    if (file.isEmpty()) {
        file = programFolder + QStringLiteral("/bench-data/export-%1.tar").arg(messages);
        if (!QFileInfo::exists(file)) {
            QDir().mkpath(QFileInfo(file).path());
            std::printf("generating %s ...\n", qPrintable(file));
            std::fflush(stdout);
            if (QProcess::execute(
                    programFolder + QStringLiteral("/velmoran-generate-history"),
                    {QStringLiteral("--messages"), messages, QStringLiteral("--tar"), file})
                != 0) {
                std::fprintf(stderr, "cannot generate the export\n");
                return 1;
            }
        }
    }

    // The reference: unpacking messages.json with tar and counting its bytes.
    std::vector<double> referenceSeconds, loadSeconds, rssRatio, peakRatio, rssGrowthRatio;
    qint64 jsonSize = 0;
    std::printf("%-10s %10s %10s %10s %10s %10s\n", "run", "tar|wc s", "load s", "VmRSS MiB",
                "VmHWM MiB", "contacts");
    for (int run = 0; run <= runs; ++run) {
        QProcess reference;
        QElapsedTimer timer;
        timer.start();
        reference.start(
            QStringLiteral("sh"),
            {QStringLiteral("-c"), QStringLiteral("tar -xOf \"$0\" messages.json | wc -c"), file});
        reference.waitForFinished(-1);
        const double tarSeconds = double(timer.nsecsElapsed()) / 1e9;
        jsonSize = reference.readAllStandardOutput().trimmed().toLongLong();

        QProcess load;
        load.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--load-once"), file});
        load.waitForFinished(-1);
        const QList<QByteArray> fields = load.readAllStandardOutput().trimmed().split(' ');
        if (load.exitCode() != 0 || fields.size() != 6 || jsonSize <= 0) {
            std::fprintf(stderr, "load failed: %s\n", load.readAllStandardError().constData());
            return 1;
        }
        const double seconds = fields[0].toDouble();
        const qint64 rss = fields[1].toLongLong(), hwm = fields[2].toLongLong(),
                     before = fields[3].toLongLong();
        // The first run warms the page cache for both and is not counted.
        std::printf("%-10s %10.3f %10.3f %10.1f %10.1f %10s\n",
                    run == 0 ? "warm-up" : qPrintable(QString::number(run)), tarSeconds, seconds,
                    double(rss) / 1048576, double(hwm) / 1048576, fields[4].constData());
        if (run == 0)
            continue;
        referenceSeconds.push_back(tarSeconds);
        loadSeconds.push_back(seconds);
        rssRatio.push_back(double(rss) / double(jsonSize));
        rssGrowthRatio.push_back(double(rss - before) / double(jsonSize));
        peakRatio.push_back(double(hwm) / double(jsonSize));
    }
    std::printf("\nexport: %s, messages.json %.1f MiB\n", qPrintable(file),
                double(jsonSize) / 1048576);
    std::printf("median of %d runs:\n", runs);
    std::printf("  reference tar -xOf | wc -c   %7.3f s\n", median(referenceSeconds));
    std::printf("  load and list contacts       %7.3f s   (target <= 1.5 s)\n",
                median(loadSeconds));
    std::printf("  VmRSS after load             %7.2f x messages.json   (target <= 1.5; %.2f x "
                "without the process's own %s)\n",
                median(rssRatio), median(rssGrowthRatio), "start-up");
    std::printf("  VmHWM (peak)                 %7.2f x messages.json   (target <= 2.5)\n",
                median(peakRatio));
    return 0;
}
