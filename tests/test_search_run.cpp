#include "app/contact_list_model.h"
#include "app/results_model.h"
#include "app/results_removal_lock.h"
#include "app/search_run.h"
#include "history_builder.h"
#include "search/search_pattern.h"
#include "window_harness.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace velmoran;
using namespace Qt::Literals::StringLiterals;
using velmoran::test::ShownDialog;
using velmoran::test::WindowHarness;

namespace {

// Chats: 1 alice (3 messages), 2 bob (2), 3 a group chat, 4 carol (none), 5 "Alice" (1). The
// messages name their senders by display name only.
ChatHistoryPtr smallHistory()
{
    const test::Utc noon("2021-03-04T12:00:00Z");
    return test::sharedHistory({{u"alice"_s,
                                 {{"2021-03-04T10:00:05Z", {}, u"Alice A"_s, u"hello Bob"_s},
                                  {"2021-03-05T00:00:00Z", {}, u"Me"_s, u"HELLO again"_s},
                                  {"2022-01-01T09:30:00Z", {}, u""_s, u"no name here"_s}}},
                                {u"bob"_s,
                                 {{"2021-06-07T08:09:10Z", {}, u"Bob"_s, u"hello from bob"_s},
                                  {"2021-06-07T08:09:11Z", {}, u"Bob"_s, u""_s}}},
                                {{}, {{noon, {}, u"Group"_s, u"hello all"_s}}},
                                {u"carol"_s},
                                {u"Alice"_s, {{noon, {}, u"Other"_s, u"hello twin"_s}}}},
                               QStringList{u"alice"_s, u"bob"_s, u"carol"_s});
}

// Chats of n messages each, every message "m<k>" from "peer<i>".
ChatHistoryPtr uniformHistory(int chats, int messages)
{
    const qint64 start = test::Utc("2020-01-01T01:00:00Z").ms;
    std::vector<test::ChatData> list;
    for (int i = 1; i <= chats; ++i) {
        test::ChatData& chat = list.emplace_back(test::ChatData{u"peer%1"_s.arg(i)});
        for (int k = 1; k <= messages; ++k)
            chat.messages.push_back({start + k % 60 * 1000, {}, chat.peer, u"m%1"_s.arg(k)});
    }
    return test::sharedHistory(list);
}

const QString Done = QStringLiteral("Done.");

QStringList strings(std::initializer_list<const char*> texts)
{
    QStringList result;
    for (const char* text : texts)
        result << QString::fromUtf8(text);
    return result;
}

} // namespace

class SearchRunTest : public QObject {
    Q_OBJECT

private slots:
    void matchRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("exact");
        QTest::addColumn<bool>("matches");
        QTest::newRow("substring") << "ell"
                                   << "hello" << true << true;
        QTest::newRow("whole field") << "hello"
                                     << "hello" << true << true;
        QTest::newRow("longer than field") << "hello!"
                                           << "hello" << true << false;
        QTest::newRow("case counts") << "HELLO"
                                     << "hello" << true << false;
        QTest::newRow("case ignored") << "HELLO"
                                      << "hello" << false << true;
        QTest::newRow("case ignored, accented") << "ÄRGER"
                                                << "viel ärger" << false << true;
        QTest::newRow("case ignored, Cyrillic") << "ПРИВЕТ"
                                                << "ну привет" << false << true;
        QTest::newRow("accent is not case") << "arger"
                                            << "ärger" << false << false;
        QTest::newRow("empty text, field") << ""
                                           << "x" << true << true;
        QTest::newRow("empty text, caseless") << ""
                                              << "x" << false << true;
        QTest::newRow("empty field") << ""
                                     << "" << true << false;
        QTest::newRow("text, empty field") << "a"
                                           << "" << false << false;
        QTest::newRow("surrogate pair") << "😀"
                                        << "ok 😀!" << true << true;
    }
    void matchRule()
    {
        QFETCH(QString, text);
        QFETCH(QString, field);
        QFETCH(bool, exact);
        QFETCH(bool, matches);
        const SearchPattern pattern(text);
        QCOMPARE(pattern.matches(field, exact ? Qt::CaseSensitive : Qt::CaseInsensitive), matches);
    }

    void patternFollowsNewText()
    {
        SearchPattern pattern(QStringLiteral("abc"));
        pattern.setText(QStringLiteral("xyz"));
        QVERIFY(!pattern.matches(u"abc", Qt::CaseSensitive));
        QVERIFY(pattern.matches(u"wxyz", Qt::CaseInsensitive));
    }

    void rowsFollowChatsTickedRowsMessagesAndFields()
    {
        WindowHarness f;
        f.chats.history = smallHistory();
        // alice twice, bob unticked, a contact without a chat.
        f.addContacts({QStringLiteral("alice"), QStringLiteral("dave")});
        f.addContacts({QStringLiteral("bob")}, false);
        f.addContacts({QStringLiteral("alice")});
        f.find(QStringLiteral("e"));
        const QStringList once = {
            QStringLiteral("alice|From Display Name|Alice A"),
            QStringLiteral("alice|Body|hello Bob"),
            QStringLiteral("alice|From Display Name|Me"),
            QStringLiteral("alice|Body|no name here"),
        };
        QCOMPARE(f.resultRows(), once + once);
        QCOMPARE(f.fake.dialogs.messages(), QStringList{Done});
        QCOMPARE(f.window.button(7)->text(), QStringLiteral("Start Finding"));
        QCOMPARE(f.window.mousePointer().value(), 0);
        QCOMPARE(f.window.progress().value(), 0.0);
        QCOMPARE(f.window.progress().text(), QStringLiteral("Progress Bar"));
        QVERIFY(f.window.search().stopRequested());
        QVERIFY(f.fake.dialogs.errorReports().isEmpty());
        // Every row is ticked and shown.
        for (qsizetype row = 1; row <= f.window.results().size(); ++row)
            QVERIFY(f.window.results().isChecked(row));
        QCOMPARE(f.window.results().rowCount(), f.window.results().size());
    }

    void letterCaseFollowsMatchCase_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("matchCase");
        QTest::addColumn<QStringList>("bodies");
        QTest::newRow("capitals, case counts") << "HELLO" << true << strings({"HELLO again"});
        QTest::newRow("capitals, case ignored")
            << "HELLO" << false << strings({"hello Bob", "HELLO again", "hello from bob"});
        QTest::newRow("small, case counts")
            << "hello" << true << strings({"hello Bob", "hello from bob"});
    }
    void letterCaseFollowsMatchCase()
    {
        QFETCH(QString, text);
        QFETCH(bool, matchCase);
        QFETCH(QStringList, bodies);
        WindowHarness f;
        f.chats.history = smallHistory();
        f.addContacts(f.chats.history->contacts);
        f.find(text, matchCase);
        QCOMPARE(f.resultBodies(), bodies);
    }

    void emptyTextListsEveryNonEmptyField()
    {
        WindowHarness f;
        f.chats.history = smallHistory();
        f.addContacts({QStringLiteral("bob")});
        f.find(QString());
        QCOMPARE(f.resultRows(), (QStringList{
                                     QStringLiteral("bob|From Display Name|Bob"),
                                     QStringLiteral("bob|Body|hello from bob"),
                                     QStringLiteral("bob|Timestamp|7 Jun 2021 08:09:10"),
                                     QStringLiteral("bob|From Display Name|Bob"),
                                     QStringLiteral("bob|Timestamp|7 Jun 2021 08:09:11"),
                                 }));
    }

    void timestampTextIsSearchedAndStored()
    {
        WindowHarness f;
        f.chats.history = smallHistory();
        f.addContacts({QStringLiteral("alice")});
        f.find(QStringLiteral("Mar 2021"));
        // The message at midnight shows its date alone.
        QCOMPARE(f.resultRows(), (QStringList{QStringLiteral("alice|Timestamp|4 Mar 2021 10:00:05"),
                                              QStringLiteral("alice|Timestamp|5 Mar 2021")}));
    }

    void chatsDifferingInCaseOnlyAreNotSearched()
    {
        WindowHarness f;
        f.chats.history = smallHistory();
        f.addContacts({QStringLiteral("Alice")});
        f.find(QStringLiteral("hello"));
        QCOMPARE(f.resultBodies(), QStringList{QStringLiteral("hello twin")});
    }

    void noTickedRowSearchesNothingAndSaysDone()
    {
        WindowHarness f;
        f.chats.history = smallHistory();
        f.addContacts({QStringLiteral("alice"), QStringLiteral("bob")}, false);
        f.find(QString());
        QVERIFY(f.resultRows().isEmpty());
        QCOMPARE(f.fake.dialogs.messages(), QStringList{Done});
        QVERIFY(f.chats.reads.isEmpty());
    }

    void emptyContactListIsToldAndNothingIsRead()
    {
        WindowHarness f;
        f.chats.history = smallHistory();
        f.find(QStringLiteral("x"));
        QCOMPARE(f.fake.dialogs.messages(),
                 QStringList{QStringLiteral(
                     "Contacts list is empty. Please click 'List Contacts In Skype'.")});
        QCOMPARE(f.chats.created, 0);
        QCOMPARE(f.window.button(7)->text(), QStringLiteral("Start Finding"));
        QCOMPARE(f.window.mousePointer().value(), 0);
    }

    void clientNotRunningShowsTheHelp()
    {
        WindowHarness f;
        f.chats.history = nullptr;
        f.addContacts({QStringLiteral("alice")});
        f.find(QStringLiteral("x"));
        QCOMPARE(f.chats.created, 1);
        QCOMPARE(f.fake.dialogs.shown.size(), 1);
        QCOMPARE(f.fake.dialogs.shown[0].kind, ShownDialog::Question);
        QCOMPARE(f.window.button(7)->text(), QStringLiteral("Start Finding"));
        QCOMPARE(f.window.mousePointer().value(), 0);
        // The next click starts a run.
        f.chats.history = smallHistory();
        f.find(QStringLiteral("hello"));
        QCOMPARE(f.fake.dialogs.messages(), QStringList{Done});
    }

    void serviceThatCannotBeCreatedIsReportedAndFreesTheButton()
    {
        WindowHarness f;
        f.chats.history = smallHistory();
        f.addContacts(f.chats.history->contacts);
        f.chats.failCreate = true;
        f.find(QStringLiteral("hello"));
        // The failed test of step 110 runs the branch for a client that is not running.
        const QStringList reports = f.fake.dialogs.errorReports();
        QCOMPARE(reports.size(), 2);
        QVERIFY(reports[0].contains(QStringLiteral("PushButton7_Click at line 108\r\r")));
        QVERIFY(reports[1].contains(QStringLiteral("PushButton7_Click at line 110\r\r")));
        QCOMPARE(f.fake.dialogs.texts(ShownDialog::Question).size(), 1);
        QCOMPARE(f.window.button(7)->text(), QStringLiteral("Start Finding"));
        QCOMPARE(f.window.mousePointer().value(), 0);
        QVERIFY(f.resultRows().isEmpty());
    }

    void progressShowsChatsReachedAndMessagePosition()
    {
        WindowHarness f;
        f.chats.history = uniformHistory(3, 4);
        f.addContacts(f.chats.history->contacts);
        QStringList seen;
        f.chats.onMessage = [&](qint32 chat, qint32) {
            seen << QStringLiteral("%1 %2 %3")
                        .arg(f.window.progress().value())
                        .arg(f.window.progress().text())
                        .arg(chat);
        };
        f.find(QStringLiteral("nothing"));
        QCOMPARE(
            seen,
            (strings({"33 Reading 1 of 4 1", "33 Reading 2 of 4 1", "33 Reading 3 of 4 1",
                      "33 Reading 4 of 4 1", "66 Reading 1 of 4 2", "66 Reading 2 of 4 2",
                      "66 Reading 3 of 4 2", "66 Reading 4 of 4 2", "100 Reading 1 of 4 3",
                      "100 Reading 2 of 4 3", "100 Reading 3 of 4 3", "100 Reading 4 of 4 3"})));
        QCOMPARE(f.window.progress().value(), 0.0);
        QCOMPARE(f.window.progress().text(), QStringLiteral("Progress Bar"));
    }

    void progressValueIsTheWholePart()
    {
        // 29 of 100 chats is 29, not 28 (29 / 100 * 100 in floating point is 28.999...).
        WindowHarness f;
        f.chats.history = uniformHistory(100, 1);
        f.addContacts({QStringLiteral("peer29")});
        double value = -1;
        f.chats.onMessage = [&](qint32, qint32) { value = f.window.progress().value(); };
        f.find(QStringLiteral("x"));
        QCOMPARE(value, 29.0);
    }

    void stopClickLetsOneMoreMessageBeTested()
    {
        WindowHarness f;
        f.chats.history = uniformHistory(3, 10);
        f.addContacts(f.chats.history->contacts);
        f.chats.onMessage = [&](qint32 chat, qint32 message) {
            if (chat == 1 && message == 5)
                f.whenEventsRun([&] { f.window.button(7)->click(); });
            // The caption stays until the run ends.
            QCOMPARE(f.window.button(7)->text(), QStringLiteral("Stop Finding"));
        };
        f.find(QString());
        // The click is handled in the yield before message 6, which is still tested.
        QCOMPARE(f.resultBodies(), (strings({"m1", "m2", "m3", "m4", "m5", "m6"})));
        QCOMPARE(f.fake.dialogs.messages(), QStringList{Done});
        QCOMPARE(f.window.button(7)->text(), QStringLiteral("Start Finding"));
        QCOMPARE(f.window.mousePointer().value(), 0);
        // A click now starts a new run, appending after the first.
        f.chats.onMessage = nullptr;
        f.find(QStringLiteral("m10"));
        QCOMPARE(f.resultBodies().mid(6), (strings({"m10", "m10", "m10"})));
    }

    void commandsInsideTheYieldsTakeEffect_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("bodies");
        const QStringList all = strings({"m1", "m2", "m3", "m4", "m1", "m2", "m3", "m4"});
        QTest::newRow("clear results") << "clear" << strings({"m3", "m4", "m1", "m2", "m3", "m4"});
        QTest::newRow("untick second contact") << "untick" << strings({"m1", "m2", "m3", "m4"});
        QTest::newRow("new search text") << "text" << strings({"m1", "m2"});
        QTest::newRow("match case off") << "caseless" << all.mid(2);
        QTest::newRow("contacts listed again") << "list" << all + all.mid(4);
        QTest::newRow("copy to clipboard") << "copy" << all;
        QTest::newRow("double-click first body") << "remove" << all.mid(1);
        QTest::newRow("remove results containing") << "filter" << all.mid(2);
    }
    void commandsInsideTheYieldsTakeEffect()
    {
        QFETCH(QString, action);
        QFETCH(QStringList, bodies);
        WindowHarness f;
        f.chats.history = uniformHistory(2, 4);
        f.addContacts(f.chats.history->contacts);
        f.window.resultsListView()->show();
        f.chats.onMessage = [&](qint32 chat, qint32 message) {
            if (chat != 1 || message != 2)
                return;
            f.whenEventsRun([&] {
                Form1& w = f.window;
                if (action == u"clear")
                    w.results().clear();
                else if (action == u"untick")
                    w.contacts().setChecked(2, false);
                else if (action == u"text")
                    w.searchText()->setText(QStringLiteral("peer1"));
                else if (action == u"caseless")
                    w.matchCase()->setChecked(false);
                else if (action == u"list")
                    w.button(2)->click();
                else if (action == u"copy")
                    w.button(8)->click();
                else if (action == u"filter") {
                    f.fake.dialogs.answerInput(QStringLiteral("peer1"));
                    w.button(17)->click();
                } else if (action == u"remove") {
                    w.results().announcePending();
                    w.ListView2_DblClick(w.results().index(1, 0));
                }
            });
        };
        // "M" matches the bodies only when case is ignored; the other texts match the names.
        f.find(action == u"caseless" ? QStringLiteral("M") : QString());
        if (action == u"copy") {
            // The rows that were there when the copy ran: those of messages 1 and 2.
            const QString copied = f.fake.clipboard.text;
            QVERIFY(copied.contains(QStringLiteral("m2")));
            QVERIFY(!copied.contains(QStringLiteral("m3")));
        }
        if (action == u"text") {
            // From message 3 on, only the name "peer1" matches, and there are no bodies.
            QCOMPARE(f.resultBodies(), bodies);
            QCOMPARE(f.resultRows().last(), QStringLiteral("peer1|From Display Name|peer1"));
        } else {
            QCOMPARE(f.resultBodies(), bodies);
        }
        // The copy tells its outcome; the run ends with "Done." all the same.
        QCOMPARE(f.fake.dialogs.messages().count(Done), 1);
        QCOMPARE(f.fake.dialogs.messages().constLast(), Done);
        QCOMPARE(f.window.results().rowCount(), f.window.results().size());
        QVERIFY(f.fake.dialogs.errorReports().isEmpty());
    }

    void closingTheWindowEndsTheRunAtOnce()
    {
        WindowHarness f;
        f.chats.history = uniformHistory(2, 50);
        f.addContacts(f.chats.history->contacts);
        f.window.show();
        f.chats.onMessage = [&](qint32 chat, qint32 message) {
            if (chat == 1 && message == 3)
                f.whenEventsRun([&] { f.window.close(); });
        };
        f.find(QString());
        QVERIFY(f.fake.dialogs.shown.isEmpty());
        QCOMPARE(f.chats.reads.constLast(), std::make_pair(1, 3));
        QVERIFY(!f.window.isVisible());
    }

    void failingMessageIsReportedAndTheRunGoesOn()
    {
        WindowHarness f;
        f.chats.history = uniformHistory(1, 3);
        f.addContacts(f.chats.history->contacts);
        f.chats.failingChat = 1;
        f.chats.failingMessage = 2;
        // Events never run during this run, yet the report shows the message being read.
        f.window.eventPump().setMinimumInterval(1'000'000);
        QStringList progressAtReports;
        f.fake.dialogs.onShow = [&](const ShownDialog& dialog) {
            if (dialog.kind == ShownDialog::ErrorReport)
                progressAtReports << f.window.progressBar()->text();
        };
        f.find(QStringLiteral("m"));
        QCOMPARE(progressAtReports, QStringList(6, QStringLiteral("Reading 2 of 3")));
        QStringList lines;
        for (const QString& report : f.fake.dialogs.errorReports()) {
            QVERIFY(report.startsWith(QStringLiteral("The client lost the message.\r\n")));
            lines << report.section(u'\r', 1, 1).mid(1);
        }
        // A failed test runs what it guards; the rows then miss their values.
        const QString label =
            QStringLiteral("in Velmoran2021/08/31.Form1.PushButton7_Click at line %1");
        QCOMPARE(lines, (QStringList{label.arg(138), label.arg(144), label.arg(146), label.arg(152),
                                     label.arg(154), label.arg(160)}));
        QCOMPARE(f.resultBodies(), (strings({"m1", "", "m3"})));
        QCOMPARE(f.fake.dialogs.messages(), QStringList{Done});
    }

    // Running out of memory while a row is appended: one report under the step that appends,
    // the rows found so far stay, and the run ends as usual, ready for the next.
    void runningOutOfMemoryEndsTheRunWithOneReport_data()
    {
        QTest::addColumn<int>("accepted");
        QTest::addColumn<int>("step");
        // Each message gives three rows: name, body, timestamp. Two rows were there before.
        QTest::newRow("first row of the run") << 2 << 140;
        QTest::newRow("a name") << 8 << 140;
        QTest::newRow("a body") << 9 << 148;
        QTest::newRow("a timestamp") << 10 << 156;
    }
    void runningOutOfMemoryEndsTheRunWithOneReport()
    {
        QFETCH(int, accepted);
        QFETCH(int, step);
        WindowHarness f;
        f.chats.history = uniformHistory(3, 10);
        f.addContacts(f.chats.history->contacts);
        f.window.results().append(QStringLiteral("earlier"), MessageField::Body,
                                  QStringLiteral("a"));
        f.window.results().append(QStringLiteral("earlier"), MessageField::Body,
                                  QStringLiteral("b"));
        f.window.results().setAppendCheck([&](qsizetype rows) {
            if (rows >= accepted)
                throw std::bad_alloc();
        });
        f.find(QString());

        const QStringList reports = f.fake.dialogs.errorReports();
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports[0].startsWith(
                     QString::fromLatin1(std::bad_alloc().what())
                     + QStringLiteral("\r\nin Velmoran2021/08/31.Form1.PushButton7_Click "
                                      "at line %1\r\r")
                           .arg(step)),
                 qPrintable(reports[0]));
        QCOMPARE(f.window.results().size(), accepted);
        QCOMPARE(f.resultRows().mid(0, 2), (strings({"earlier|Body|a", "earlier|Body|b"})));
        // The run's rows up to the failing one: chat 1, message by message, three fields each.
        QStringList expected;
        for (int k = 1; k <= 3; ++k)
            expected << QStringLiteral("peer1|From Display Name|peer1")
                     << QStringLiteral("peer1|Body|m%1").arg(k)
                     << QStringLiteral("peer1|Timestamp|");
        expected = expected.mid(0, accepted - 2);
        QStringList kept = f.resultRows().mid(2);
        for (QString& row : kept) {
            if (row.startsWith(QLatin1String("peer1|Timestamp|")))
                row = QStringLiteral("peer1|Timestamp|");
        }
        QCOMPARE(kept, expected);
        // Nothing is read after the message whose row failed.
        QCOMPARE(f.chats.reads.constLast(), std::make_pair(1, (accepted - 2) / 3 + 1));
        QCOMPARE(f.fake.dialogs.messages(), QStringList{Done});
        QCOMPARE(f.window.button(7)->text(), QStringLiteral("Start Finding"));
        QCOMPARE(f.window.mousePointer().value(), 0);
        QCOMPARE(f.window.results().rowCount(), f.window.results().size());
        // With memory again, the next run appends after the rows kept.
        f.window.results().setAppendCheck({});
        f.find(QStringLiteral("m10"));
        QCOMPARE(f.resultBodies().mid(f.resultBodies().size() - 3),
                 (strings({"m10", "m10", "m10"})));
        QCOMPARE(f.fake.dialogs.errorReports().size(), 1);
    }

    void doubleClickRemovesAResultsRow()
    {
        WindowHarness f;
        f.chats.history = smallHistory();
        f.addContacts({QStringLiteral("bob")});
        f.find(QString());
        QTableView* view = f.window.resultsListView();
        f.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.window));
        const QRect second = view->visualRect(f.window.results().index(1, 2));
        {
            // Not while a command holds positions into the list.
            ResultsRemovalLock::Hold hold(f.window.resultsRemoval());
            f.window.ListView2_DblClick(f.window.results().index(1, 2));
            QCOMPARE(f.window.results().size(), 5);
        }
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, second.center());
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, second.center());
        QCOMPARE(f.resultRows(), (QStringList{
                                     QStringLiteral("bob|From Display Name|Bob"),
                                     QStringLiteral("bob|Timestamp|7 Jun 2021 08:09:10"),
                                     QStringLiteral("bob|From Display Name|Bob"),
                                     QStringLiteral("bob|Timestamp|7 Jun 2021 08:09:11"),
                                 }));
    }
};

QTEST_MAIN(SearchRunTest)
#include "test_search_run.moc"
