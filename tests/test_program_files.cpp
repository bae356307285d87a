#include "app/command_line.h"
#include "app/program_files.h"
#include "history_files.h"
#include "window_harness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace velmoran;

namespace {

const QString SourceDir = QStringLiteral(VELMORAN_SOURCE_DIR);
const QString ProgramPath = QStringLiteral(VELMORAN_PROGRAM_PATH);

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// True when some pixel of the image is not fully transparent.
bool hasVisiblePixels(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(argb.pixel(x, y)) > 0)
                return true;
    return false;
}

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the built program. Without a display, the platform is one that needs one (xcb), so a
// program that starts the window system fails.
Run runProgram(const QStringList& arguments, bool withoutDisplay)
{
    QProcess process;
    if (withoutDisplay) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        process.setProcessEnvironment(environment);
    }
    process.start(ProgramPath, arguments);
    Run run;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

class ProgramFilesTest : public QObject {
    Q_OBJECT

private slots:
    void windowIconIsTheProgramIcon()
    {
        test::WindowHarness f;
        QVERIFY(f.fake.dialogs.shown.isEmpty());
        const QIcon icon = f.window.windowIcon();
        QVERIFY(!icon.isNull());
        // Drawing it needs the SVG icon engine; a missing engine gives a null pixmap.
        for (int size : {16, 48, 256}) {
            const QPixmap pixmap = icon.pixmap(size, size);
            QVERIFY2(!pixmap.isNull(), qPrintable(QString::number(size)));
            QVERIFY(hasVisiblePixels(pixmap.toImage()));
        }
    }

    void checkReportsWhatIsBesideTheProgram_data()
    {
        QTest::addColumn<QByteArray>("cursor"); // empty: no file
        QTest::addColumn<bool>("withVideo");
        QTest::addColumn<bool>("withSkin");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("handState");

        QFile real(SourceDir + QStringLiteral("/app/resources/HAND-M.CUR"));
        QVERIFY(real.open(QIODevice::ReadOnly));
        const QByteArray cursor = real.readAll();
        QTest::newRow("everything") << cursor << true << true << true << QStringLiteral("loaded");
        QTest::newRow("hand pointer only")
            << cursor << false << false << true << QStringLiteral("loaded");
        QTest::newRow("no hand pointer")
            << QByteArray() << true << false << false << QStringLiteral("absent");
        QTest::newRow("broken hand pointer") << QByteArray("not a cursor") << false << false
                                             << false << QStringLiteral("unreadable");
    }

    void checkReportsWhatIsBesideTheProgram()
    {
        QFETCH(QByteArray, cursor);
        QFETCH(bool, withVideo);
        QFETCH(bool, withSkin);
        QFETCH(bool, ok);
        QFETCH(QString, handState);

        QTemporaryDir dir;
        const QString folder = dir.path() + QStringLiteral("/a folder");
        QVERIFY(QDir().mkpath(folder));
        if (!cursor.isEmpty())
            writeFile(folder + QStringLiteral("/HAND-M.CUR"), cursor);
        if (withVideo)
            writeFile(folder + QStringLiteral("/Help Video/Skype Allow.avi"), "RIFF");
        if (withSkin)
            writeFile(folder + QStringLiteral("/x/o.cjs"), "skin");

        const ProgramFilesReport report = checkProgramFiles(folder);
        QCOMPARE(report.ok, ok);
        const QStringList lines = report.text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], QStringLiteral("program folder: ") + folder);
        QVERIFY2(lines[1].startsWith(QStringLiteral("hand pointer: ") + folder
                                     + QStringLiteral("/HAND-M.CUR ") + handState),
                 qPrintable(lines[1]));
        QCOMPARE(lines[2],
                 QStringLiteral("help video: ") + folder
                     + QStringLiteral("/Help Video/Skype Allow.avi ")
                     + (withVideo ? QStringLiteral("present") : QStringLiteral("absent")));
        QCOMPARE(lines[3], QStringLiteral("skin: ") + folder + QStringLiteral("/x/o.cjs ")
                               + (withSkin ? QStringLiteral("present") : QStringLiteral("absent")));
        QCOMPARE(lines[4], QStringLiteral("program icon: drawn"));
    }

    void programAnswersOnItsCommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("withoutDisplay");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("stdoutHas");
        QTest::addColumn<QStringList>("stderrHas");

        QTest::newRow("version") << QStringList{QStringLiteral("--version")} << true << 0
                                 << QStringList{QStringLiteral("velmoran " VELMORAN_VERSION "\n")}
                                 << QStringList{};
        QTest::newRow("help") << QStringList{QStringLiteral("--help")} << true << 0
                              << QStringList{QStringLiteral("Usage: "), QStringLiteral("--version"),
                                             QStringLiteral("--sample"),
                                             QStringLiteral("--check-files"),
                                             QStringLiteral("Searches a chat history")}
                              << QStringList{};
        QTest::newRow("-h with another option")
            << QStringList{QStringLiteral("--sample"), QStringLiteral("-h")} << true << 0
            << QStringList{QStringLiteral("Usage: ")} << QStringList{};
        QTest::newRow("unknown option beside --version")
            << QStringList{QStringLiteral("--bogus"), QStringLiteral("--version")} << true << 2
            << QStringList{} << QStringList{QStringLiteral("velmoran: Unknown option 'bogus'")};
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("--no-such-option")} << false << 2 << QStringList{}
            << QStringList{QStringLiteral("velmoran: Unknown option 'no-such-option'")};
        // The build tree is a program folder like the installed one: the hand pointer sits
        // beside the executable.
        QTest::newRow("check files")
            << QStringList{QStringLiteral("--check-files")} << false << 0
            << QStringList{QStringLiteral("program folder: ")
                               + QFileInfo(ProgramPath).absolutePath() + QLatin1Char('\n'),
                           QStringLiteral("/HAND-M.CUR loaded\n"),
                           QStringLiteral("program icon: drawn\n")}
            << QStringList{};
        // Qt's own options are read only before "--": after it they are names of histories.
        QTest::newRow("Qt's options after --")
            << QStringList{QStringLiteral("--check-files"),       QStringLiteral("--"),
                           QStringLiteral("-platform"),           QStringLiteral("nowhere"),
                           QStringLiteral("-platformpluginpath"), QStringLiteral("/nowhere")}
            << false << 0 << QStringList{QStringLiteral("program icon: drawn\n")} << QStringList{};
    }

    void programAnswersOnItsCommandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, withoutDisplay);
        QFETCH(int, exitCode);
        QFETCH(QStringList, stdoutHas);
        QFETCH(QStringList, stderrHas);

        const Run run = runProgram(arguments, withoutDisplay);
        QCOMPARE(run.exitCode, exitCode);
        for (const QString& text : stdoutHas)
            QVERIFY2(run.out.contains(text), qPrintable(run.out));
        for (const QString& text : stderrHas)
            QVERIFY2(run.err.contains(text), qPrintable(run.err));
        if (stdoutHas.isEmpty())
            QVERIFY(run.out.isEmpty());
    }

    // A logout, kill or Ctrl+C closes the program as closing its window does: it exits
    // normally, where it had been ended by the signal.
    void signalsCloseTheProgram_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void signalsCloseTheProgram()
    {
        QFETCH(int, signal);
        QTemporaryDir home;
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        process.setProcessEnvironment(environment);
        process.start(ProgramPath, {QStringLiteral("--sample")});
        QVERIFY(process.waitForStarted());
        // Until the window waits for input: then the program has said something or nothing,
        // and handles events.
        QTest::qWait(1500);
        QCOMPARE(process.state(), QProcess::Running);
        QCOMPARE(::kill(pid_t(process.processId()), signal), 0);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }

    void commandLineNamesTheHistoryFiles()
    {
        QTemporaryDir dir;
        const QString json = QStringLiteral(VELMORAN_TEST_DATA "/export_small.json");
        const QString database = dir.filePath(QStringLiteral("main.db"));
        QCOMPARE(
            test::writeDatabase(
                database,
                "CREATE TABLE Contacts (id INTEGER PRIMARY KEY, is_permanent INTEGER, skypename "
                "TEXT);"
                "CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type INTEGER);"
                "CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER, author TEXT,"
                " from_dispname TEXT, timestamp INTEGER, body_xml TEXT);"
                "INSERT INTO Contacts VALUES (1, 1, 'zed.only');"
                "INSERT INTO Conversations VALUES (1, 'zed.only', 1);"
                "INSERT INTO Messages VALUES (1, 1, 'zed.only', 'Zed', 1500000000, 'hi');"),
            QString());
        const CommandLine withFiles =
            parseCommandLine({QStringLiteral("velmoran"), json, database});
        QVERIFY(!withFiles.exitCode);
        QVERIFY(withFiles.historyLoader);
        QCOMPARE(withFiles.historyLoader->files(), QStringList({json, database}));
        // Both files are read: the database's only contact beside the export's.
        const ChatHistoryPtr history = withFiles.historyProvider();
        QVERIFY(history);
        QVERIFY(history->contacts.contains(QStringLiteral("zed.only")));
        QVERIFY(history->contacts.size() > 1);

        const CommandLine sample =
            parseCommandLine({QStringLiteral("velmoran"), QStringLiteral("--sample")});
        QVERIFY(!sample.historyLoader);
        QVERIFY(sample.historyProvider());
    }
};

QTEST_MAIN(ProgramFilesTest)
#include "test_program_files.moc"
