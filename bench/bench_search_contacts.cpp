// The search walk over many chats and many contacts: 50,000 chats of one message each, every
// chat's peer listed once in a contact list of 50,000 ticked rows. Prints the median time of
// the search as the program runs it (rows found through an index of the contact texts) and,
// as the reference in the same go, of the plain walk that tests every contact row against
// every chat. Both must find the same rows.
//
// usage: bench_search_contacts [--chats N] [--runs R] [--plain-runs P]
#include "app/contact_list_model.h"
#include "app/contact_rows.h"
#include "bench_figures.h"
#include "chat/chat_service.h"
#include "core/error_report.h"
#include "core/guarded_routine.h"
#include "search/search_engine.h"
#include "search/search_pattern.h"
#include "search/timestamp_text.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace velmoran;
using bench::median;

namespace {

class Quiet final : public SearchObserver, public ErrorReporter {
public:
    Qt::CaseSensitivity caseSensitivity() const override { return Qt::CaseSensitive; }
    void report(const QString&, const QString&, int) override { ++reports; }
    int reports = 0;
};

class Counter final : public SearchSink {
public:
    void found(const QString&, MessageField, const QString&) override { ++rows; }
    qint64 rows = 0;
};

// The walk before the index: every contact row is tested against every chat with messages.
void plainWalk(GuardedRoutine& routine, ChatService& service, const SearchContacts& contacts,
               const SearchPattern& pattern, TimestampText& timestamps, SearchObserver& observer,
               SearchSink& sink)
{
    auto matches = [&](QStringView field) {
        return pattern.matches(field, observer.caseSensitivity());
    };
    auto stop = [&] { return observer.stopRequested(); };
    const qint32 chats = routine.loopBound(118, [&] { return service.chatCount(); });
    for (qint32 i = 1; i <= chats; ++i) {
        routine.step(120,
                     [&] { observer.chatReached(double(qint64(i) * 100 / service.chatCount())); });
        routine.step(122, [&] { observer.letEventsRun(); });
        if (!routine.test(124, [&] { return service.messageCount(i) > 0; }))
            continue;
        const qsizetype rows = routine.loopBound(126, [&] { return contacts.size(); });
        for (qsizetype j = 1; j <= rows; ++j) {
            if (!routine.test(128, [&] { return contacts.isChecked(j); }))
                continue;
            if (!routine.test(130, [&] { return contacts.text(j) == service.peerHandle(i); }))
                continue;
            const qint32 messages = routine.loopBound(132, [&] { return service.messageCount(i); });
            for (qint32 k = 1; k <= messages; ++k) {
                routine.step(134, [&] { observer.readingMessage(k, service.messageCount(i)); });
                routine.step(136, [&] { observer.letEventsRun(); });
                const HistoryMessage& m = service.messageAt(i, k);
                if (routine.test(138, [&] { return matches(m.senderDisplayName); }))
                    sink.found(contacts.text(j), MessageField::FromDisplayName,
                               m.senderDisplayName);
                if (routine.test(146, [&] { return matches(m.body); }))
                    sink.found(contacts.text(j), MessageField::Body, m.body);
                if (routine.test(154, [&] { return matches(timestamps.view(m.timestampMs)); }))
                    sink.found(contacts.text(j), MessageField::Timestamp,
                               timestamps.format(m.timestampMs));
                if (routine.test(162, stop))
                    break;
            }
            if (routine.test(166, stop))
                break;
        }
        if (routine.test(170, stop))
            break;
    }
}

using Search = void (*)(GuardedRoutine&, ChatService&, const SearchContacts&, const SearchPattern&,
                        TimestampText&, SearchObserver&, SearchSink&);

struct Figures {
    double seconds;
    qint64 rows;
    int reports;
};

Figures timed(Search search, const ChatHistoryPtr& history, const ContactListModel& list)
{
    HistoryChatService service(history);
    ContactRows contacts(list);
    Quiet quiet;
    GuardedRoutine routine(quiet, QStringLiteral("bench"));
    const SearchPattern pattern(QStringLiteral("needle"));
    TimestampText timestamps;
    Counter sink;
    QElapsedTimer timer;
    timer.start();
    search(routine, service, contacts, pattern, timestamps, quiet, sink);
    return {double(timer.nsecsElapsed()) / 1e9, sink.rows, quiet.reports};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int chats =
        bench::argumentAfter(args, QStringLiteral("--chats"), QStringLiteral("50000")).toInt();
    const int runs =
        bench::argumentAfter(args, QStringLiteral("--runs"), QStringLiteral("5")).toInt();
    const int plainRuns =
        bench::argumentAfter(args, QStringLiteral("--plain-runs"), QStringLiteral("1")).toInt();

    // Every tenth message holds the text, so rows are found in a tenth of the chats.
    auto history = std::make_shared<ChatHistory>();
    ContactListModel list;
    QStringList handles;
    for (int i = 0; i < chats; ++i) {
        const QString handle = QStringLiteral("contact.%1").arg(i);
        history->chats.push_back(
            {handle,
             {{qint64(i) * 60'000, handle,
               i % 10 ? QStringLiteral("hello") : QStringLiteral("a needle")}}});
        handles << handle;
    }
    // The list in another order than the chats, as a client lists its contacts.
    std::reverse(handles.begin(), handles.end());
    list.appendAll(handles);
    list.setCheckedRange(1, list.size(), true);
    std::printf("%d chats of one message, %lld ticked contact rows\n", chats, qint64(list.size()));

    std::vector<double> indexed;
    Figures last{};
    for (int r = 0; r < runs; ++r) {
        last = timed(searchChats, history, list);
        indexed.push_back(last.seconds);
    }
    std::printf("search with the contact index: median %.3f s over %d runs (min %.3f, max %.3f), "
                "%lld rows, %d reports\n",
                median(indexed), runs, *std::min_element(indexed.begin(), indexed.end()),
                *std::max_element(indexed.begin(), indexed.end()), last.rows, last.reports);

    std::vector<double> plain;
    Figures reference{};
    for (int r = 0; r < plainRuns; ++r) {
        reference = timed(plainWalk, history, list);
        plain.push_back(reference.seconds);
    }
    if (plainRuns > 0) {
        std::printf("reference, every row tested against every chat: median %.3f s over %d runs, "
                    "%lld rows\n",
                    median(plain), plainRuns, reference.rows);
        std::printf("ratio: %.0fx%s\n", median(plain) / median(indexed),
                    reference.rows == last.rows ? "" : "  (ROW COUNTS DIFFER)");
    }
    return reference.rows == last.rows || plainRuns == 0 ? 0 : 1;
}
