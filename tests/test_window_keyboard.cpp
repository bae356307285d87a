#include "app/contact_list_model.h"
#include "app/form1.h"
#include "app/history_file_drop.h"
#include "app/progress_display.h"
#include "app/results_model.h"
#include "chat/history_loader.h"
#include "chat/sample_history.h"
#include "history_files.h"
#include "window_harness.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>
#include <QTimer>

using namespace velmoran;
using velmoran::test::ShownDialog;
using velmoran::test::WindowHarness;

namespace {

// The window on the built-in sample, shown and active, so keys reach it as a user's do.
struct ShownSampleWindow : WindowHarness {
    ShownSampleWindow()
    {
        serveSample();
        window.show();
    }
    bool active() { return QTest::qWaitForWindowActive(&window); }

    // Lists the contacts and searches them for text, so both lists hold rows.
    void fillBothLists(const QString& text)
    {
        press(2);
        window.searchText()->setText(text);
        press(7);
    }
    QTableView* contactsView() { return window.contactListView(); }
    QTableView* resultsView() { return window.resultsListView(); }
};

// The window without any history file yet, given files the ways a new user finds.
struct FirstUseWindow : WindowHarness {
    FirstUseWindow()
        : intake(new HistoryFileDrop(window, *window.contactListView(), readHistoryFiles({}),
                                     fake.dialogs))
    {
        window.show();
    }
    QList<ShownDialog> openDialogs() const
    {
        QList<ShownDialog> open;
        for (const ShownDialog& dialog : fake.dialogs.shown) {
            if (dialog.kind == ShownDialog::OpenFiles)
                open << dialog;
        }
        return open;
    }

    HistoryFileDrop* intake;
};

// The focus order of the window design, starting after the contact list.
QList<QWidget*> focusOrder(Form1& w)
{
    return {w.button(2), w.button(13),   w.button(1),   w.button(3),
            w.button(4), w.searchText(), w.matchCase(), w.resultsListView(),
            w.button(5), w.button(6),    w.button(17),  w.button(11),
            w.button(8), w.button(14),   w.button(7),   w.contactListView()};
}

// Pixels of the image that are clearly coloured rather than black, white or grey.
int colouredPixels(const QImage& image)
{
    int coloured = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int spread =
                std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()});
            coloured += spread > 60 ? 1 : 0;
        }
    }
    return coloured;
}

bool hasColourEmojiFont()
{
    for (const QString& family : QFontDatabase::families()) {
        if (family.contains(QStringLiteral("Emoji"), Qt::CaseInsensitive)
            && family.contains(QStringLiteral("Color"), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

const QByteArray oneContactExport =
    "{\"conversations\":[{\"id\":\"8:chosen.contact\",\"MessageList\":[{\"originalarrivaltime\":"
    "\"2021-03-04T05:06:07Z\",\"messagetype\":\"Text\",\"content\":\"hi\",\"from\":"
    "\"8:chosen.contact\"}]}]}";

} // namespace

class WindowKeyboardTest : public QObject {
    Q_OBJECT

private slots:
    void tabLeavesListsThatHoldRowsAlongTheFocusOrder()
    {
        ShownSampleWindow w;
        QVERIFY(w.active());
        w.fillBothLists(QStringLiteral("Lunch"));
        QVERIFY(w.window.contacts().size() > 1);
        QVERIFY(w.window.results().size() > 1);
        // A current cell in the middle of each list: cell-to-cell Tab would have somewhere to go.
        w.contactsView()->setCurrentIndex(w.window.contacts().index(1, 0));
        w.resultsView()->setCurrentIndex(w.window.results().index(0, 1));

        w.contactsView()->setFocus();
        const QList<QWidget*> order = focusOrder(w.window);
        for (QWidget* next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        // And back again with Shift+Tab, through every control to the contact list.
        for (qsizetype i = order.size() - 2; i >= -1; --i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
            QCOMPARE(QApplication::focusWidget(), i >= 0 ? order[i] : w.contactsView());
        }
        // Walking left the current cells where they were.
        QCOMPARE(w.resultsView()->currentIndex(), w.window.results().index(0, 1));
        QCOMPARE(w.contactsView()->currentIndex(), w.window.contacts().index(1, 0));
    }

    void spaceTicksTheCurrentRowFromAnyColumn_data()
    {
        QTest::addColumn<bool>("results");
        QTest::addColumn<int>("column");
        QTest::newRow("results, contact column") << true << 0;
        QTest::newRow("results, field column") << true << 1;
        QTest::newRow("results, value column") << true << 2;
        QTest::newRow("contacts") << false << 0;
    }
    void spaceTicksTheCurrentRowFromAnyColumn()
    {
        QFETCH(bool, results);
        QFETCH(int, column);
        ShownSampleWindow w;
        QVERIFY(w.active());
        w.fillBothLists(QStringLiteral("Lunch"));
        QTableView* view = results ? w.resultsView() : w.contactsView();
        ReportListModel& model =
            results ? static_cast<ReportListModel&>(w.window.results()) : w.window.contacts();
        auto ticked = [&](int row) {
            return results ? w.window.results().isChecked(row) : w.window.contacts().isChecked(row);
        };
        const int rows = results ? int(w.window.results().size()) : int(w.window.contacts().size());
        QVERIFY(rows >= 3);
        for (int row = 1; row <= rows; ++row)
            QVERIFY(ticked(row));

        view->setFocus();
        view->setCurrentIndex(model.index(1, column));
        QTest::keyClick(view, Qt::Key_Space);
        QVERIFY(!ticked(2));
        QVERIFY(ticked(1));
        QVERIFY(ticked(3));
        QTest::keyClick(view, Qt::Key_Space);
        QVERIFY(ticked(2));

        // A held key ticks once; Shift+Space ticks as Space does, once.
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "),
                         true);
        QApplication::sendEvent(view, &repeat);
        QVERIFY(ticked(2));
        QTest::keyClick(view, Qt::Key_Space, Qt::ShiftModifier);
        QVERIFY(!ticked(2));
        QTest::keyClick(view, Qt::Key_Space);
        QVERIFY(ticked(2));
        // The current row moved by keyboard is the one Space ticks.
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(view->currentIndex().row(), 2);
        QTest::keyClick(view, Qt::Key_Space);
        QVERIFY(!ticked(3));
        QVERIFY(ticked(2));
    }

    void enterPressesTheFocusedButton_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
    }
    void enterPressesTheFocusedButton()
    {
        QFETCH(int, key);
        ShownSampleWindow w;
        QVERIFY(w.active());
        w.press(2);
        const int contacts = int(w.window.contacts().size());
        QVERIFY(contacts > 1);

        auto tickedCount = [&] {
            int n = 0;
            for (int row = 1; row <= contacts; ++row)
                n += w.window.contacts().isChecked(row) ? 1 : 0;
            return n;
        };
        w.window.button(4)->setFocus();
        QTest::keyClick(w.window.button(4), Qt::Key(key));
        QCOMPARE(tickedCount(), 0);
        w.window.button(3)->setFocus();
        QTest::keyClick(w.window.button(3), Qt::Key(key));
        QCOMPARE(tickedCount(), contacts);

        // Help asks whether to play the video; a Yes opens it.
        w.fake.dialogs.answerQuestion(true);
        w.window.button(13)->setFocus();
        QTest::keyClick(w.window.button(13), Qt::Key(key));
        QCOMPARE(w.fake.dialogs.texts(ShownDialog::Question).size(), 1);
        QCOMPARE(w.fake.shell.documents.size(), 1);

        // No button looks like a default, and Enter elsewhere presses none: the search box
        // does not start a search, the lists start nothing.
        for (int number : {1, 2, 3, 4, 5, 6, 7, 8, 11, 13, 14, 17}) {
            QVERIFY(!w.window.button(number)->autoDefault());
            QVERIFY(!w.window.button(number)->isDefault());
        }
        const qsizetype shown = w.fake.dialogs.shown.size();
        w.window.searchText()->setText(QStringLiteral("Lunch"));
        for (QWidget* widget :
             QList<QWidget*>{w.window.searchText(), w.window.matchCase(), w.contactsView()}) {
            widget->setFocus();
            QTest::keyClick(widget, Qt::Key(key));
        }
        QCOMPARE(w.fake.dialogs.shown.size(), shown);
        QCOMPARE(w.window.results().size(), 0);
        // A held key presses once.
        w.window.button(4)->setFocus();
        QKeyEvent repeat(QEvent::KeyPress, key, Qt::NoModifier, QStringLiteral("\r"), true);
        QApplication::sendEvent(w.window.button(4), &repeat);
        QCOMPARE(tickedCount(), contacts);
    }

    void firstUseOpensTheOpenDialog_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::newRow("Ctrl+O") << true;
        QTest::newRow("click on the hint") << false;
    }
    void firstUseOpensTheOpenDialog()
    {
        QFETCH(bool, byKey);
        FirstUseWindow w;
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        QWidget* hint = w.window.contactListView()->viewport();
        auto ask = [&] {
            if (byKey)
                QTest::keyClick(&w.window, Qt::Key_O, Qt::ControlModifier);
            else
                QTest::mouseClick(hint, Qt::LeftButton, {}, hint->rect().center());
        };

        // Cancelled: nothing joins, and the hint still offers the dialog.
        ask();
        QCOMPARE(w.openDialogs().size(), 1);
        const OpenDialogRequest request = w.openDialogs().constFirst().open;
        QVERIFY(request.filter.startsWith(
            QStringLiteral("Chat histories (*.tar *.tar.gz *.tgz *.tar.bz2 *.tar.xz *.tar.zst "
                           "*.tar.lz4 *.json *.db)|")));
        QVERIFY(request.filter.contains(QStringLiteral("|All files (*)|*|")));
        QVERIFY(!request.title.isEmpty());
        // A starting folder that is no folder would show up as a file name.
        QVERIFY(QFileInfo(request.folder).isDir());
        QVERIFY(w.loader->files().isEmpty());

        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("messages.json"));
        QVERIFY(test::writeBytes(file, oneContactExport));
        w.fake.dialogs.answerOpenFiles({file});
        ask();
        QCOMPARE(w.openDialogs().size(), 2);
        QCOMPARE(w.loader->files(), QStringList{file});
        w.press(2);
        QCOMPARE(w.contactTexts(), QStringList{QStringLiteral("chosen.contact")});

        // With a history known the hint is gone: a click on the list opens nothing, while
        // Ctrl+O still adds more files.
        QTest::mouseClick(hint, Qt::LeftButton, {}, QPoint(hint->width() / 2, hint->height() - 5));
        QCOMPARE(w.openDialogs().size(), 2);
        QTest::keyClick(&w.window, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(w.openDialogs().size(), 3);
        QCOMPARE(w.loader->files(), QStringList{file});
    }

    void hintOpensOnlyForTheLeftButton()
    {
        FirstUseWindow w;
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        QWidget* hint = w.window.contactListView()->viewport();
        QTest::mouseClick(hint, Qt::RightButton, {}, hint->rect().center());
        QCOMPARE(w.openDialogs().size(), 0);
        QVERIFY(HistoryFileDrop::hintText().contains(QStringLiteral("Ctrl+O")));
    }

    void progressTextReachesScreenReaders()
    {
        ShownSampleWindow w;
        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(w.window.progressBar());
        QVERIFY(bar);
        QCOMPARE(bar->text(QAccessible::Name), QStringLiteral("Progress Bar"));

        // What a screen reader reads while a real search runs, looked at whenever the run
        // lets window events through: every text the bar shows.
        QStringList heard;
        QTimer listener;
        connect(&listener, &QTimer::timeout, &listener, [&] {
            const QString name = bar->text(QAccessible::Name);
            if (heard.isEmpty() || heard.constLast() != name)
                heard << name;
        });
        listener.start(0);
        w.fillBothLists(QStringLiteral("Lunch"));
        listener.stop();
        heard << bar->text(QAccessible::Name);

        QVERIFY(w.window.results().size() > 0);
        QVERIFY2(
            !heard.filter(QRegularExpression(QStringLiteral("^Reading \\d+ of \\d+$"))).isEmpty(),
            qPrintable(heard.join(QStringLiteral(" | "))));
        QCOMPARE(heard.constLast(), QStringLiteral("Progress Bar"));
        QCOMPARE(bar->text(QAccessible::Name), w.window.progressBar()->text());

        // A text with a per cent sign is read and drawn as written, not as the bar's
        // placeholder.
        w.window.progress().setText(QStringLiteral("Writing file: 50% done, %p %v"));
        QCOMPARE(bar->text(QAccessible::Name), QStringLiteral("Writing file: 50% done, %p %v"));
        QCOMPARE(w.window.progressBar()->text(), QStringLiteral("Writing file: 50% done, %p %v"));
    }

    void emojiDrawsInColourInTheResults()
    {
        if (!hasColourEmojiFont())
            QSKIP("No colour emoji font installed (Debian: fonts-noto-color-emoji); emoji draw "
                  "as boxes");
        ShownSampleWindow w;
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        w.fillBothLists(QStringLiteral("\U0001F384"));
        QVERIFY(w.window.results().size() >= 1);
        QVERIFY(w.window.results()
                    .data(w.window.results().index(0, 2), Qt::DisplayRole)
                    .toString()
                    .endsWith(QStringLiteral("\U0001F384")));

        QTableView* view = w.resultsView();
        view->clearSelection();
        view->setCurrentIndex({});
        view->resizeColumnToContents(2);
        const QImage image = view->viewport()->grab().toImage();
        const QRect value = view->visualRect(w.window.results().index(0, 2));
        const QRect field = view->visualRect(w.window.results().index(0, 1));
        // The tree is green and red; the text beside it and the plain cell are black on white.
        QVERIFY2(colouredPixels(image.copy(value)) > 20,
                 qPrintable(
                     QStringLiteral("%1 coloured pixels").arg(colouredPixels(image.copy(value)))));
        QCOMPARE(colouredPixels(image.copy(field)), 0);
    }
};

QTEST_MAIN(WindowKeyboardTest)
#include "test_window_keyboard.moc"
