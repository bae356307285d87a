// The conversation window on generated histories, the real main window shown on the offscreen
// platform. Prints medians of several runs:
//   - opening the window at a results row's message in a chat of 500,000 messages (the chat's
//     rows built, the message selected, scrolled to and drawn); rows of two such chats take
//     turns, so every opening builds its chat afresh; and the time until the find bar's
//     "k of n" is shown, which in a long chat is counted after the window shows the message;
//   - the find bar's next and previous match in that chat (about 1% of the messages match);
//   - scrolling (wheel, page, the thumb dragged anywhere) and resizing, each step drawn: the
//     median and longest step of each;
//   - filling the conversation list with a history of 5,000 conversations;
//   - the longest time the window went without handling its events meanwhile (the reference
//     pass, one piece of work on purpose, not counted).
// The reference, in the same go: one pass of QString::contains over the chat's 500,000 bodies.
//
// usage: bench_conversation [--messages N] [--conversations C] [--runs R]
#include "app/conversation_entry.h"
#include "app/conversation_window.h"
#include "app/form1.h"
#include "app/results_model.h"
#include "bench_figures.h"
#include "bench_history.h"
#include "chat/chat_service.h"
#include "quiet_platform.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace velmoran;
using bench::median;

namespace {

// Times a piece of work and the longest stretch the window went without its events, which
// run (with a 1 ms ticker) between pieces.
class Stopwatch {
public:
    Stopwatch()
    {
        m_ticker.setInterval(1);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] { tick(); });
        m_clock.start();
        m_ticker.start();
    }
    double timeMs(const std::function<void()>& work, const std::function<bool()>& settled = {})
    {
        letEventsRun();
        const qint64 start = m_clock.nsecsElapsed();
        work();
        const qint64 end = m_clock.nsecsElapsed();
        // Work the window goes on with while its events run (the find bar's count).
        while (settled && !settled())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        m_lastSettledMs = double(m_clock.nsecsElapsed() - start) / 1e6;
        letEventsRun();
        return double(end - start) / 1e6;
    }
    // The time from the start of the last piece of work until it settled.
    double lastSettledMs() const { return m_lastSettledMs; }
    double longestGapMs() const { return double(m_longestGap) / 1e6; }
    // Gaps count from here on (the reference is one piece of work on purpose).
    void forgetGaps() { m_longestGap = 0; }

private:
    void letEventsRun()
    {
        QElapsedTimer spin;
        spin.start();
        while (spin.elapsed() < 5)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        m_lastTick = m_clock.nsecsElapsed();
    }
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        m_longestGap = std::max(m_longestGap, now - m_lastTick);
        m_lastTick = now;
    }

    QTimer m_ticker;
    QElapsedTimer m_clock;
    qint64 m_lastTick = 0;
    qint64 m_longestGap = 0;
    double m_lastSettledMs = 0;
};

// The first results row of each chat.
std::vector<qsizetype> firstRowPerChat(const ResultsModel& results, int chats)
{
    std::vector<qsizetype> rows(size_t(chats), -1);
    for (qsizetype row = 1; row <= results.size(); ++row) {
        const MessageRef ref = results.messageRef(row);
        if (ref.isSet() && ref.chat < rows.size() && rows[ref.chat] < 0)
            rows[ref.chat] = row;
    }
    return rows;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 perChat =
        bench::argumentAfter(args, QStringLiteral("--messages"), QStringLiteral("500000"))
            .toLongLong();
    const int conversations =
        bench::argumentAfter(args, QStringLiteral("--conversations"), QStringLiteral("5000"))
            .toInt();
    const int runs =
        bench::argumentAfter(args, QStringLiteral("--runs"), QStringLiteral("7")).toInt();

    bench::HistoryOptions longChats;
    longChats.chats = 2;
    longChats.messages = 2 * perChat;
    const ChatHistoryPtr history = bench::generateHistory(longChats);
    bench::HistoryOptions manyChats;
    manyChats.chats = conversations;
    manyChats.messages = qint64(conversations) * 20;
    const ChatHistoryPtr many = bench::generateHistory(manyChats);
    manyChats.seed = 11;
    const ChatHistoryPtr manyOther = bench::generateHistory(manyChats);

    bench::QuietPlatform quiet;
    HistoryChatServiceFactory services([&] { return history; });
    Form1 window(quiet.platform, services);
    window.eventPump().setMinimumInterval(0);
    window.Form_Load();
    window.show();
    window.button(2)->click();
    window.searchText()->setText(bench::Needle);
    window.matchCase()->setChecked(true);
    window.button(7)->click();
    const std::vector<qsizetype> hits = firstRowPerChat(window.results(), longChats.chats);
    if (hits[0] < 0 || hits[1] < 0) {
        std::fprintf(stderr, "bench_conversation: the search found no row in a chat\n");
        return 1;
    }

    Stopwatch watch;
    std::vector<double> reference;
    for (int run = 0; run < runs; ++run) {
        reference.push_back(watch.timeMs([&] {
            qsizetype found = 0;
            for (const HistoryMessage& m : history->chats[0].messages)
                found += m.body.contains(bench::Needle) ? 1 : 0;
            if (found < 0)
                std::puts("");
        }));
    }

    watch.forgetGaps();

    std::vector<double> open;
    std::vector<double> next;
    std::vector<double> previous;
    ConversationWindow* shown = nullptr;
    std::vector<double> counted;
    for (int run = 0; run < runs; ++run) {
        open.push_back(watch.timeMs(
            [&] {
                window.conversations().showResultsRow(hits[size_t(run % 2)]);
                shown = window.conversations().window();
                shown->messageView()->viewport()->repaint();
            },
            [&] { return !shown->isCountingMatches(); }));
        counted.push_back(watch.lastSettledMs());
    }
    for (int run = 0; run < 3 * runs; ++run) {
        next.push_back(watch.timeMs([&] {
            shown->findNext();
            shown->messageView()->viewport()->repaint();
        }));
        previous.push_back(watch.timeMs([&] {
            shown->findPrevious();
            shown->messageView()->viewport()->repaint();
        }));
    }
    const QString matches = shown->findCountText();

    // Scrolling and resizing as a user does, each step drawn: three wheel lines, a page, the
    // scroll bar's thumb dragged anywhere in the chat, the window narrower or wider. Rows are
    // measured as they come into view; the longest step is the longest time without events.
    window.conversations().showResultsRow(hits[0]);
    shown = window.conversations().window();
    QScrollBar* bar = shown->messageView()->verticalScrollBar();
    QRandomGenerator random(7);
    std::vector<double> steps[4];
    const double gapBeforeScrolling = watch.longestGapMs();
    watch.forgetGaps();
    for (int step = 0; step < 40 * runs; ++step) {
        steps[step % 4].push_back(watch.timeMs([&] {
            switch (step % 4) {
            case 0:
                bar->setValue(bar->value() + 3 * bar->singleStep());
                break;
            case 1:
                bar->setValue(bar->value() + bar->pageStep());
                break;
            case 2:
                bar->setValue(int(random.bounded(bar->maximum() + 1)));
                break;
            default:
                shown->resize(shown->width() + (step % 8 == 3 ? -150 : 150), shown->height());
                QCoreApplication::processEvents();
                break;
            }
            shown->messageView()->viewport()->repaint();
        }));
    }
    auto longest = [](const std::vector<double>& times) {
        return *std::max_element(times.begin(), times.end());
    };
    const double gapWhileScrolling = watch.longestGapMs();
    watch.forgetGaps();

    std::vector<double> list;
    for (int run = 0; run < runs; ++run) {
        list.push_back(watch.timeMs([&] {
            shown->setHistory(run % 2 ? manyOther : many);
            shown->conversationList()->viewport()->repaint();
        }));
    }

    std::printf("conversation window, %lld messages in the chat, medians of %d runs\n",
                static_cast<long long>(perChat), runs);
    std::printf("  reference: one pass of contains over the bodies  %8.2f ms\n", median(reference));
    std::printf("  open at a results row (target <= 150 ms)         %8.2f ms\n", median(open));
    std::printf("  open until the find bar shows k of n             %8.2f ms\n", median(counted));
    std::printf("  next match (target <= 50 ms)                     %8.2f ms  (%s)\n", median(next),
                qPrintable(matches));
    std::printf("  previous match (target <= 50 ms)                 %8.2f ms\n", median(previous));
    const char* const stepNames[] = {"three wheel lines", "a page", "thumb dragged anywhere",
                                     "window resized"};
    for (int kind = 0; kind < 4; ++kind)
        std::printf("  scroll: %-22s median %6.2f ms, longest %6.2f ms (target <= 50 ms)\n",
                    stepNames[kind], median(steps[kind]), longest(steps[kind]));
    std::printf("  list of %d conversations (target <= 100 ms)    %8.2f ms\n", conversations,
                median(list));
    std::printf("  longest time without events (target <= 50 ms)\n");
    std::printf("    opening, find bar                              %8.2f ms\n",
                gapBeforeScrolling);
    std::printf("    scrolling and resizing                         %8.2f ms\n", gapWhileScrolling);
    std::printf("    conversation list                              %8.2f ms\n",
                watch.longestGapMs());
    return 0;
}
