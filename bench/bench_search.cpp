// The search run on a generated history of 1,000,000 messages in 500 chats, every contact
// listed and ticked, the real main window shown on the offscreen platform. Prints medians of
// several runs:
//   - a search that hits about 1% of bodies, "Match case" ticked and clear;
//   - an empty search text (a row for every non-empty field), then the resident memory;
//   - the longest time the window went without handling its events during a run;
//   - the time from a "Stop Finding" click to the end of the run.
// The reference, in the same go: rg -c -F over the same history written as messages.json.
//
// usage: bench_search [--messages N] [--chats C] [--runs R] [--only-exact 1] [--json KEPT.json]
#include "app/contact_list_model.h"
#include "app/form1.h"
#include "app/results_model.h"
#include "bench_figures.h"
#include "bench_history.h"
#include "chat/chat_service.h"
#include "core/dialogs.h"
#include "core/platform.h"
#include "quiet_platform.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace velmoran;
using bench::median;

namespace {

struct RunFigures {
    double seconds = 0;
    double longestGapMs = 0;
    qsizetype rows = 0;
};

// One click on "Start Finding", timed, with the longest stretch without event handling.
class Bench {
public:
    Bench(Form1& window, bench::QuietDialogs& dialogs)
        : m_window(window)
        , m_dialogs(dialogs)
    {
        m_ticker.setInterval(1);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] { tick(); });
    }

    RunFigures run(const QString& text, bool matchCase, bool keepRows = false)
    {
        if (!keepRows)
            m_window.results().clear();
        const qsizetype before = m_window.results().size();
        m_window.searchText()->setText(text);
        m_window.matchCase()->setChecked(matchCase);
        QCoreApplication::processEvents();
        m_clock.start();
        m_lastTick = 0;
        m_longestGap = 0;
        m_doneAt = -1;
        m_dialogs.onMessage = [this](const QString&) { m_doneAt = m_clock.nsecsElapsed(); };
        m_ticker.start();
        m_window.button(7)->click();
        m_ticker.stop();
        // The stretch from the last event handled to "Done." counts too.
        m_longestGap = std::max(m_longestGap, m_doneAt - m_lastTick);
        return {double(m_doneAt) / 1e9, double(m_longestGap) / 1e6,
                m_window.results().size() - before};
    }

    // Starts a run with an empty text and clicks "Stop Finding" after delayMs; answers the
    // milliseconds from the click's arrival to "Done.".
    double stopAfter(int delayMs)
    {
        m_window.results().clear();
        m_window.searchText()->clear();
        qint64 clickedAt = -1;
        QTimer::singleShot(delayMs, &m_window, [&] {
            // Queued like a user's click: it waits for the run's next yield.
            clickedAt = m_clock.nsecsElapsed();
            QTimer::singleShot(0, &m_window, [&] { m_window.button(7)->click(); });
        });
        run(QString(), true, true);
        return double(m_doneAt - clickedAt) / 1e6;
    }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        m_longestGap = std::max(m_longestGap, now - m_lastTick);
        m_lastTick = now;
    }

    Form1& m_window;
    bench::QuietDialogs& m_dialogs;
    QTimer m_ticker;
    QElapsedTimer m_clock;
    qint64 m_lastTick = 0;
    qint64 m_longestGap = 0;
    qint64 m_doneAt = -1;
};

double rgSeconds(const QString& path, const QString& text, QString* output)
{
    QElapsedTimer timer;
    timer.start();
    QProcess rg;
    rg.start(QStringLiteral("rg"), {QStringLiteral("-c"), QStringLiteral("-F"), text, path});
    if (!rg.waitForFinished(600'000) || rg.exitStatus() != QProcess::NormalExit) {
        *output = QStringLiteral("rg did not run: ") + rg.errorString();
        return -1;
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    *output = QString::fromUtf8(rg.readAllStandardOutput()).trimmed();
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::HistoryOptions options;
    int runs = 5;
    bool onlyExact = false;
    QString jsonPath;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--messages")
            options.messages = args[i + 1].toLongLong();
        else if (args[i] == u"--chats")
            options.chats = args[i + 1].toInt();
        else if (args[i] == u"--only-exact")
            onlyExact = args[i + 1] == u"1";
        else if (args[i] == u"--json")
            jsonPath = args[i + 1];
        else if (args[i] == u"--runs")
            runs = args[i + 1].toInt();
    }

    QElapsedTimer timer;
    timer.start();
    const ChatHistoryPtr history = bench::generateHistory(options);
    std::printf("history: %lld messages in %d chats, generated in %.2f s, resident %.0f MiB\n",
                qint64(history->messageCount()), options.chats, double(timer.elapsed()) / 1000,
                double(bench::statusBytes("VmRSS")) / (1 << 20));

    bench::QuietPlatform desktop(QCoreApplication::applicationDirPath());
    bench::QuietDialogs& dialogs = desktop.dialogs;
    Platform& platform = desktop.platform;
    HistoryChatServiceFactory chats([&] { return history; });
    Form1 window(platform, chats);
    window.Form_Load();
    window.show();
    QCoreApplication::processEvents();
    window.button(2)->click();
    std::printf("contacts listed: %lld, event pump interval %d ms\n",
                qint64(window.contacts().size()), window.eventPump().minimumInterval());

    Bench bench(window, dialogs);
    auto report = [&](const char* what, const QString& text, bool matchCase, bool keepLast) {
        std::vector<double> seconds, gaps;
        qsizetype rows = 0;
        for (int r = 0; r < runs; ++r) {
            const RunFigures figures = bench.run(text, matchCase);
            if (r == 0)
                std::printf("  %s: first run %.3f s\n", what, figures.seconds);
            seconds.push_back(figures.seconds);
            gaps.push_back(figures.longestGapMs);
            rows = figures.rows;
        }
        if (!keepLast)
            window.results().clear();
        std::printf(
            "%-34s median %.3f s (min %.3f, max %.3f), %lld rows, longest gap median %.1f ms "
            "(max %.1f)\n",
            what, median(seconds), *std::min_element(seconds.begin(), seconds.end()),
            *std::max_element(seconds.begin(), seconds.end()), qint64(rows), median(gaps),
            *std::max_element(gaps.begin(), gaps.end()));
        return median(seconds);
    };

    const double exact = report("1% of bodies, Match case ticked", bench::Needle, true, false);
    if (onlyExact)
        return 0;
    const double caseless =
        report("1% of bodies, Match case clear", bench::Needle.toLower(), false, false);
    report("empty search text", QString(), true, true);
    std::printf("resident after the empty search (history + rows): %.0f MiB\n",
                double(bench::statusBytes("VmRSS")) / (1 << 20));

    std::vector<double> stops;
    for (int r = 0; r < runs; ++r)
        stops.push_back(bench.stopAfter(300));
    std::printf("Stop Finding click to the end of the run: median %.1f ms (max %.1f)\n",
                median(stops), *std::max_element(stops.begin(), stops.end()));
    window.results().clear();

    QTemporaryDir folder;
    const QString json =
        jsonPath.isEmpty() ? folder.filePath(QStringLiteral("messages.json")) : jsonPath;
    if (!bench::writeMessagesJson(*history, json)) {
        std::printf("could not write %s\n", qPrintable(json));
        return 1;
    }
    std::vector<double> rgTimes;
    QString rgOutput;
    for (int r = 0; r < runs; ++r)
        rgTimes.push_back(rgSeconds(json, bench::Needle, &rgOutput));
    const double rg = median(rgTimes);
    std::printf("reference rg -c -F %s over messages.json (%.0f MiB): median %.3f s (%s lines)\n",
                qPrintable(bench::Needle), double(QFile(json).size()) / (1 << 20), rg,
                qPrintable(rgOutput));
    std::printf("ratio to rg: Match case ticked %.1fx, clear %.1fx\n", exact / rg, caseless / rg);
    return 0;
}
