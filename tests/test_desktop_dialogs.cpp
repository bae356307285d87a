#include "app/desktop_platform.h"
#include "core/application_title.h"

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace velmoran;

namespace {

// Runs inspect on the first modal dialog that opens, then lets it answer.
template <typename Dialog, typename Inspect> void whenDialogOpens(Inspect inspect)
{
    QTimer::singleShot(0, [inspect] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        inspect(dialog);
    });
}

} // namespace

// The real dialogs: what the user sees of the program's texts and titles.
class DesktopDialogsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationTitle(QStringLiteral("Velmoran")); }

    void messageShowsEachCarriageReturnAsALineBreak()
    {
        WidgetDialogs dialogs;
        QString shownText, shownTitle;
        QMessageBox::Icon icon = QMessageBox::Warning;
        whenDialogOpens<QMessageBox>([&](QMessageBox* box) {
            shownText = box->text();
            shownTitle = box->windowTitle();
            icon = box->icon();
            box->button(QMessageBox::Ok)->click();
        });
        dialogs.message(QStringLiteral("Results have been copied.\r\rClick and paste."));
        QCOMPARE(shownText, QStringLiteral("Results have been copied.\n\nClick and paste."));
        QCOMPARE(shownTitle, QStringLiteral("Velmoran"));
        QCOMPARE(icon, QMessageBox::NoIcon);
    }

    void questionDefaultsToYes()
    {
        WidgetDialogs dialogs;
        whenDialogOpens<QMessageBox>([](QMessageBox* box) {
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::Yes));
            QVERIFY(box->button(QMessageBox::No));
            QTest::keyClick(box, Qt::Key_Return);
        });
        QVERIFY(dialogs.question(QStringLiteral("Overwrite?")));
        whenDialogOpens<QMessageBox>(
            [](QMessageBox* box) { box->button(QMessageBox::No)->click(); });
        QVERIFY(!dialogs.question(QStringLiteral("Overwrite?")));
    }

    void errorReportHasItsOwnTitleAndIcon()
    {
        WidgetDialogs dialogs;
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        whenDialogOpens<QMessageBox>([&](QMessageBox* box) {
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            box->button(QMessageBox::Ok)->click();
        });
        dialogs.errorReport(QStringLiteral("Boom\r\nin X at line 100\r\rPlease email"));
        QCOMPARE(title, QStringLiteral("Application Error"));
        QCOMPARE(icon, QMessageBox::Warning);
        QCOMPARE(text, QStringLiteral("Boom\nin X at line 100\n\nPlease email"));
    }

    void inputBoxAnswersAsTypedAndCancelAnswersEmpty()
    {
        WidgetDialogs dialogs;
        QString title;
        whenDialogOpens<QInputDialog>([&](QInputDialog* input) {
            title = input->windowTitle();
            QCOMPARE(input->textValue(), QString());
            input->setTextValue(QStringLiteral("  bob "));
            input->accept();
        });
        QCOMPARE(dialogs.inputBox(QStringLiteral("Remove entries containing: ")),
                 QStringLiteral("  bob "));
        QCOMPARE(title, QStringLiteral("Velmoran"));
        whenDialogOpens<QInputDialog>([](QInputDialog* input) {
            input->setTextValue(QStringLiteral("typed"));
            input->reject();
        });
        QCOMPARE(dialogs.inputBox(QStringLiteral("Remove entries containing: ")), QString());
    }

    void carriageReturnsShowAsLineBreaks()
    {
        QCOMPARE(displayText(QStringLiteral("a\r\rb\r\nc")), QStringLiteral("a\n\nb\nc"));
    }

    void fileDialogFiltersAndQuotedPaths()
    {
        QCOMPARE(
            qtFileDialogFilter(QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|")),
            QStringLiteral("Text Files (*.txt);;All Files (*.*)"));
        QCOMPARE(unquotedPath(QStringLiteral("\"/opt/my apps/v.avi\"")),
                 QStringLiteral("/opt/my apps/v.avi"));
        QCOMPARE(unquotedPath(QStringLiteral("/plain")), QStringLiteral("/plain"));
    }
};

QTEST_MAIN(DesktopDialogsTest)
#include "test_desktop_dialogs.moc"
