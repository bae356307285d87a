// A history file opened in the real main window (offscreen), as a user opens one: a click on
// "List Contacts In Skype" reads the file (the progress bar counting "Reading chat history:
// k%") and lists its contacts; then a click on "Start Finding" searches every message, timed
// to "Done.". Prints medians of several runs, each in a fresh window and a fresh load:
//   - the time of the listing click (the whole load) and of the search;
//   - the found rows saved as a text file and copied to the clipboard;
//   - the longest time the window went without handling its events during each;
//   - the resident memory after the load and the peak during it, against the size of the file.
// The reference, in the same go: cat FILE > /dev/null (the file read at the speed of the disk
// and page cache).
//
// usage: bench_window_history --file HISTORY [--text TEXT] [--runs R] [--ignore-case]
// The search runs with "Match case" ticked, as the window starts, unless --ignore-case.
// HISTORY is an export (.tar or messages.json) or a main.db, e.g. one made with
// velmoran-generate-history --messages 5000000 --tar FILE.
#include "app/contact_list_model.h"
#include "app/form1.h"
#include "app/history_load_progress.h"
#include "app/results_model.h"
#include "bench_figures.h"
#include "chat/chat_service.h"
#include "chat/history_loader.h"
#include "quiet_platform.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace velmoran;
using bench::argumentAfter;
using bench::median;
using bench::statusBytes;

namespace {

// Times one click and the longest stretch without event handling, a 1 ms ticker being the
// window's other events.
class ClickTimer {
public:
    ClickTimer()
    {
        m_ticker.setInterval(1);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longestGap = std::max(m_longestGap, now - m_lastTick);
            m_lastTick = now;
        });
    }
    // Seconds from the click to its end (or to endAt, when the work sets it).
    double time(QPushButton* button)
    {
        QCoreApplication::processEvents();
        m_clock.start();
        m_lastTick = 0;
        m_longestGap = 0;
        endAt = -1;
        m_ticker.start();
        button->click();
        m_ticker.stop();
        if (endAt < 0)
            endAt = m_clock.nsecsElapsed();
        m_longestGap = std::max(m_longestGap, endAt - m_lastTick);
        return double(endAt) / 1e9;
    }
    double longestGapMs() const { return double(m_longestGap) / 1e6; }
    qint64 elapsedNs() const { return m_clock.nsecsElapsed(); }

    qint64 endAt = -1;

private:
    QTimer m_ticker;
    QElapsedTimer m_clock;
    qint64 m_lastTick = 0;
    qint64 m_longestGap = 0;
};

// Starts a new peak of the resident memory (VmHWM) from the present resident size.
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

double catSeconds(const QString& path)
{
    QElapsedTimer timer;
    timer.start();
    QProcess cat;
    cat.setStandardOutputFile(QProcess::nullDevice());
    cat.start(QStringLiteral("cat"), {path});
    if (!cat.waitForFinished(600'000))
        return -1;
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString file = argumentAfter(args, QStringLiteral("--file"), QString());
    // In generated histories about 0.6% of the messages hold a link with this text.
    const QString text = argumentAfter(args, QStringLiteral("--text"), QStringLiteral("id=1"));
    const int runs = argumentAfter(args, QStringLiteral("--runs"), QStringLiteral("3")).toInt();
    const bool matchCase = !args.contains(QStringLiteral("--ignore-case"));
    if (file.isEmpty() || !QFileInfo(file).isFile()) {
        std::fprintf(stderr, "usage: bench_window_history --file HISTORY [--text TEXT] [--runs R] "
                             "[--ignore-case]\n");
        return 2;
    }
    const double fileBytes = double(QFileInfo(file).size());
    std::printf("history file: %s, %.0f MiB\n", qPrintable(file), fileBytes / (1 << 20));

    bench::QuietPlatform desktop(QCoreApplication::applicationDirPath());
    std::vector<double> loads, loadGaps, searches, searchGaps, references, resident, percents;
    std::vector<double> saves, saveGaps, copies, copyGaps, peaks, before;
    QTemporaryDir outputs;
    qsizetype contacts = 0, rows = 0;
    for (int r = 0; r < runs; ++r) {
        references.push_back(catSeconds(file));
        // Each run's own peak: objects of the run before that wait for a deferred delete (no
        // event loop runs here between runs) must not count.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        resetPeak();
        before.push_back(double(statusBytes("VmRSS")));
        // A fresh loader and window for every run, as a new start of the program.
        auto loader = std::make_shared<HistoryLoader>(QStringList{file});
        loader->setReport([](const QString& description) {
            std::fprintf(stderr, "report: %s\n", qPrintable(description));
        });
        HistoryChatServiceFactory chats([loader] { return loader->load(); });
        auto window = std::make_unique<Form1>(desktop.platform, chats);
        showHistoryLoadProgress(*loader, window->eventPump(), window->progress());
        window->Form_Load();
        window->show();

        ClickTimer timer;
        // The percentages the bar showed while the file was read.
        int shown = 0;
        QString lastText;
        QTimer watcher;
        watcher.setInterval(1);
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            const QString now = window->progress().text();
            if (now != lastText && now.startsWith(QStringLiteral("Reading chat history")))
                ++shown;
            lastText = now;
        });
        watcher.start();
        loads.push_back(timer.time(window->button(2)));
        watcher.stop();
        loadGaps.push_back(timer.longestGapMs());
        percents.push_back(shown);
        contacts = window->contacts().size();
        resident.push_back(double(statusBytes("VmRSS")));
        peaks.push_back(double(statusBytes("VmHWM")));

        window->searchText()->setText(text);
        window->matchCase()->setChecked(matchCase);
        desktop.dialogs.onMessage = [&](const QString&) { timer.endAt = timer.elapsedNs(); };
        searches.push_back(timer.time(window->button(7)));
        searchGaps.push_back(timer.longestGapMs());
        rows = window->results().size();
        desktop.dialogs.onMessage = {};
        // A new file each time: the question about replacing one would be answered no.
        desktop.dialogs.saveAs = outputs.filePath(QStringLiteral("results-%1.txt").arg(r));
        saves.push_back(timer.time(window->button(5)));
        saveGaps.push_back(timer.longestGapMs());
        copies.push_back(timer.time(window->button(8)));
        copyGaps.push_back(timer.longestGapMs());
        std::printf("  run %d: load %.3f s (longest gap %.1f ms, %d progress texts seen), "
                    "search %.3f s (longest gap %.1f ms), save %.3f s, copy %.3f s, cat %.3f s\n",
                    r + 1, loads.back(), loadGaps.back(), shown, searches.back(), searchGaps.back(),
                    saves.back(), copies.back(), references.back());
        window.reset();
    }
    std::printf("contacts listed: %lld; search \"%s\" (Match case %s) found %lld rows\n",
                qint64(contacts), qPrintable(text), matchCase ? "ticked" : "clear", qint64(rows));
    std::printf("load (List Contacts In Skype)   median %.3f s, longest gap median %.1f ms "
                "(max %.1f)\n",
                median(loads), median(loadGaps),
                *std::max_element(loadGaps.begin(), loadGaps.end()));
    std::printf("search (Start Finding to Done.) median %.3f s, longest gap median %.1f ms "
                "(max %.1f)\n",
                median(searches), median(searchGaps),
                *std::max_element(searchGaps.begin(), searchGaps.end()));
    std::printf("save as text file               median %.3f s (%.0f KiB), longest gap median "
                "%.1f ms\n",
                median(saves), double(QFileInfo(desktop.dialogs.saveAs).size()) / 1024,
                median(saveGaps));
    std::printf("copy to clipboard               median %.3f s (%lld characters), longest gap "
                "median %.1f ms\n",
                median(copies), qint64(desktop.clipboard.text.size()), median(copyGaps));
    std::printf("reference cat FILE              median %.3f s; load / cat = %.2f\n",
                median(references), median(loads) / median(references));
    std::printf(
        "resident after load             median %.2f x the file; peak median %.2f x the file\n",
        median(resident) / fileBytes, median(peaks) / fileBytes);
    std::printf("resident before the load        median %.2f x the file (the first run: %.2f)\n",
                median(before) / fileBytes, before.front() / fileBytes);
    return 0;
}
