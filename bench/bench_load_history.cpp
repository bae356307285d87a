// Loading a chat export: time to read a generated 1,000,000-message export (.tar) and list
// its contacts, and the resident memory afterwards and at the peak, each against the size of
// its messages.json (targets: the loaded history at most 1.0 x, the peak at most 1.3 x), and
// what a message costs in memory beyond its text. Every load runs in a fresh process so its
// memory figures are its own.
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
using bench::statusBytes;

namespace {

// UTF-8 bytes of a text held as UTF-16.
qint64 utf8Size(QStringView text)
{
    qint64 bytes = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        bytes += u < 0x80 ? 1 : u < 0x800 ? 2 : QChar::isSurrogate(u) ? 2 : 3;
    }
    return bytes;
}

// The child: load once, list the contacts, print "seconds rss hwm rssBefore contacts messages
// bodyUtf8Bytes bodyUtf16Units spareSlots".
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
    const qint64 rss = statusBytes("VmRSS"), hwm = statusBytes("VmHWM");
    // What the messages hold, counted after the memory figures are taken.
    qint64 utf8 = 0, units = 0, spare = 0;
    for (const HistoryChat& chat : history->chats) {
        spare += qint64(chat.messages.capacity() - chat.messages.size());
        for (const HistoryMessage& message : chat.messages) {
            utf8 += utf8Size(message.body);
            units += message.body.size();
        }
    }
    std::printf("%.4f %lld %lld %lld %lld %lld %lld %lld %lld\n", seconds, rss, hwm, before,
                qint64(contacts.size()), qint64(history->messageCount()), utf8, units, spare);
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
    std::vector<double> referenceSeconds, loadSeconds, rssRatio, peakRatio, rssGrowthRatio,
        perMessage;
    qint64 jsonSize = 0, messageCount = 0, utf8 = 0, units = 0, spare = 0;
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
        if (load.exitCode() != 0 || fields.size() != 9 || jsonSize <= 0) {
            std::fprintf(stderr, "load failed: %s\n", load.readAllStandardError().constData());
            return 1;
        }
        const double seconds = fields[0].toDouble();
        const qint64 rss = fields[1].toLongLong(), hwm = fields[2].toLongLong(),
                     before = fields[3].toLongLong();
        messageCount = fields[5].toLongLong();
        utf8 = fields[6].toLongLong();
        units = fields[7].toLongLong();
        spare = fields[8].toLongLong();
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
        perMessage.push_back(messageCount > 0 ? double(rss - before) / double(messageCount) : 0);
    }
    std::printf("\nexport: %s, messages.json %.1f MiB\n", qPrintable(file),
                double(jsonSize) / 1048576);
    std::printf("median of %d runs:\n", runs);
    std::printf("  reference tar -xOf | wc -c   %7.3f s\n", median(referenceSeconds));
    std::printf("  load and list contacts       %7.3f s   (target <= 1.5 s)\n",
                median(loadSeconds));
    std::printf("  VmRSS after load             %7.2f x messages.json   (target <= 1.0; %.2f x "
                "without the process's own %s)\n",
                median(rssRatio), median(rssGrowthRatio), "start-up");
    std::printf("  VmHWM (peak)                 %7.2f x messages.json   (target <= 1.3)\n",
                median(peakRatio));
    // What a message costs in memory: the growth of VmRSS by the load per message, against
    // the UTF-8 bytes of its body (as the file holds the text, markup removed).
    if (messageCount > 0) {
        const double n = double(messageCount);
        const double total = median(perMessage);
        const double text = double(utf8) / n;
        const double doubling = double(2 * units - utf8) / n;
        const double structure = double(sizeof(HistoryMessage));
        const double slack = double(spare) * structure / n;
        std::printf("\nper message (%lld messages, %.1f bytes of messages.json each):\n",
                    qlonglong(messageCount), double(jsonSize) / n);
        std::printf("  in memory after the load (VmRSS growth)   %7.1f bytes\n", total);
        std::printf("  body text as UTF-8                        %7.1f bytes\n", text);
        std::printf("  beyond the text                           %7.1f bytes, of which:\n",
                    total - text);
        std::printf("    HistoryMessage (timestamp, 3 QStrings, file)  %5.1f\n", structure);
        std::printf("    spare room of the message lists               %5.1f\n", slack);
        std::printf("    UTF-16 instead of UTF-8 (2 x units - bytes)   %5.1f\n", doubling);
        std::printf("    the rest: string headers and allocations, names, ids, files, chats "
                    "%5.1f\n",
                    total - text - structure - slack - doubling);
    }
    return 0;
}
