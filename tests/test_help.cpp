#include "core/failure.h"
#include "help/main_window_help.h"
#include "window_harness.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace velmoran;
using velmoran::test::ShownDialog;
using velmoran::test::WindowHarness;

namespace {

// The help message as the user must read it, with the caption of the listing button in its
// third paragraph.
QString expectedHelp(const QString& caption)
{
    return QStringLiteral(
               "For your information: I have Skype Version 5.6.0.110 installed on my computer and "
               "this software works well with it.\r\r"
               "In order to use this software, please make sure that you have Skype open and you "
               "are logged into your account.\r\r"
               "Also, after clicking the '")
           + caption
           + QStringLiteral(
               "' button, Skype will ask if this software has permission to can access it. You "
               "will have to switch from looking at this software to looking at Skype and click "
               "'Allow'.\r\r"
               "Would you like to see a video showing how this 'Allow' message appears in Skype?");
}

// Checks the one request that opens the video beside the program.
void compareVideoRequest(const QList<ShellOpenRequest>& requests, const QString& programFolder)
{
    QCOMPARE(requests.size(), 1);
    const ShellOpenRequest& request = requests[0];
    QCOMPARE(request.file,
             QLatin1Char('"') + programFolder + QStringLiteral("/Help Video/Skype Allow.avi\""));
    QVERIFY(request.operation.isEmpty());
    QVERIFY(request.parameters.isEmpty());
    QCOMPARE(request.workingFolder, QStringLiteral("/"));
    QCOMPARE(request.showMode, 5);
}

// Makes the help's question fail as if the message box could not be shown.
void failTheQuestion(WindowHarness& f)
{
    f.fake.dialogs.onShow = [](const ShownDialog& dialog) {
        if (dialog.kind == ShownDialog::Question)
            throw Failure(QStringLiteral("Out of memory"));
    };
}

} // namespace

class HelpTest : public QObject {
    Q_OBJECT

private slots:
    void helpTextNamesTheListingButtonsCurrentCaption_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::newRow("as designed") << QString();
        QTest::newRow("changed") << QStringLiteral("Fetch Contacts");
        QTest::newRow("with quote and ampersand") << QStringLiteral("It's &Contacts");
        QTest::newRow("empty") << QStringLiteral("");
    }
    void helpTextNamesTheListingButtonsCurrentCaption()
    {
        QFETCH(QString, caption);
        WindowHarness f;
        if (!caption.isNull())
            f.window.button(2)->setText(caption);
        f.press(13);
        const QStringList questions = f.fake.dialogs.texts(ShownDialog::Question);
        QCOMPARE(questions.size(), 1);
        QCOMPARE(
            questions[0],
            expectedHelp(caption.isNull() ? QStringLiteral("List Contacts In Skype") : caption));
        // Carriage returns only: the dialog shows each as a line break.
        QVERIFY(!questions[0].contains(QLatin1Char('\n')));
        QCOMPARE(questions[0].count(QStringLiteral("\r\r")), 3);
        QCOMPARE(f.fake.dialogs.shown.size(), 1);
    }

    void yesHandsTheQuotedVideoPathToTheShell_data()
    {
        QTest::addColumn<QString>("folderTemplate");
        QTest::newRow("plain folder") << QStringLiteral("velmoran-XXXXXX");
        QTest::newRow("folder with blanks") << QStringLiteral("Program Files XXXXXX");
    }
    void yesHandsTheQuotedVideoPathToTheShell()
    {
        QFETCH(QString, folderTemplate);
        WindowHarness f(WindowHarness::Start::Loaded, folderTemplate);
        // The video is taken from the program's folder, wherever the current folder is.
        QTemporaryDir elsewhere;
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        f.fake.dialogs.answerQuestion(true);
        f.press(13);
        QVERIFY(QDir::setCurrent(previous));
        compareVideoRequest(f.fake.shell.documents, f.folder.path());
        QVERIFY(f.reports().isEmpty());
        // The help asks nothing of the chat client.
        QCOMPARE(f.chats.created, 0);
    }

    void noRequestsNothing()
    {
        WindowHarness f;
        f.chats.setContacts({QStringLiteral("a")});
        f.press(2);
        f.fake.dialogs.answerQuestion(false);
        f.press(13);
        QVERIFY(f.fake.shell.documents.isEmpty());
        QCOMPARE(f.fake.dialogs.shown.size(), 1);
        QCOMPARE(f.contactTexts(), QStringList{QStringLiteral("a")});
        QCOMPARE(f.window.mousePointer().value(), 0);
    }

    void failureWhileAskingIsReportedAndCountsAsYes()
    {
        WindowHarness f;
        failTheQuestion(f);
        qsizetype requestsWhenReported = -1;
        auto failing = f.fake.dialogs.onShow;
        f.fake.dialogs.onShow = [&](const ShownDialog& dialog) {
            if (dialog.kind == ShownDialog::ErrorReport)
                requestsWhenReported = f.fake.shell.documents.size();
            failing(dialog);
        };
        f.press(13);
        const QStringList reports = f.reports();
        QCOMPARE(reports.size(), 1);
        QVERIFY(reports[0].startsWith(QStringLiteral(
            "Out of memory\r\nin Velmoran2021/08/31.Form1.PushButton13_Click at line 100\r\r")));
        // Step 100 is reported first; step 102 then asks for the video.
        QCOMPARE(requestsWhenReported, 0);
        compareVideoRequest(f.fake.shell.documents, f.folder.path());
    }

    void allowAccessButtonIsReachedByTabAndPlaysTheVideo()
    {
        WindowHarness f;
        f.chats.running = false;
        Form1& w = f.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // Below the window's client area: only the keyboard reaches it, after "Help".
        QVERIFY(w.button(1)->geometry().top() >= w.height());
        w.button(13)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w.button(1));
        QTest::keyClick(w.button(1), Qt::Key_Space);

        compareVideoRequest(f.fake.shell.documents, f.folder.path());
        // Nothing asks the chat client or shows a message.
        QCOMPARE(f.chats.created, 0);
        QVERIFY(f.fake.dialogs.shown.isEmpty());
        QVERIFY(f.contactTexts().isEmpty());
    }

    void shellFailureIsReportedUnderTheRequestingStep_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("ending");
        QTest::newRow("Help, after Yes")
            << 13 << QStringLiteral("PushButton13_Click at line 102\r\r");
        QTest::newRow("Allow access") << 1 << QStringLiteral("PushButton1_Click at line 100\r\r");
    }
    void shellFailureIsReportedUnderTheRequestingStep()
    {
        QFETCH(int, button);
        QFETCH(QString, ending);
        WindowHarness f;
        // A shell that cannot be reached at all.
        f.fake.shell.failure = QStringLiteral("The shell is not available");
        f.fake.dialogs.answerQuestion(true);
        f.press(button);
        const QStringList reports = f.reports();
        QCOMPARE(reports.size(), 1);
        QVERIFY(reports[0].startsWith(
            QStringLiteral("The shell is not available\r\nin Velmoran2021/08/31.Form1.") + ending));
    }

    void videoLiesBesideTheProgramAsAShortClip()
    {
        // Tests run from the build's program folder, where the build puts the program's files.
        const QString folder = QCoreApplication::applicationDirPath();
        const QString request = helpVideoRequest(folder).file;
        QVERIFY(request.startsWith(QLatin1Char('"')) && request.endsWith(QLatin1Char('"')));
        QFile video(request.mid(1, request.size() - 2));
        QVERIFY2(video.open(QIODevice::ReadOnly), qPrintable(video.fileName()));
        QVERIFY(video.size() <= 400 * 1024);
        const QByteArray head = video.read(56);
        QCOMPARE(head.left(4), QByteArray("RIFF"));
        QCOMPARE(head.mid(8, 4), QByteArray("AVI "));
        QCOMPARE(head.mid(24, 4), QByteArray("avih"));
        const auto word = [&](int offset) {
            return qFromLittleEndian<quint32>(head.constData() + offset);
        };
        const double seconds = double(word(48)) * word(32) / 1e6; // frames times frame length
        QVERIFY2(seconds >= 2 && seconds <= 15, qPrintable(QString::number(seconds)));
    }
};

QTEST_MAIN(HelpTest)
#include "test_help.moc"
