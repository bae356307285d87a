#include "app/contact_list_model.h"
#include "app/mouse_pointer.h"
#include "core/failure.h"
#include "help/main_window_help.h"
#include "window_harness.h"

#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace velmoran;
using velmoran::test::ShownDialog;
using velmoran::test::WindowHarness;

namespace {

QList<bool> all(bool tick, qsizetype n)
{
    return QList<bool>(n, tick);
}

QString reportEnding(const QString& routine, int step)
{
    return QStringLiteral("in Velmoran2021/08/31.Form1.%1 at line %2\r\r").arg(routine).arg(step);
}

// Checks that the reports came from the given steps of a routine, in order, and each starts
// with the failing operation's own description.
void compareReports(const QStringList& reports, const QString& routine,
                    const QList<QPair<int, QString>>& expected)
{
    QCOMPARE(reports.size(), expected.size());
    for (qsizetype i = 0; i < reports.size(); ++i) {
        QVERIFY2(reports[i].startsWith(expected[i].second + QStringLiteral("\r\n")),
                 qPrintable(reports[i]));
        QVERIFY2(reports[i].contains(reportEnding(routine, expected[i].first)),
                 qPrintable(reports[i]));
    }
}

const QStringList SampleContacts = {
    QStringLiteral("anna.kowalska"),   QStringLiteral("kenji.tanaka"),
    QStringLiteral("olga.petrova"),    QStringLiteral("mohammed.haddad"),
    QStringLiteral("lucia.fernandez"), QStringLiteral("dave.miller")};

} // namespace

class ContactListTest : public QObject {
    Q_OBJECT

private slots:
    void listingTheSampleTicksEveryContactInOrder()
    {
        WindowHarness f;
        f.serveSample();
        f.press(2);
        // dave.miller has no messages and is listed all the same.
        QCOMPARE(f.contactTexts(), SampleContacts);
        QCOMPARE(f.contactTicks(), all(true, 6));
        QCOMPARE(f.window.mousePointer().value(), 0);
        QVERIFY(f.fake.dialogs.shown.isEmpty());

        f.press(2);
        QCOMPARE(f.contactTexts(), SampleContacts + SampleContacts);
        QCOMPARE(f.contactTicks(), all(true, 12));
        QVERIFY(f.fake.dialogs.shown.isEmpty());
    }

    // Messages a reader left out are told in one message box once the listing is complete,
    // and only once.
    void leftOutMessagesAreToldOnceAfterTheListing()
    {
        WindowHarness f;
        f.serveSample();
        const QString first =
            QStringLiteral("2 messages of \"a.tar\" could not be read and were left out.");
        const QString second =
            QStringLiteral("1 message of \"b.json\" could not be read and was left out.");
        f.chats.addNotice(first);
        f.chats.addNotice(second);
        QStringList listedWhenTold;
        QList<bool> ticksWhenTold;
        int pointerWhenTold = -1;
        f.fake.dialogs.onShow = [&](const ShownDialog&) {
            listedWhenTold = f.contactTexts();
            ticksWhenTold = f.contactTicks();
            pointerWhenTold = f.window.mousePointer().value();
        };
        f.press(2);
        QCOMPARE(f.fake.dialogs.shown.size(), 1);
        QCOMPARE(f.fake.dialogs.shown[0].kind, ShownDialog::Message);
        QCOMPARE(f.fake.dialogs.shown[0].text, first + QStringLiteral("\r\r") + second);
        QCOMPARE(listedWhenTold, SampleContacts);
        QCOMPARE(ticksWhenTold, all(true, 6));
        QCOMPARE(pointerWhenTold, 0);

        f.press(2);
        QCOMPARE(f.contactTexts(), SampleContacts + SampleContacts);
        QCOMPARE(f.fake.dialogs.shown.size(), 1);
        QVERIFY(f.reports().isEmpty());
    }

    void listingShowsTheHourglassWhileItWorks()
    {
        WindowHarness f;
        f.chats.setContacts({QStringLiteral("a")});
        int pointerAtCreate = -1;
        f.chats.onCreate = [&] { pointerAtCreate = f.window.mousePointer().value(); };
        f.window.mousePointer().set(MousePointer::Custom);
        f.press(2);
        QCOMPARE(pointerAtCreate, 11);
        QCOMPARE(f.window.mousePointer().value(), 0);
        QCOMPARE(f.chats.created, 1);
        f.press(2);
        // A service of its own for every click.
        QCOMPARE(f.chats.created, 2);
    }

    void listingSkipsEmptyHandlesAndTicksOldRowsToo_data()
    {
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<QStringList>("second");
        QTest::addColumn<QStringList>("rows");
        const QString a = QStringLiteral("a"), b = QStringLiteral("b"), e;
        QTest::newRow("empty handles skipped")
            << QStringList{e, a, e, b, e} << QStringList{} << QStringList{a, b};
        QTest::newRow("only empty handles") << QStringList{e, e} << QStringList{e} << QStringList{};
        QTest::newRow("second listing appends again")
            << QStringList{a, b} << QStringList{b, a} << QStringList{a, b, b, a};
        QTest::newRow("repeated handles kept")
            << QStringList{a, a} << QStringList{a} << QStringList{a, a, a};
    }
    void listingSkipsEmptyHandlesAndTicksOldRowsToo()
    {
        QFETCH(QStringList, first);
        QFETCH(QStringList, second);
        QFETCH(QStringList, rows);
        WindowHarness f;
        f.chats.setContacts(first);
        f.press(2);
        // Rows the user unticks in between are ticked again by the next listing.
        for (int row = 1; row <= f.window.contacts().size(); row += 2)
            f.tickContact(row, false);
        f.chats.setContacts(second);
        f.press(2);
        QCOMPARE(f.contactTexts(), rows);
        QCOMPARE(f.contactTicks(), all(true, rows.size()));
        QVERIFY(f.fake.dialogs.shown.isEmpty());
    }

    void checkAllAndUncheckAll_data()
    {
        QTest::addColumn<int>("rows");
        QTest::newRow("empty list") << 0;
        QTest::newRow("one row") << 1;
        QTest::newRow("several rows") << 5;
    }
    void checkAllAndUncheckAll()
    {
        QFETCH(int, rows);
        WindowHarness f;
        QStringList contacts;
        for (int i = 0; i < rows; ++i)
            contacts << QStringLiteral("c%1").arg(i);
        f.chats.setContacts(contacts);
        f.press(2);
        if (rows > 1)
            f.tickContact(2, false);
        // Neither touches the pointer.
        f.window.mousePointer().set(MousePointer::Custom);

        f.press(4);
        QCOMPARE(f.contactTicks(), all(false, rows));
        f.press(4);
        QCOMPARE(f.contactTicks(), all(false, rows));
        f.press(3);
        QCOMPARE(f.contactTicks(), all(true, rows));
        QCOMPARE(f.contactTexts(), contacts);
        QCOMPARE(f.window.mousePointer().value(), 99);
        QVERIFY(f.fake.dialogs.shown.isEmpty());
        QCOMPARE(f.chats.created, 1);
    }

    void largeListsAreTickedWholeInOneAnnouncement()
    {
        WindowHarness f;
        const int n = 40000; // beyond a 16-bit row counter
        QStringList contacts;
        for (int i = 1; i <= n; ++i)
            contacts << QStringLiteral("contact%1").arg(i);
        f.chats.setContacts(contacts);
        ContactListModel& model = f.window.contacts();
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        f.press(2);
        QCOMPARE(model.size(), n);
        QCOMPARE(f.contactTicks(), all(true, n));
        QCOMPARE(model.text(32768), QStringLiteral("contact32768"));
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(changed.size(), 1);

        f.press(4);
        QCOMPARE(f.contactTicks(), all(false, n));
        QCOMPARE(changed.size(), 2);
        f.press(3);
        QCOMPARE(f.contactTicks(), all(true, n));
        QCOMPARE(changed.size(), 3);
        QVERIFY(f.fake.dialogs.shown.isEmpty());
        // The view reads the same rows.
        QCOMPARE(f.window.contactListView()->model()->rowCount(), n);
    }

    void clientNotRunningShowsTheHelpAndLeavesTheList_data()
    {
        QTest::addColumn<bool>("wantsVideo");
        QTest::newRow("help answered No") << false;
        QTest::newRow("help answered Yes") << true;
    }
    void clientNotRunningShowsTheHelpAndLeavesTheList()
    {
        QFETCH(bool, wantsVideo);
        WindowHarness f;
        f.chats.setContacts({QStringLiteral("a"), QStringLiteral("b")});
        f.press(2);
        f.tickContact(1, false);
        f.chats.running = false;
        int pointerDuringHelp = -1;
        f.fake.dialogs.onShow = [&](const ShownDialog&) {
            pointerDuringHelp = f.window.mousePointer().value();
        };
        f.fake.dialogs.answerQuestion(wantsVideo);
        f.press(2);

        QCOMPARE(f.contactTexts(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
        QCOMPARE(f.contactTicks(), (QList<bool>{false, true}));
        QCOMPARE(f.fake.dialogs.shown.size(), 1);
        QCOMPARE(f.fake.dialogs.shown[0].kind, ShownDialog::Question);
        QCOMPARE(f.fake.dialogs.shown[0].text,
                 mainWindowHelpText(QStringLiteral("List Contacts In Skype")));
        QCOMPARE(pointerDuringHelp, 0);
        QCOMPARE(f.window.mousePointer().value(), 0);
        QCOMPARE(f.fake.shell.documents.size(), wantsVideo ? 1 : 0);
    }

    void failuresAreReportedAndTheListingGoesOn_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QList<int>>("steps");
        QTest::addColumn<QStringList>("descriptions");
        QTest::addColumn<bool>("helpShown");
        QTest::addColumn<QStringList>("rows");

        const QString notCreated = QStringLiteral("The chat service could not be created.");
        const QString notRead = QStringLiteral("The contacts could not be read.");
        const QStringList old = {QStringLiteral("old")};
        // A failed creation fails the running test too, which then counts as "not running".
        QTest::newRow("create") << QStringLiteral("create") << QList<int>{102, 104}
                                << QStringList{QStringLiteral("Cannot create the chat service"),
                                               notCreated}
                                << true << old;
        QTest::newRow("running test")
            << QStringLiteral("running") << QList<int>{104}
            << QStringList{QStringLiteral("The client did not answer")} << true << old;
        // The walk's body runs once for a contact that is not there; no row is added and the
        // tick pass still ticks the rows already listed.
        QTest::newRow("contacts") << QStringLiteral("contacts") << QList<int>{110, 112, 114}
                                  << QStringList{QStringLiteral("Reading the contacts failed"),
                                                 notRead, notRead}
                                  << false << old;
    }
    void failuresAreReportedAndTheListingGoesOn()
    {
        QFETCH(QString, failing);
        QFETCH(QList<int>, steps);
        QFETCH(QStringList, descriptions);
        QFETCH(bool, helpShown);
        QFETCH(QStringList, rows);

        WindowHarness f;
        f.chats.setContacts({QStringLiteral("old")});
        f.press(2);
        f.tickContact(1, false);
        f.chats.setContacts({QStringLiteral("new")});
        f.chats.failCreate = failing == QLatin1String("create");
        f.chats.failIsClientRunning = failing == QLatin1String("running");
        f.chats.failEnumerateContacts = failing == QLatin1String("contacts");
        f.press(2);

        QList<QPair<int, QString>> expected;
        for (qsizetype i = 0; i < steps.size(); ++i)
            expected << qMakePair(steps[i], descriptions[i]);
        compareReports(f.reports(), QStringLiteral("PushButton2_Click"), expected);
        QCOMPARE(f.fake.dialogs.texts(ShownDialog::Question).size(), helpShown ? 1 : 0);
        if (helpShown) {
            // The help comes after the reports.
            QCOMPARE(f.fake.dialogs.shown.constLast().kind, ShownDialog::Question);
        }
        QCOMPARE(f.contactTexts(), rows);
        // The not-running branch leaves the ticks alone; a listing ticks every row.
        QCOMPARE(f.contactTicks(), all(!helpShown, rows.size()));
        QCOMPARE(f.window.mousePointer().value(), 0);
    }

    void unreadableContactsOnAnEmptyListAddNothing()
    {
        // With nothing listed and the contacts unreadable, the single pass of the walk adds
        // nothing, and the tick pass over the empty list has nothing to do.
        WindowHarness f;
        f.chats.failEnumerateContacts = true;
        f.press(2);
        QCOMPARE(f.reports().size(), 3);
        QVERIFY(f.contactTexts().isEmpty());
        QCOMPARE(f.window.mousePointer().value(), 0);
    }

    void helpFailureWhileNotRunningIsReportedUnderTheHelp()
    {
        WindowHarness f;
        f.chats.running = false;
        f.fake.dialogs.onShow = [](const ShownDialog& dialog) {
            if (dialog.kind == ShownDialog::Question)
                throw Failure(QStringLiteral("The message box could not be shown"));
        };
        f.press(2);
        compareReports(f.reports(), QStringLiteral("PushButton13_Click"),
                       {{100, QStringLiteral("The message box could not be shown")}});
        // The failed question counts as Yes: the video is requested.
        QCOMPARE(f.fake.shell.documents.size(), 1);
        QCOMPARE(f.window.mousePointer().value(), 0);
    }
};

QTEST_MAIN(ContactListTest)
#include "test_contact_list.moc"
