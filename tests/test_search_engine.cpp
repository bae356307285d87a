#include "chat/chat_service.h"
#include "core/error_report.h"
#include "core/failure.h"
#include "core/guarded_routine.h"
#include "search/search_engine.h"
#include "search/search_pattern.h"
#include "search/timestamp_text.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <functional>
#include <vector>

using namespace velmoran;

namespace {

// Contact rows in memory that a test changes while the search lets events run. A row can be
// made unreadable: both its reads then fail, as for a row that went away.
class MemoryContacts final : public SearchContacts {
public:
    struct Row {
        QString text;
        bool checked = true;
        bool readable = true;
    };

    qsizetype size() const override { return qsizetype(rows.size()); }
    bool isChecked(qsizetype row) const override { return rowAt(row).checked; }
    QString text(qsizetype row) const override { return rowAt(row).text; }
    quint64 textsVersion() const override { return version; }

    std::vector<Row> rows;
    quint64 version = 0;

private:
    const Row& rowAt(qsizetype row) const
    {
        if (row < 1 || row > size() || !rows[size_t(row - 1)].readable)
            throw Failure(QStringLiteral("Contact row %1 cannot be read.").arg(row));
        return rows[size_t(row - 1)];
    }
};

// Chats in memory; the peer handle of chosen chats cannot be read.
class MemoryChats final : public ChatService {
public:
    bool isClientRunning() override { return true; }
    QStringList enumerateContacts() override { return {}; }
    qint32 chatCount() override { return qint32(chats.size()); }
    QString peerHandle(qint32 chat) override
    {
        if (failingPeers.contains(chat))
            throw Failure(QStringLiteral("The client lost chat %1.").arg(chat));
        return chatAt(chat).peerHandle;
    }
    qint32 messageCount(qint32 chat) override { return qint32(chatAt(chat).messages.size()); }
    const HistoryMessage& messageAt(qint32 chat, qint32 message) override
    {
        reads << std::make_pair(chat, message);
        return chatAt(chat).messages.at(size_t(message - 1));
    }

    std::vector<HistoryChat> chats;
    QSet<qint32> failingPeers;
    QList<std::pair<qint32, qint32>> reads;

private:
    const HistoryChat& chatAt(qint32 chat) const { return chats.at(size_t(chat - 1)); }
};

// Everything a search did that can be seen from outside, in order.
struct Trace {
    QStringList rows;
    QStringList reports;
    int yields = 0;
};

class TraceReporter final : public ErrorReporter {
public:
    explicit TraceReporter(Trace& trace)
        : m_trace(trace)
    {
    }
    void report(const QString& description, const QString&, int step) override
    {
        m_trace.reports << QString::number(step) + u' ' + description;
    }

private:
    Trace& m_trace;
};

class TraceSink final : public SearchSink {
public:
    explicit TraceSink(Trace& trace)
        : m_trace(trace)
    {
    }
    void found(const QString& contact, MessageField field, const QString& value) override
    {
        m_trace.rows << contact + u'|' + messageFieldText(field) + u'|' + value;
    }

private:
    Trace& m_trace;
};

// Runs onYield at every yield, with the yields counted from 1.
class YieldingObserver final : public SearchObserver {
public:
    YieldingObserver(Trace& trace, std::function<void(int)> onYield)
        : m_trace(trace)
        , m_onYield(std::move(onYield))
    {
    }
    Qt::CaseSensitivity caseSensitivity() const override { return Qt::CaseSensitive; }
    bool stopRequested() const override { return stop; }
    void letEventsRun() override { m_onYield(++m_trace.yields); }

    bool stop = false;

private:
    Trace& m_trace;
    std::function<void(int)> m_onYield;
};

// The search as a plain walk: every contact row is tested against every chat.
void referenceSearch(GuardedRoutine& routine, ChatService& service, const SearchContacts& contacts,
                     const SearchPattern& pattern, TimestampText& timestamps,
                     SearchObserver& observer, SearchSink& sink)
{
    auto matches = [&](QStringView field) {
        return pattern.matches(field, observer.caseSensitivity());
    };
    auto appendRow = [&](int contactStep, int valueStep, qsizetype j, MessageField field,
                         auto&& read) {
        QString contact;
        QString value;
        routine.step(contactStep, [&] { contact = contacts.text(j); });
        routine.step(valueStep, [&] { value = read(); });
        sink.found(contact, field, value);
    };
    auto stop = [&] { return observer.stopRequested(); };
    const qint32 chats = routine.loopBound(118, [&] { return service.chatCount(); });
    for (qint32 i = 1; i <= chats; ++i) {
        routine.step(120,
                     [&] { observer.chatReached(double(qint64(i) * 100 / service.chatCount())); });
        routine.step(122, [&] { observer.letEventsRun(); });
        if (routine.test(124, [&] { return service.messageCount(i) > 0; })) {
            const qsizetype rows = routine.loopBound(126, [&] { return contacts.size(); });
            for (qsizetype j = 1; j <= rows; ++j) {
                if (!routine.test(128, [&] { return contacts.isChecked(j); }))
                    continue;
                if (!routine.test(130, [&] { return contacts.text(j) == service.peerHandle(i); }))
                    continue;
                const qint32 messages =
                    routine.loopBound(132, [&] { return service.messageCount(i); });
                for (qint32 k = 1; k <= messages; ++k) {
                    routine.step(134, [&] { observer.readingMessage(k, service.messageCount(i)); });
                    routine.step(136, [&] { observer.letEventsRun(); });
                    auto message = [&]() -> const HistoryMessage& {
                        return service.messageAt(i, k);
                    };
                    if (routine.test(138, [&] { return matches(message().senderDisplayName); }))
                        appendRow(140, 144, j, MessageField::FromDisplayName,
                                  [&] { return message().senderDisplayName; });
                    if (routine.test(146, [&] { return matches(message().body); }))
                        appendRow(148, 152, j, MessageField::Body, [&] { return message().body; });
                    if (routine.test(
                            154, [&] { return matches(timestamps.view(message().timestampMs)); }))
                        appendRow(156, 160, j, MessageField::Timestamp,
                                  [&] { return timestamps.format(message().timestampMs); });
                    if (routine.test(162, stop))
                        break;
                }
                if (routine.test(166, stop))
                    break;
            }
        }
        if (routine.test(170, stop))
            break;
    }
}

enum Change : int {
    Ticks = 1,      // rows are ticked and unticked
    Appends = 2,    // rows are appended, ticked or not
    Renames = 4,    // a row's text changes
    Unreadable = 8, // rows whose reads fail, from the start and made so during the run
    LostPeers = 16, // chats whose peer handle cannot be read
    Stop = 32,      // a stop is asked at some yield
};

QString handle(QRandomGenerator& random, int handles)
{
    return QStringLiteral("h%1").arg(random.bounded(handles));
}

struct Scenario {
    MemoryChats chats;
    MemoryContacts contacts;
};

// A history of chats with handles from a small pool (so several chats and rows share one),
// some chats without messages, and a contact list with duplicates and unticked rows.
void fill(Scenario& s, quint32 seed, int changes)
{
    QRandomGenerator random(seed);
    const int handles = 12;
    const int chatCount = 10 + random.bounded(40);
    for (int i = 0; i < chatCount; ++i) {
        HistoryChat chat{handle(random, handles), {}};
        const int messages = random.bounded(4);
        for (int k = 0; k < messages; ++k)
            chat.messages.push_back({qint64(random.bounded(1'000'000)) * 60'000,
                                     random.bounded(3) ? QStringLiteral("n%1").arg(k) : QString(),
                                     QStringLiteral("b%1.%2").arg(i).arg(k)});
        s.chats.chats.push_back(std::move(chat));
        if ((changes & LostPeers) && random.bounded(6) == 0)
            s.chats.failingPeers.insert(i + 1);
    }
    // A few more handles than the chats use: some rows name no chat.
    const int rowCount = random.bounded(30);
    for (int r = 0; r < rowCount; ++r) {
        MemoryContacts::Row row{handle(random, handles + 3), random.bounded(4) != 0, true};
        if ((changes & Unreadable) && random.bounded(8) == 0)
            row.readable = false;
        s.contacts.rows.push_back(row);
    }
}

// One change to the list (or a stop) at a yield, drawn from the scenario's own generator so
// that two searches that yield alike see the same changes.
void change(Scenario& s, YieldingObserver& observer, QRandomGenerator& random, int changes)
{
    if (random.bounded(3) != 0)
        return;
    std::vector<MemoryContacts::Row>& rows = s.contacts.rows;
    switch (random.bounded(6)) {
    case 0:
    case 1:
        if ((changes & Ticks) && !rows.empty()) {
            MemoryContacts::Row& row = rows[size_t(random.bounded(qint32(rows.size())))];
            row.checked = !row.checked;
        }
        break;
    case 2:
        if (changes & Appends)
            rows.push_back({handle(random, 12), random.bounded(2) == 0, true});
        break;
    case 3:
        if ((changes & Renames) && !rows.empty()) {
            rows[size_t(random.bounded(qint32(rows.size())))].text = handle(random, 12);
            ++s.contacts.version;
        }
        break;
    case 4:
        if ((changes & Unreadable) && !rows.empty()) {
            MemoryContacts::Row& row = rows[size_t(random.bounded(qint32(rows.size())))];
            row.readable = !row.readable;
            ++s.contacts.version;
        }
        break;
    case 5:
        if ((changes & Stop) && random.bounded(10) == 0)
            observer.stop = true;
        break;
    }
}

using SearchFunction = void (*)(GuardedRoutine&, ChatService&, const SearchContacts&,
                                const SearchPattern&, TimestampText&, SearchObserver&, SearchSink&);

Trace run(SearchFunction search, quint32 seed, int changes, const QString& text)
{
    Scenario s;
    fill(s, seed, changes);
    Trace trace;
    QRandomGenerator random(seed ^ 0x5eedu);
    YieldingObserver observer(trace, [&](int) { change(s, observer, random, changes); });
    TraceReporter reporter(trace);
    GuardedRoutine routine(reporter, QStringLiteral("search"));
    const SearchPattern pattern(text);
    TimestampText timestamps(QLocale::c());
    TraceSink sink(trace);
    search(routine, s.chats, s.contacts, pattern, timestamps, observer, sink);
    for (const auto& [chat, message] : s.chats.reads)
        trace.rows << QStringLiteral("read %1 %2").arg(chat).arg(message);
    return trace;
}

} // namespace

class SearchEngineTest : public QObject {
    Q_OBJECT

private slots:
    // The indexed search finds the same rows in the same order, reads the same messages, yields
    // as often and reports the same failures as testing every row against every chat, while
    // rows are ticked, unticked, appended, renamed or lost in its yields.
    void sameRowsAsTestingEveryRow_data()
    {
        QTest::addColumn<int>("changes");
        QTest::addColumn<QString>("text");
        QTest::newRow("fixed list") << 0 << QString();
        QTest::newRow("ticks") << int(Ticks) << QString();
        QTest::newRow("ticks and appends") << int(Ticks | Appends) << QString();
        QTest::newRow("renames") << int(Ticks | Appends | Renames) << QStringLiteral("b");
        QTest::newRow("unreadable rows") << int(Ticks | Appends | Unreadable) << QString();
        QTest::newRow("lost peers") << int(Ticks | Appends | LostPeers) << QStringLiteral("n");
        QTest::newRow("stops") << int(Ticks | Appends | Stop) << QString();
        QTest::newRow("everything")
            << int(Ticks | Appends | Renames | Unreadable | LostPeers | Stop) << QString();
    }
    void sameRowsAsTestingEveryRow()
    {
        QFETCH(int, changes);
        QFETCH(QString, text);
        qsizetype rows = 0;
        qsizetype reports = 0;
        for (quint32 seed = 1; seed <= 300; ++seed) {
            const Trace expected = run(referenceSearch, seed, changes, text);
            const Trace actual = run(searchChats, seed, changes, text);
            QCOMPARE(actual.yields, expected.yields);
            QCOMPARE(actual.rows, expected.rows);
            QCOMPARE(actual.reports, expected.reports);
            rows += expected.rows.size();
            reports += expected.reports.size();
        }
        // The scenarios find rows, and those with failures report some.
        QVERIFY(rows > 1000);
        if (changes & (Unreadable | LostPeers))
            QVERIFY(reports > 0);
        else
            QCOMPARE(reports, 0);
    }

    // A sink that cannot take a row is reported once, under the step that appends it, and the
    // search then ends, keeping the rows it has.
    void failingSinkEndsTheSearchAfterOneReport_data()
    {
        QTest::addColumn<int>("accepted");
        QTest::addColumn<int>("step");
        // Every message gives three rows: name, body, timestamp.
        QTest::newRow("first row") << 0 << 140;
        QTest::newRow("a body") << 4 << 148;
        QTest::newRow("a timestamp") << 5 << 156;
    }
    void failingSinkEndsTheSearchAfterOneReport()
    {
        QFETCH(int, accepted);
        QFETCH(int, step);
        class FullSink final : public SearchSink {
        public:
            void found(const QString& contact, MessageField, const QString&) override
            {
                if (rows.size() == limit)
                    throw std::bad_alloc();
                rows << contact;
            }
            QStringList rows;
            int limit = 0;
        } sink;
        sink.limit = accepted;
        Scenario s;
        for (int i = 0; i < 3; ++i)
            s.chats.chats.push_back({QStringLiteral("p"),
                                     {{60'000, QStringLiteral("n"), QStringLiteral("b")},
                                      {120'000, QStringLiteral("n"), QStringLiteral("b")}}});
        s.contacts.rows = {{QStringLiteral("p"), true, true}, {QStringLiteral("p"), true, true}};
        Trace trace;
        YieldingObserver observer(trace, [](int) {});
        TraceReporter reporter(trace);
        GuardedRoutine routine(reporter, QStringLiteral("search"));
        TimestampText timestamps(QLocale::c());
        searchChats(routine, s.chats, s.contacts, SearchPattern(QString()), timestamps, observer,
                    sink);
        QCOMPARE(trace.reports, QStringList{QString::number(step) + u' '
                                            + QString::fromLatin1(std::bad_alloc().what())});
        QCOMPARE(sink.rows.size(), accepted);
        // Nothing is read after the message whose row failed.
        QCOMPARE(s.chats.reads.constLast(), std::make_pair(1, accepted / 3 + 1));
    }
};

QTEST_MAIN(SearchEngineTest)
#include "test_search_engine.moc"
