// velmoran-find against the window: the same history and search give the same file, byte for
// byte; and the command's exit statuses and error lines.
#include "app/contact_list_model.h"
#include "app/results_model.h"
#include "command_runs.h"
#include "find/find_command.h"
#include "history_files.h"
#include "history_generator.h"
#include "window_harness.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace velmoran;
using namespace Qt::Literals::StringLiterals;
using test::args;
using test::Run;
using test::WindowHarness;

namespace {

const QString FindProgram = QStringLiteral(VELMORAN_FIND_PATH);

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "(cannot read " + path.toUtf8() + ")";
    return file.readAll();
}

// The built program, as a script runs it.
Run runProgram(const QStringList& arguments)
{
    return test::runProgram(FindProgram, arguments);
}

// Histories the table rows name.
enum class History { Sample, Fixture, GeneratedExport, ExportAndDatabase };

} // namespace

class FindCommandTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QFile::exists(FindProgram));
        m_tar = m_dir.filePath(QStringLiteral("generated_export.tar"));
        m_db = m_dir.filePath(QStringLiteral("main.db"));
        generator::Options options;
        options.messages = 4000;
        options.seed = 7;
        QCOMPARE(generator::writeExportTar(m_tar.toStdString(), options), std::string());
        options.messages = 1500;
        options.seed = 8;
        QCOMPARE(generator::writeLegacyDatabase(m_db.toStdString(), options), std::string());
    }

    void windowAndCommandWriteTheSameBytes_data()
    {
        QTest::addColumn<History>("history");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("matchCase");
        // How often "List Contacts" is clicked, and the rows left ticked (none given: all).
        QTest::addColumn<int>("listings");
        QTest::addColumn<QList<int>>("ticked");

        const QList<int> all;
        QTest::newRow("sample, case counts") << History::Sample << "lunch" << true << 1 << all;
        QTest::newRow("sample, case ignored") << History::Sample << "lunch" << false << 1 << all;
        QTest::newRow("sample, capitals, case counts")
            << History::Sample << "LUNCH" << true << 1 << all;
        QTest::newRow("sample, capitals ignored, Cyrillic")
            << History::Sample << "ПРИВЕТ" << false << 1 << all;
        QTest::newRow("sample, empty text") << History::Sample << "" << true << 1 << all;
        QTest::newRow("sample, in timestamps") << History::Sample << "19" << true << 1 << all;
        QTest::newRow("sample, nothing found")
            << History::Sample << "no such words" << false << 1 << all;
        QTest::newRow("sample, some contacts")
            << History::Sample << "a" << false << 1 << QList<int>{2, 5};
        QTest::newRow("sample, a contact twice")
            << History::Sample << "e" << true << 2 << QList<int>{1, 3, 7};
        QTest::newRow("fixture, markup and entities")
            << History::Fixture << "&" << true << 1 << all;
        QTest::newRow("fixture, empty text") << History::Fixture << "" << false << 1 << all;
        QTest::newRow("generated, case counts")
            << History::GeneratedExport << "the" << true << 1 << all;
        QTest::newRow("generated, case ignored")
            << History::GeneratedExport << "THE" << false << 1 << all;
        QTest::newRow("generated, empty text")
            << History::GeneratedExport << "" << true << 1 << all;
        QTest::newRow("export and database merged")
            << History::ExportAndDatabase << "o" << false << 1 << all;
        QTest::newRow("merged, repeated contacts")
            << History::ExportAndDatabase << ":" << true << 2 << QList<int>{1, 2, 4};
    }
    void windowAndCommandWriteTheSameBytes()
    {
        QFETCH(History, history);
        QFETCH(QString, text);
        QFETCH(bool, matchCase);
        QFETCH(int, listings);
        QFETCH(QList<int>, ticked);

        QStringList files;
        QStringList arguments;
        switch (history) {
        case History::Sample:
            arguments << QStringLiteral("--sample");
            break;
        case History::Fixture:
            files << QStringLiteral(VELMORAN_TEST_DATA "/export_small.json");
            break;
        case History::GeneratedExport:
            files << m_tar;
            break;
        case History::ExportAndDatabase:
            files << m_db << m_tar;
            break;
        }
        arguments << files;

        // The window: list, untick, type, search, save.
        WindowHarness w;
        if (history == History::Sample)
            w.serveSample();
        else
            w.readHistoryFiles(files);
        for (int i = 0; i < listings; ++i)
            w.press(2);
        ContactListModel& contacts = w.window.contacts();
        QVERIFY(contacts.size() > 0);
        if (!ticked.isEmpty()) {
            for (qsizetype row = 1; row <= contacts.size(); ++row) {
                const bool keep = ticked.contains(int(row));
                contacts.setChecked(row, keep);
                if (keep)
                    arguments << QStringLiteral("--contact") << contacts.text(row);
            }
        }
        w.find(text, matchCase);
        QCOMPARE(w.window.button(7)->text(), QStringLiteral("Start Finding"));
        const QString windowFile = m_dir.filePath(QStringLiteral("window.txt"));
        QFile::remove(windowFile);
        w.fake.dialogs.answerSaveFile(windowFile);
        w.press(5);
        QCOMPARE(w.fake.dialogs.errorReports(), QStringList());
        const QByteArray expected = readAll(windowFile);
        QVERIFY(expected.startsWith("Contact"));
        const qsizetype rows = w.window.results().size();
        const int expectedStatus = rows > 0 ? 0 : 1;
        if (text == QStringLiteral("no such words"))
            QCOMPARE(rows, 0);
        else
            QVERIFY(rows > 0);

        if (!matchCase)
            arguments << QStringLiteral("--ignore-case");
        arguments << QStringLiteral("--") << text;

        // In this process, to standard output.
        const Run inProcess = test::runFindIn(arguments);
        QCOMPARE(inProcess.err, QByteArray());
        QCOMPARE(inProcess.status, expectedStatus);
        QCOMPARE(inProcess.out.size(), expected.size());
        QVERIFY(inProcess.out == expected);

        // The built program, into a file that exists already and is longer than the result.
        const QString commandFile = m_dir.filePath(QStringLiteral("command.txt"));
        {
            QFile old(commandFile);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(expected.size() + 100, 'x'));
        }
        const Run program =
            runProgram(QStringList{QStringLiteral("--output"), commandFile} + arguments);
        QCOMPARE(program.err, QByteArray());
        QCOMPARE(program.status, expectedStatus);
        QCOMPARE(program.out, QByteArray());
        const QByteArray written = readAll(commandFile);
        QCOMPARE(written.size(), expected.size());
        QVERIFY(written == expected);
    }

    void exitStatuses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        // Texts that the one error line must hold, or that standard output must begin with.
        QTest::addColumn<QStringList>("errorHolds");
        QTest::addColumn<QByteArray>("outputStarts");

        const QString missing = QStringLiteral("/nonexistent folder/messages.json");
        QTest::newRow("rows found")
            << args("--sample Lunch") << 0 << QStringList() << QByteArray("Contact");
        QTest::newRow("none found") << args("--sample \"lunch at mars\"") << 1 << QStringList()
                                    << QByteArray("Contact\tField\tValue\t\r\n");
        QTest::newRow("no such history")
            << QStringList{missing, QStringLiteral("x")} << 2
            << QStringList{missing, QStringLiteral("no such file")} << QByteArray();
        QTest::newRow("not a history") << args("@notahistory@ x") << 2
                                       << QStringList{QStringLiteral("notes.txt")} << QByteArray();
        QTest::newRow("output folder missing")
            << QStringList{QStringLiteral("--sample"), QStringLiteral("-o"), missing,
                           QStringLiteral("a")}
            << 2 << QStringList{missing} << QByteArray();
        QTest::newRow("output is a folder") << args("--sample --output @dir@ a") << 2
                                            << QStringList{QStringLiteral("@dir@")} << QByteArray();
        QTest::newRow("unknown option")
            << args("--sample --frobnicate a") << 2 << QStringList{QStringLiteral("frobnicate")}
            << QByteArray();
        QTest::newRow("no text") << QStringList{QStringLiteral("--sample")} << 2
                                 << QStringList{QStringLiteral("text")} << QByteArray();
        QTest::newRow("option without its value")
            << args("--sample --contact") << 2 << QStringList{QStringLiteral("contact")}
            << QByteArray();
        QTest::newRow("sample and files")
            << QStringList{QStringLiteral("--sample"), missing, QStringLiteral("a")} << 2
            << QStringList{QStringLiteral("--sample")} << QByteArray();
        QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0 << QStringList()
                              << QByteArray("Usage: ");
        QTest::newRow("version") << QStringList{QStringLiteral("--version")} << 0 << QStringList()
                                 << QByteArray("velmoran-find " VELMORAN_VERSION "\n");
    }
    void exitStatuses()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, errorHolds);
        QFETCH(QByteArray, outputStarts);

        const QString notes = m_dir.filePath(QStringLiteral("notes.txt"));
        {
            QFile file(notes);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("just some notes, not a chat history\n");
        }
        for (QString& argument : arguments) {
            argument.replace(QStringLiteral("@notahistory@"), notes);
            argument.replace(QStringLiteral("@dir@"), m_dir.path());
        }
        for (QString& text : errorHolds)
            text.replace(QStringLiteral("@dir@"), m_dir.path());

        // Without any display: the program needs none.
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(name));
        process.setProcessEnvironment(environment);
        process.start(FindProgram, arguments);
        QVERIFY(process.waitForFinished(60'000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        const QByteArray out = process.readAllStandardOutput();
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitCode(), status);
        QVERIFY2(out.startsWith(outputStarts), out.left(200).constData());
        if (status == 2) {
            QCOMPARE(out, QByteArray());
            // One line, the program's name first.
            QVERIFY2(err.startsWith(QStringLiteral("velmoran-find: ")), qPrintable(err));
            QCOMPARE(err.count(QLatin1Char('\n')), 1);
            QVERIFY(err.endsWith(QLatin1Char('\n')));
            for (const QString& text : std::as_const(errorHolds))
                QVERIFY2(err.contains(text), qPrintable(err));
        } else {
            QCOMPARE(err, QString());
        }
        if (status == 1)
            QCOMPARE(out, outputStarts);
    }

    // Without HISTORY the program searches what it finds in the download folder and the old
    // profile folder, as the window does; finding nothing there is an error.
    void historiesFoundWithoutNames()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
        environment.remove(QStringLiteral("XDG_DOWNLOAD_DIR"));
        auto run = [&](const QStringList& arguments) {
            QProcess process;
            process.setProcessEnvironment(environment);
            process.start(FindProgram, arguments);
            Run result;
            if (process.waitForFinished(60'000) && process.exitStatus() == QProcess::NormalExit)
                result.status = process.exitCode();
            result.out = process.readAllStandardOutput();
            result.err = process.readAllStandardError();
            return result;
        };

        const Run nothing = run({QStringLiteral("the")});
        QCOMPARE(nothing.status, 2);
        QCOMPARE(nothing.out, QByteArray());
        QVERIFY2(nothing.err.startsWith("velmoran-find: No chat history was found")
                     && nothing.err.count('\n') == 1,
                 nothing.err.constData());

        QVERIFY(QDir(home.path()).mkpath(QStringLiteral("Downloads")));
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral(".Skype/old.me")));
        QVERIFY(QFile::copy(m_tar, home.filePath(QStringLiteral("Downloads/live_me_export.tar"))));
        QVERIFY(QFile::copy(m_db, home.filePath(QStringLiteral(".Skype/old.me/main.db"))));
        const Run found = run({QStringLiteral("the")});
        const Run named = run({m_tar, m_db, QStringLiteral("the")});
        QCOMPARE(found.err, QByteArray());
        QCOMPARE(found.status, 0);
        QCOMPARE(named.status, 0);
        QVERIFY(found.out == named.out);
        // Both files were searched: more rows than the export alone gives.
        QVERIFY(found.out.size() > run({m_tar, QStringLiteral("the")}).out.size());
    }

    // Messages left out of a history are told on one line of standard error each; the results
    // and the exit status are those of the messages that could be read.
    void leftOutMessagesAreToldOnStandardError()
    {
        auto message = [](const char* id, const char* time, const char* content) {
            return QByteArray("{\"id\":\"") + id + "\",\"originalarrivaltime\":\"" + time
                   + "\",\"displayName\":\"Anna\",\"messagetype\":\"Text\",\"from\":\"8:anna\","
                     "\"content\":\""
                   + content + "\"}";
        };
        auto history = [](const QByteArray& messages) {
            return "{\"conversations\":[{\"id\":\"8:anna\",\"MessageList\":[" + messages + "]}]}";
        };
        const QByteArray kept = message("1", "2021-05-01T12:00:00Z", "lunch at noon");
        const QString clean = m_dir.filePath(QStringLiteral("clean.json"));
        const QString withBad = m_dir.filePath(QStringLiteral("with bad.json"));
        QVERIFY(test::writeBytes(clean, history(kept)));
        QVERIFY(test::writeBytes(
            withBad, history(kept + "," + message("2", "2020-02-30T10:00:00Z", "lunch never"))));
        const QByteArray notice =
            "velmoran-find: 1 message of \"" + QDir::toNativeSeparators(withBad).toUtf8()
            + "\" could not be read and was left out: message 2 of conversation \"8:anna\" "
              "(message id \"2\"), whose time \"2020-02-30T10:00:00Z\" is no possible date and "
              "time.\n";
        for (const QString& text : {QStringLiteral("lunch"), QStringLiteral("dinner")}) {
            const Run expected = test::runFindIn({clean, text});
            const Run got = test::runFindIn({withBad, text});
            QCOMPARE(expected.err, QByteArray());
            QCOMPARE(got.err, notice);
            QCOMPARE(got.status, expected.status);
            QVERIFY(got.out == expected.out);
        }
        const Run program = runProgram({withBad, QStringLiteral("lunch")});
        QCOMPARE(program.status, 0);
        QCOMPARE(program.err, notice);
    }

    // What an error or notice line quotes (a history's name, an option) shows control, bidi and
    // format characters as visible escapes; other letters stay, and so do the results.
    void errorLinesShowControlCharactersEscaped_data()
    {
        QTest::addColumn<QString>("name"); // a history; "--…": an unknown option instead
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("readable"); // a history with a left-out message, told
        QTest::newRow("terminal escapes")
            << u"x\x1b]0;pwned\x07\x1b[31m.tar"_s << u"x\\x1b]0;pwned\\x07\\x1b[31m.tar"_s << false;
        QTest::newRow("newline in a notice")
            << u"two\nlines.json"_s << u"two\\nlines.json"_s << true;
        QTest::newRow("return, tab, DEL and C1")
            << u"a\rb\tc\x7f\u009b.json"_s << u"a\\rb\\tc\\x7f\\u009b.json"_s << false;
        QTest::newRow("bidi controls")
            << u"evil\u202erat.tar\u2066"_s << u"evil\\u202erat.tar\\u2066"_s << false;
        QTest::newRow("letters, CJK and emoji")
            << u"Καλημέρα 明天 😀 👨\u200d👩.json"_s << u"Καλημέρα 明天 😀 👨\u200d👩.json"_s << true;
        QTest::newRow("option") << u"--fr\x1bob"_s << u"'fr\\x1bob'"_s << false;
    }

    void errorLinesShowControlCharactersEscaped()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QFETCH(bool, readable);
        QTemporaryDir dir;
        const bool option = name.startsWith(u"--");
        const QString path = option ? name : dir.filePath(name);
        const QByteArray body = "\\u001b[31m lunch";
        if (readable)
            QVERIFY(test::writeBytes(
                path, "{\"conversations\":[{\"id\":\"8:a\",\"MessageList\":[{\"id\":\"1\","
                      "\"originalarrivaltime\":\"2021-05-01T12:00:00Z\",\"content\":\""
                          + body + "\",\"messagetype\":\"Text\"},{\"id\":\"2\"}]}]}"));
        const Run run = test::runFindIn({path, u"lunch"_s});
        QCOMPARE(run.status, readable ? 0 : 2);
        QCOMPARE(run.err.count('\n'), 1);
        const QString quoted = option ? shown : u'"' + dir.filePath(shown) + u'"';
        QVERIFY2(run.err.contains(quoted.toUtf8()), run.err.constData());
        QCOMPARE(run.err.contains(name.toUtf8()), name == shown);
        // The results are not error lines: their text is written as it is.
        QCOMPARE(run.out.contains("\x1b[31m lunch"), readable);
    }

    // A failing write to standard output is an error, not a result.
    void failingStandardOutput()
    {
        class FullDevice final : public QIODevice {
        protected:
            qint64 readData(char*, qint64) override { return -1; }
            qint64 writeData(const char*, qint64) override
            {
                setErrorString(QStringLiteral("No space left on device"));
                return -1;
            }
        } out;
        QBuffer err;
        const int status = runFind(args("velmoran-find --sample a"), out, err);
        QCOMPARE(status, 2);
        QCOMPARE(err.data(),
                 QByteArray("velmoran-find: Cannot write the file standard output: No space "
                            "left on device\n"));
    }

    // An output file is replaced only once the results are written whole: a failure keeps it.
    void failedOutputKeepsTheOldFile()
    {
        const QString path = m_dir.filePath(QStringLiteral("kept.txt"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("old content\r\n");
        }
        const Run run =
            runProgram({QStringLiteral("--output"), path,
                        m_dir.filePath(QStringLiteral("missing.tar")), QStringLiteral("a")});
        QCOMPARE(run.status, 2);
        QCOMPARE(readAll(path), QByteArray("old content\r\n"));
    }

private:
    QTemporaryDir m_dir;
    QString m_tar;
    QString m_db;
};

QTEST_MAIN(FindCommandTest)
#include "test_find_command.moc"
