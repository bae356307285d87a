#include "app/contact_list_model.h"
#include "app/results_model.h"
#include "core/application_title.h"
#include "window_harness.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTest>
#include <QTimer>

using namespace velmoran;
using velmoran::test::WindowHarness;

namespace {

using Start = WindowHarness::Start;

QRect twips(int l, int t, int w, int h)
{
    return {twipsToPixels(l), twipsToPixels(t), twipsToPixels(w), twipsToPixels(h)};
}

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QString sourceCursorPath()
{
    return QStringLiteral(VELMORAN_SOURCE_DIR "/app/resources/HAND-M.CUR");
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void controlsHaveTheirCaptionsAndPlaces()
    {
        WindowHarness f;
        Form1& w = f.window;
        QCOMPARE(w.windowTitle(), QStringLiteral("Velmoran Software"));
        QCOMPARE(applicationTitle(), QStringLiteral("Velmoran"));
        QCOMPARE(w.size(), QSize(536, 645));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(w.palette().color(QPalette::Window), QColor(Qt::white));

        const struct {
            int number;
            const char* caption;
            QRect geometry;
        } buttons[] = {
            {13, "Help", twips(120, 120, 7800, 405)},
            {2, "List Contacts In Skype", twips(120, 630, 7800, 405)},
            {3, "Check All", twips(120, 3045, 3840, 405)},
            {4, "Uncheck All", twips(4080, 3045, 3840, 405)},
            {7, "Start Finding", twips(240, 750, 7320, 405)},
            {5, "Save Results As Text File", twips(120, 7610, 3840, 405)},
            {14, "Save Results As Excel File", twips(4080, 7610, 3840, 405)},
            {8, "Copy Results To Clipboard", twips(120, 8120, 3840, 405)},
            {6, "Clear Results", twips(4080, 8120, 3840, 405)},
            {17, "Remove Results Containing X", twips(120, 8630, 3840, 405)},
            {11, "Remove Results Not Containing X", twips(4080, 8630, 3840, 405)},
            {1, "2. Click 'Allow access' In Skype", twips(120, 9810, 3840, 405)},
        };
        for (const auto& b : buttons) {
            QPushButton* button =
                w.findChild<QPushButton*>(QStringLiteral("PushButton%1").arg(b.number));
            QVERIFY2(button, b.caption);
            QCOMPARE(button->text(), QString::fromUtf8(b.caption));
            QCOMPARE(button->geometry(), b.geometry);
            QCOMPARE(button->font().family(), QStringLiteral("Arial"));
            QCOMPARE(button->font().pointSizeF(), 11.25);
            QVERIFY(button->font().bold());
        }
        QCOMPARE(w.button(7)->parentWidget(), w.searchFrame());

        QCOMPARE(w.matchOptionFrame()->title(), QStringLiteral("Match Option"));
        QCOMPARE(w.matchOptionFrame()->geometry(), twips(120, 3510, 7800, 705));
        QCOMPARE(w.searchFrame()->title(), QStringLiteral("Search For This Text"));
        QCOMPARE(w.searchFrame()->geometry(), twips(120, 4275, 7800, 1320));
        QCOMPARE(w.matchCase()->text(), QStringLiteral("Match case"));
        QCOMPARE(w.matchCase()->parentWidget(), w.matchOptionFrame());
        QCOMPARE(w.matchCase()->geometry(), twips(240, 300, 1335, 255));
        QVERIFY(w.matchCase()->isChecked());
        QCOMPARE(w.searchText()->parentWidget(), w.searchFrame());
        QCOMPARE(w.searchText()->geometry(), twips(240, 300, 7320, 345));
        QVERIFY(w.searchText()->text().isEmpty());
        QCOMPARE(w.contactListView()->geometry(), twips(120, 1140, 7800, 1815));
        QCOMPARE(w.resultsListView()->geometry(), twips(120, 5700, 7800, 1815));
        QCOMPARE(w.progressBar()->geometry(), twips(120, 9150, 7800, 405));
        QCOMPARE(w.progress().text(), QStringLiteral("Progress Bar"));
        QCOMPARE(w.progressBar()->text(), QStringLiteral("Progress Bar"));
        QCOMPARE(w.progress().value(), 0.0);
        for (QWidget* control :
             {static_cast<QWidget*>(w.matchOptionFrame()), static_cast<QWidget*>(w.searchFrame()),
              static_cast<QWidget*>(w.matchCase()), static_cast<QWidget*>(w.searchText())}) {
            QCOMPARE(control->font().pointSizeF(), 9.0);
            QVERIFY(control->font().bold());
        }
        QCOMPARE(w.matchCase()->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(w.searchFrame()->palette().color(QPalette::Window), QColor(Qt::white));

        // The allow-access button lies below the client area.
        QVERIFY(w.button(1)->geometry().top() >= w.height());
    }

    void listsOpenEmptyWithTheirColumns()
    {
        WindowHarness f;
        Form1& w = f.window;
        QCOMPARE(w.contacts().columnCount(), 1);
        QCOMPARE(w.contacts().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("Contacts"));
        QCOMPARE(w.contactListView()->columnWidth(0), twipsToPixels(7300));
        QCOMPARE(w.contacts().rowCount(), 0);

        QCOMPARE(w.results().columnCount(), 3);
        const QStringList headers = {QStringLiteral("Contact"), QStringLiteral("Field"),
                                     QStringLiteral("Value")};
        const int widths[] = {2000, 2300, 3000};
        for (int c = 0; c < 3; ++c) {
            QCOMPARE(w.results().headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(),
                     headers[c]);
            QCOMPARE(w.resultsListView()->columnWidth(c), twipsToPixels(widths[c]));
        }
        QCOMPARE(w.results().rowCount(), 0);
        QVERIFY(!w.resultsListView()->horizontalHeader()->sectionsClickable());
        QCOMPARE(w.contactListView()->toolTip(),
                 QStringLiteral("Move | line to right and out of window to reveal full names."));
        QCOMPARE(w.resultsListView()->toolTip(),
                 QStringLiteral("Double-click item to remove it. Move | line to right and out of "
                                "window to reveal full names."));
    }

    void userTicksRowsInBothLists()
    {
        WindowHarness f;
        Form1& w = f.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.contacts().append(QStringLiteral("anna"));
        w.contacts().setChecked(1, true);
        w.results().append(QStringLiteral("anna"), MessageField::Body, QStringLiteral("hi"));
        w.results().announcePending();

        // A click on the tick of the first row, where the view draws it.
        auto clickTick = [](QTableView* view) {
            QStyleOptionViewItem option;
            option.initFrom(view);
            option.rect = view->visualRect(view->model()->index(0, 0));
            option.features |= QStyleOptionViewItem::HasCheckIndicator;
            const QRect tick =
                view->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, view);
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, tick.center());
        };
        clickTick(w.contactListView());
        QVERIFY(!w.contacts().isChecked(1));
        clickTick(w.contactListView());
        QVERIFY(w.contacts().isChecked(1));
        clickTick(w.resultsListView());
        QVERIFY(!w.results().isChecked(1));

        // Only the first column carries a tick, and rows the view has not been shown yet
        // cannot be ticked through it.
        QVERIFY(!(w.results().flags(w.results().index(0, 1)) & Qt::ItemIsUserCheckable));
        QVERIFY(!w.results().setData(w.results().index(0, 1), Qt::Unchecked, Qt::CheckStateRole));
        w.results().setDeferAnnouncements(true);
        w.results().append(QStringLiteral("bob"), MessageField::Body, QStringLiteral("yo"));
        QVERIFY(!w.results().setData(w.results().index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
        QVERIFY(w.results().isChecked(2));
    }

    void focusStartsInTheContactListAndFollowsTheDesign()
    {
        WindowHarness f;
        Form1& w = f.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(QApplication::focusWidget(), w.contactListView());
        const QList<QWidget*> expected = {
            w.button(2), w.button(13),   w.button(1),   w.button(3),
            w.button(4), w.searchText(), w.matchCase(), w.resultsListView(),
            w.button(5), w.button(6),    w.button(17),  w.button(11),
            w.button(8), w.button(14),   w.button(7),   w.contactListView()};
        for (QWidget* next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void startsWithoutSkinOrPointerFiles()
    {
        WindowHarness f;
        QVERIFY(f.fake.dialogs.shown.isEmpty());
        QVERIFY(!f.window.mousePointer().icon());
        QVERIFY(!f.window.skinEngine().isLoaded());
        QCOMPARE(f.window.palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(f.window.mousePointer().value(), 0);
    }

    void loadsTheHandPointerBesideTheProgram()
    {
        WindowHarness f(Start::NotLoaded);
        QVERIFY(QFile::copy(sourceCursorPath(), f.folder.filePath(QStringLiteral("HAND-M.CUR"))));
        f.load();
        QVERIFY(f.fake.dialogs.shown.isEmpty());
        QVERIFY(f.window.mousePointer().icon());
        QCOMPARE(f.window.mousePointer().icon()->hotSpot(), QPoint(5, 0));
        // Loading the image does not select it.
        QCOMPARE(f.window.mousePointer().value(), 0);
    }

    void unreadablePointerFileIsReportedAsStep106()
    {
        WindowHarness f(Start::NotLoaded);
        writeFile(f.folder.filePath(QStringLiteral("HAND-M.CUR")), "not a cursor");
        f.load();
        const QStringList reports = f.fake.dialogs.errorReports();
        QCOMPARE(reports.size(), 1);
        QVERIFY(reports[0].contains(
            QStringLiteral("in Velmoran2021/08/31.Form1.Form_Load at line 106\r\r")));
        QVERIFY(!f.window.mousePointer().icon());
        // Start-up went on to the end.
        QCOMPARE(f.window.results().columnCount(), 3);
    }

    void skinFileRestylesTheWindow()
    {
        WindowHarness f(Start::NotLoaded);
        writeFile(f.folder.filePath(QStringLiteral("x/o.cjs")),
                  "QPushButton { color: rgb(1, 2, 3); }");
        f.load();
        QVERIFY(f.fake.dialogs.shown.isEmpty());
        QVERIFY(f.window.skinEngine().isLoaded());
        QCOMPARE(f.window.skinEngine().optionFlags() & 1, 1);
        QVERIFY(f.window.skinEngine().applyToNewWindows());
        QVERIFY(f.window.skinEngine().skinToolTips());
        const QColor buttonFace = QApplication::palette().color(QPalette::Button);
        QCOMPARE(f.window.palette().color(QPalette::Window), buttonFace);
        QCOMPARE(f.window.matchCase()->palette().color(QPalette::Window), buttonFace);
        QCOMPARE(f.window.searchFrame()->palette().color(QPalette::Window), buttonFace);
        QVERIFY(qApp->styleSheet().contains(QStringLiteral("rgb(1, 2, 3)")));
        qApp->setStyleSheet(QString());
    }

    void emptySkinFileFailsStep100AndStartUpGoesOn()
    {
        WindowHarness f(Start::NotLoaded);
        writeFile(f.folder.filePath(QStringLiteral("x/o.cjs")), "  \n");
        f.load();
        const QStringList reports = f.fake.dialogs.errorReports();
        QCOMPARE(reports.size(), 1);
        QVERIFY(reports[0].contains(QStringLiteral("Form_Load at line 100\r\r")));
        QCOMPARE(f.window.windowTitle(), QStringLiteral("Velmoran Software"));
        // Colours changed before the failure stay changed.
        QCOMPARE(f.window.palette().color(QPalette::Window),
                 QApplication::palette().color(QPalette::Button));
    }

    void skinFolderThatIsADirectoryCountsAsAbsent()
    {
        WindowHarness f(Start::NotLoaded);
        QVERIFY(QDir().mkpath(f.folder.filePath(QStringLiteral("x/o.cjs"))));
        f.load();
        QVERIFY(f.fake.dialogs.shown.isEmpty());
        QCOMPARE(f.window.palette().color(QPalette::Window), QColor(Qt::white));
    }

    void siteVisitOnOneStartInAHundred_data()
    {
        QTest::addColumn<double>("draw");
        QTest::addColumn<bool>("opens");
        QTest::newRow("n = 7") << 0.06 << true;
        QTest::newRow("upper edge of 7") << 0.0699 << true;
        QTest::newRow("n = 6") << 0.0599 << false;
        QTest::newRow("n = 8") << 0.07 << false;
        QTest::newRow("n = 1") << 0.0 << false;
    }
    void siteVisitOnOneStartInAHundred()
    {
        QFETCH(double, draw);
        QFETCH(bool, opens);
        WindowHarness f(Start::NotLoaded);
        f.fake.random.value = draw;
        f.fake.clock.time = QDateTime(QDate(2026, 5, 6), QTime(1, 2, 3, 400));
        f.load();
        QCOMPARE(f.fake.random.seeds, QList<quint32>{3723});
        QCOMPARE(f.fake.shell.urls.size(), opens ? 1 : 0);
        if (opens)
            QCOMPARE(f.fake.shell.urls[0], QUrl(QStringLiteral("https://velmoran.org/")));
    }

    void pointerFollowsButtonsAndSurfaces()
    {
        WindowHarness f;
        Form1& w = f.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        MousePointer& pointer = w.mousePointer();

        QTest::mouseMove(w.button(3), QPoint(10, 10));
        QCOMPARE(pointer.value(), 99);
        // Without a pointer file the hand is the platform's default pointer.
        QCOMPARE(w.button(3)->cursor().shape(), Qt::ArrowCursor);
        QTest::mouseMove(&w, QPoint(2, 2));
        QCOMPARE(pointer.value(), 0);

        QTest::mouseMove(w.button(7), QPoint(5, 5));
        QCOMPARE(pointer.value(), 99);
        // The check box, text box and progress bar have no handler.
        QTest::mouseMove(w.matchCase(), QPoint(3, 3));
        QCOMPARE(pointer.value(), 99);
        QTest::mouseMove(w.searchText(), QPoint(3, 3));
        QCOMPARE(pointer.value(), 99);
        QTest::mouseMove(w.progressBar(), QPoint(3, 3));
        QCOMPARE(pointer.value(), 99);
        // Frames and lists are surfaces.
        QTest::mouseMove(w.searchFrame(),
                         QPoint(w.searchFrame()->width() - 3, w.searchFrame()->height() - 3));
        QCOMPARE(pointer.value(), 0);
        QTest::mouseMove(w.button(5), QPoint(5, 5));
        QTest::mouseMove(w.resultsListView()->viewport(), QPoint(20, 20));
        QCOMPARE(pointer.value(), 0);
        QTest::mouseMove(w.button(5), QPoint(5, 5));
        QTest::mouseMove(w.contactListView()->viewport(), QPoint(20, 20));
        QCOMPARE(pointer.value(), 0);
        QTest::mouseMove(w.button(5), QPoint(5, 5));
        QTest::mouseMove(w.matchOptionFrame(), QPoint(w.matchOptionFrame()->width() - 3, 25));
        QCOMPARE(pointer.value(), 0);
    }

    void hourglassStaysWhileACommandIsBusy()
    {
        WindowHarness f;
        Form1& w = f.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.mousePointer().set(11);
        QCOMPARE(w.cursor().shape(), Qt::WaitCursor);
        QCOMPARE(w.button(2)->cursor().shape(), Qt::WaitCursor);
        QTest::mouseMove(w.button(2), QPoint(5, 5));
        QCOMPARE(w.mousePointer().value(), 11);
        QTest::mouseMove(&w, QPoint(2, 2));
        QCOMPARE(w.mousePointer().value(), 11);
        w.mousePointer().set(0);
        QCOMPARE(w.searchText()->cursor().shape(), Qt::IBeamCursor);
        QTest::mouseMove(w.button(2), QPoint(6, 6));
        QCOMPARE(w.mousePointer().value(), 99);
    }

    void handPointerShowsOverButtonsWhenLoaded()
    {
        WindowHarness f(Start::NotLoaded);
        QVERIFY(QFile::copy(sourceCursorPath(), f.folder.filePath(QStringLiteral("HAND-M.CUR"))));
        f.load();
        f.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.window));
        QTest::mouseMove(f.window.button(4), QPoint(5, 5));
        QCOMPARE(f.window.button(4)->cursor().shape(), Qt::BitmapCursor);
    }

    void closingDuringAYieldEndsTheCommandAtOnce()
    {
        WindowHarness f;
        Form1& w = f.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        int passes = 0;
        bool ranPastTheLoop = false;
        bool innerRanPast = false;
        // While the long command yields, another command starts and yields too; then the
        // window is closed. Neither may run another step.
        QTimer::singleShot(20, &w, [&] {
            w.runCommand([&] {
                for (;;)
                    w.eventPump().yield();
                innerRanPast = true;
            });
        });
        QTimer::singleShot(60, &w, [&] { w.close(); });
        QElapsedTimer timer;
        timer.start();
        w.runCommand([&] {
            while (timer.elapsed() < 10000) {
                ++passes;
                w.eventPump().yield();
            }
            ranPastTheLoop = true;
            f.fake.dialogs.message(QStringLiteral("Done."));
        });
        QVERIFY(timer.elapsed() < 5000);
        QVERIFY(passes > 0);
        QVERIFY(!ranPastTheLoop);
        QVERIFY(!innerRanPast);
        QVERIFY(f.fake.dialogs.shown.isEmpty());
        QVERIFY(!w.isVisible());
        QVERIFY(w.eventPump().isClosing());
        // A click after the close starts nothing.
        bool started = false;
        w.runCommand([&] { started = true; });
        QVERIFY(!started);
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
