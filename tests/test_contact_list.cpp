#include "command_window.h"
#include "help/main_window_help.h"
#include "app/mouse_pointer.h"

#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace velmoran;
using velmoran::test::CommandWindow;
using velmoran::test::ShownDialog;

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
    QStringLiteral("anna.kowalska"), QStringLiteral("kenji.tanaka"),
    QStringLiteral("olga.petrova"),  QStringLiteral("mohammed.haddad"),
    QStringLiteral("lucia.fernandez"), QStringLiteral("dave.miller")};

} // namespace

class ContactListTest : public QObject {
    Q_OBJECT

private slots:
    void listingTheSampleTicksEveryContactInOrder()
    {
        CommandWindow f(CommandWindow::Sample);
        f.click(2);
        // dave.miller has no messages and is listed all the same.
        QCOMPARE(f.texts(), SampleContacts);
        QCOMPARE(f.ticks(), all(true, 6));
        QCOMPARE(f.window.mousePointer().value(), 0);
        QVERIFY(f.fake.dialogs.shown.isEmpty());

        f.click(2);
        QCOMPARE(f.texts(), SampleContacts + SampleContacts);
        QCOMPARE(f.ticks(), all(true, 12));
        QVERIFY(f.fake.dialogs.shown.isEmpty());
    }

    // Messages a reader left out are told in one message box once the listing is complete,
    // and only once.
    void leftOutMessagesAreToldOnceAfterTheListing()
    {
        CommandWindow f(CommandWindow::Sample);
        const QString first = QStringLiteral("2 messages of \"a.tar\" could not be read and were left out.");
        const QString second = QStringLiteral("1 message of \"b.json\" could not be read and was left out.");
        f.sample.addNotice(first);
        f.sample.addNotice(second);
        QStringList listedWhenTold;
        QList<bool> ticksWhenTold;
        int pointerWhenTold = -1;
        f.fake.dialogs.onShow = [&](const ShownDialog&) {
            listedWhenTold = f.texts();
            ticksWhenTold = f.ticks();
            pointerWhenTold = f.window.mousePointer().value();
        };
        f.click(2);
        QCOMPARE(f.fake.dialogs.shown.size(), 1);
        QCOMPARE(f.fake.dialogs.shown[0].kind, ShownDialog::Message);
        QCOMPARE(f.fake.dialogs.shown[0].text, first + QStringLiteral("\r\r") + second);
        QCOMPARE(listedWhenTold, SampleContacts);
        QCOMPARE(ticksWhenTold, all(true, 6));
        QCOMPARE(pointerWhenTold, 0);

        f.click(2);
        QCOMPARE(f.texts(), SampleContacts + SampleContacts);
        QCOMPARE(f.fake.dialogs.shown.size(), 1);
        QVERIFY(f.reports().isEmpty());
    }

    void listingShowsTheHourglassWhileItWorks()
    {
        CommandWindow f;
        f.scripted.contacts = {QStringLiteral("a")};
        int pointerAtCreate = -1;
        f.scripted.onCreate = [&] { pointerAtCreate = f.window.mousePointer().value(); };
        f.window.mousePointer().set(MousePointer::Custom);
        f.click(2);
        QCOMPARE(pointerAtCreate, 11);
        QCOMPARE(f.window.mousePointer().value(), 0);
        QCOMPARE(f.scripted.created, 1);
        f.click(2);
        // A service of its own for every click.
        QCOMPARE(f.scripted.created, 2);
    }

    void listingSkipsEmptyHandlesAndTicksOldRowsToo_data()
    {
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<QStringList>("second");
        QTest::addColumn<QStringList>("rows");
        const QString a = QStringLiteral("a"), b = QStringLiteral("b"), e;
        QTest::newRow("empty handles skipped") << QStringList{e, a, e, b, e} << QStringList{}
                                               << QStringList{a, b};
        QTest::newRow("only empty handles") << QStringList{e, e} << QStringList{e} << QStringList{};
        QTest::newRow("second listing appends again") << QStringList{a, b} << QStringList{b, a}
                                                       << QStringList{a, b, b, a};
        QTest::newRow("repeated handles kept") << QStringList{a, a} << QStringList{a}
                                                << QStringList{a, a, a};
    }
    void listingSkipsEmptyHandlesAndTicksOldRowsToo()
    {
        QFETCH(QStringList, first);
        QFETCH(QStringList, second);
        QFETCH(QStringList, rows);
        CommandWindow f;
        f.scripted.contacts = first;
        f.click(2);
        // Rows the user unticks in between are ticked again by the next listing.
        for (int row = 1; row <= f.window.contacts().size(); row += 2)
            f.untick(row);
        f.scripted.contacts = second;
        f.click(2);
        QCOMPARE(f.texts(), rows);
        QCOMPARE(f.ticks(), all(true, rows.size()));
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
        CommandWindow f;
        for (int i = 0; i < rows; ++i)
            f.scripted.contacts << QStringLiteral("c%1").arg(i);
        f.click(2);
        if (rows > 1)
            f.untick(2);
        // Neither touches the pointer.
        f.window.mousePointer().set(MousePointer::Custom);

        f.click(4);
        QCOMPARE(f.ticks(), all(false, rows));
        f.click(4);
        QCOMPARE(f.ticks(), all(false, rows));
        f.click(3);
        QCOMPARE(f.ticks(), all(true, rows));
        QCOMPARE(f.texts(), f.scripted.contacts);
        QCOMPARE(f.window.mousePointer().value(), 99);
        QVERIFY(f.fake.dialogs.shown.isEmpty());
        QCOMPARE(f.scripted.created, 1);
    }

    void largeListsAreTickedWholeInOneAnnouncement()
    {
        CommandWindow f;
        const int n = 40000; // beyond a 16-bit row counter
        for (int i = 1; i <= n; ++i)
            f.scripted.contacts << QStringLiteral("contact%1").arg(i);
        ContactListModel& model = f.window.contacts();
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        f.click(2);
        QCOMPARE(model.size(), n);
        QCOMPARE(f.ticks(), all(true, n));
        QCOMPARE(model.text(32768), QStringLiteral("contact32768"));
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(changed.size(), 1);

        f.click(4);
        QCOMPARE(f.ticks(), all(false, n));
        QCOMPARE(changed.size(), 2);
        f.click(3);
        QCOMPARE(f.ticks(), all(true, n));
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
        CommandWindow f;
        f.scripted.contacts = {QStringLiteral("a"), QStringLiteral("b")};
        f.click(2);
        f.untick(1);
        f.scripted.running = false;
        int pointerDuringHelp = -1;
        f.fake.dialogs.onShow = [&](const ShownDialog&) {
            pointerDuringHelp = f.window.mousePointer().value();
        };
        f.fake.dialogs.answerQuestion(wantsVideo);
        f.click(2);

        QCOMPARE(f.texts(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
        QCOMPARE(f.ticks(), (QList<bool>{false, true}));
        QCOMPARE(f.fake.dialogs.shown.size(), 1);
        QCOMPARE(f.fake.dialogs.shown[0].kind, ShownDialog::Question);
        QCOMPARE(f.fake.dialogs.shown[0].text, mainWindowHelpText(QStringLiteral("List Contacts In Skype")));
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
                                << QStringList{QStringLiteral("Cannot create the chat service"), notCreated}
                                << true << old;
        QTest::newRow("running test") << QStringLiteral("running") << QList<int>{104}
                                      << QStringList{QStringLiteral("The client did not answer")}
                                      << true << old;
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

        CommandWindow f;
        f.scripted.contacts = {QStringLiteral("old")};
        f.click(2);
        f.untick(1);
        f.scripted.contacts = {QStringLiteral("new")};
        f.scripted.failCreate = failing == QLatin1String("create");
        f.scripted.failIsClientRunning = failing == QLatin1String("running");
        f.scripted.failEnumerateContacts = failing == QLatin1String("contacts");
        f.click(2);

        QList<QPair<int, QString>> expected;
        for (qsizetype i = 0; i < steps.size(); ++i)
            expected << qMakePair(steps[i], descriptions[i]);
        compareReports(f.reports(), QStringLiteral("PushButton2_Click"), expected);
        QCOMPARE(f.fake.dialogs.texts(ShownDialog::Question).size(), helpShown ? 1 : 0);
        if (helpShown) {
            // The help comes after the reports.
            QCOMPARE(f.fake.dialogs.shown.constLast().kind, ShownDialog::Question);
        }
        QCOMPARE(f.texts(), rows);
        // The not-running branch leaves the ticks alone; a listing ticks every row.
        QCOMPARE(f.ticks(), all(!helpShown, rows.size()));
        QCOMPARE(f.window.mousePointer().value(), 0);
    }

    void unreadableContactsOnAnEmptyListAddNothing()
    {
        // With nothing listed and the contacts unreadable, the single pass of the walk adds
        // nothing, and the tick pass over the empty list has nothing to do.
        CommandWindow f;
        f.scripted.failEnumerateContacts = true;
        f.click(2);
        QCOMPARE(f.reports().size(), 3);
        QVERIFY(f.texts().isEmpty());
        QCOMPARE(f.window.mousePointer().value(), 0);
    }

    void helpFailureWhileNotRunningIsReportedUnderTheHelp()
    {
        CommandWindow f;
        f.scripted.running = false;
        f.fake.dialogs.onShow = [](const ShownDialog& dialog) {
            if (dialog.kind == ShownDialog::Question)
                throw Failure(QStringLiteral("The message box could not be shown"));
        };
        f.click(2);
        compareReports(f.reports(), QStringLiteral("PushButton13_Click"),
                       {{100, QStringLiteral("The message box could not be shown")}});
        // The failed question counts as Yes: the video is requested.
        QCOMPARE(f.fake.shell.documents.size(), 1);
        QCOMPARE(f.window.mousePointer().value(), 0);
    }
};

QTEST_MAIN(ContactListTest)
#include "test_contact_list.moc"
