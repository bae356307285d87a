#include "core/error_report.h"
#include "memory_table.h"
#include "app/results_removal_lock.h"
#include "results_window.h"
#include "app/text_file_export.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>

using namespace velmoran;
using velmoran::test::FakePlatform;
using velmoran::test::MemoryTable;
using velmoran::test::ResultsWindow;
using velmoran::test::ShownDialog;

namespace {

const QByteArray WorkedExample = QByteArrayLiteral(
    "Contact\tField            \tValue   \t\r\n"
    "alice  \tBody             \thi there\t\r\n"
    "bob    \tFrom Display Name\tBob     \t\r\n");

void fillWorkedExample(ResultsWindow& f)
{
    f.fill({{QStringLiteral("alice"), MessageField::Body, QStringLiteral("hi there")},
            {QStringLiteral("bob"), MessageField::FromDisplayName, QStringLiteral("Bob")}});
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

struct RecordingProgress final : ProgressSink {
    struct State {
        double value;
        QString text;
        bool isText;
    };
    void setValue(double v) override { states.push_back({v, current, false}); value = v; }
    void setText(const QString& t) override { current = t; states.push_back({value, t, true}); }
    double value = 0;
    QString current;
    std::vector<State> states;
};

// A device that accepts a number of bytes and then fails like a full disk.
class FailingDevice final : public QIODevice {
public:
    explicit FailingDevice(qint64 capacity)
        : m_capacity(capacity)
    {
    }
    QByteArray written;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override
    {
        if (written.size() + size > m_capacity) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        written.append(data, size);
        return size;
    }

private:
    qint64 m_capacity;
};

} // namespace

class TextExportTest : public QObject {
    Q_OBJECT

private slots:
    void workedExampleThroughTheWindow()
    {
        ResultsWindow f;
        fillWorkedExample(f);
        const QString path = f.folder.filePath(QStringLiteral("results.txt"));
        f.fake.dialogs.answerSaveFile(path);
        f.click(5);

        QCOMPARE(readAll(path), WorkedExample);
        const auto& shown = f.fake.dialogs.shown;
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[0].kind, ShownDialog::SaveFile);
        QCOMPARE(shown[0].save.title, QStringLiteral("Save"));
        QCOMPARE(shown[0].save.filter,
                 QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|"));
        QCOMPARE(shown[0].save.fileName, QString());
        QCOMPARE(shown[1].kind, ShownDialog::Message);
        QCOMPARE(shown[1].text, QStringLiteral("Done."));
        QCOMPARE(f.window.mousePointer().value(), int(MousePointer::Default));
        QCOMPARE(f.window.progress().value(), 0.0);
        QCOMPARE(f.window.progress().text(), QStringLiteral("Progress Bar"));
        QCOMPARE(f.window.results().size(), 2);
    }

    void fileContents_data()
    {
        QTest::addColumn<QStringList>("rows"); // contact|value|ticked per row, field Body
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("empty list: the header line alone")
            << QStringList{} << QByteArrayLiteral("Contact\tField\tValue\t\r\n");
        QTest::newRow("unticked rows widen their columns but are not written")
            << QStringList{QStringLiteral("al|x|1"), QStringLiteral("bobbybobby|long value|0")}
            << QByteArrayLiteral("Contact   \tField\tValue     \t\r\n"
                                 "al        \tBody \tx         \t\r\n");
        QTest::newRow("widths count UTF-16 code units; UTF-8 without BOM")
            << QStringList{QStringLiteral("\U0001F600|é|1"), QStringLiteral("é|x|1")}
            << QByteArray("Contact\tField\tValue\t\r\n"
                          "\xF0\x9F\x98\x80     \tBody \t\xC3\xA9    \t\r\n"
                          "\xC3\xA9      \tBody \tx    \t\r\n");
        QTest::newRow("empty texts are padded to the full width")
            << QStringList{QStringLiteral("||1")}
            << QByteArrayLiteral("Contact\tField\tValue\t\r\n"
                                 "       \tBody \t     \t\r\n");
    }
    void fileContents()
    {
        QFETCH(QStringList, rows);
        QFETCH(QByteArray, expected);
        ResultsWindow f;
        for (const QString& row : rows) {
            const QStringList parts = row.split(QLatin1Char('|'));
            f.window.results().append(parts[0], MessageField::Body, parts[1]);
            f.window.results().setChecked(f.window.results().size(), parts[2] == QLatin1String("1"));
        }
        const QString path = f.folder.filePath(QStringLiteral("out.txt"));
        f.fake.dialogs.answerSaveFile(path);
        f.click(5);
        QCOMPARE(readAll(path), expected);
        QCOMPARE(f.fake.dialogs.messages(), QStringList{QStringLiteral("Done.")});
    }

    void existingFile_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("yes replaces it whole") << true;
        QTest::newRow("no leaves it untouched") << false;
    }
    void existingFile()
    {
        QFETCH(bool, yes);
        ResultsWindow f;
        fillWorkedExample(f);
        const QString path = f.folder.filePath(QStringLiteral("old.txt"));
        const QByteArray old(5000, 'x');
        writeFile(path, old);
        f.fake.dialogs.answerSaveFile(path);
        f.fake.dialogs.answerQuestion(yes);
        f.click(5);

        QCOMPARE(f.fake.dialogs.texts(ShownDialog::Question),
                 QStringList{QStringLiteral("Are you sure you wish to overwrite ") + path
                             + QStringLiteral(" ?")});
        QCOMPARE(readAll(path), yes ? WorkedExample : old);
        QCOMPARE(f.fake.dialogs.messages(),
                 yes ? QStringList{QStringLiteral("Done.")} : QStringList{});
        QCOMPARE(f.window.mousePointer().value(), int(MousePointer::Default));
    }

    void cancelWritesNothing()
    {
        ResultsWindow f;
        fillWorkedExample(f);
        f.click(5);
        QCOMPARE(f.fake.dialogs.shown.size(), 1);
        QCOMPARE(QDir(f.folder.path()).entryList(QDir::Files), QStringList{});
    }

    void nameWithoutExtensionIsUsedAsTyped()
    {
        ResultsWindow f;
        const QString path = f.folder.filePath(QStringLiteral("results"));
        f.fake.dialogs.answerSaveFile(path);
        f.click(5);
        QCOMPARE(QDir(f.folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("results")});
    }

    void fileThatCannotBeCreatedIsReportedOnce()
    {
        ResultsWindow f;
        for (int i = 0; i < 50; ++i)
            f.window.results().append(QStringLiteral("c"), MessageField::Body, QStringLiteral("v"));
        const QString path = f.folder.filePath(QStringLiteral("no such folder/out.txt"));
        f.fake.dialogs.answerSaveFile(path);
        f.click(5);

        const QStringList reports = f.fake.dialogs.errorReports();
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports[0].startsWith(QStringLiteral("Cannot create the file ") + path + QStringLiteral(": ")),
                 qPrintable(reports[0]));
        QVERIFY(reports[0].contains(
            QStringLiteral("\r\nin Velmoran2021/08/31.Main.SaveListviewProperlySpaced at line 156\r\r")));
        QVERIFY(f.fake.dialogs.messages().isEmpty());
        QCOMPARE(f.window.progress().text(), QStringLiteral("Progress Bar"));
        QCOMPARE(f.window.progress().value(), 0.0);
        QCOMPARE(f.window.mousePointer().value(), int(MousePointer::Default));
    }

    void fullDiskLeavesTheOldFileIntact()
    {
        ResultsWindow f;
        for (int i = 0; i < 20000; ++i)
            f.window.results().append(QStringLiteral("contact%1").arg(i), MessageField::Body,
                                      QStringLiteral("a value that takes some room"));
        const QString path = f.folder.filePath(QStringLiteral("kept.txt"));
        const QByteArray old("the old content\r\n");
        writeFile(path, old);
        f.fake.dialogs.answerSaveFile(path);
        f.fake.dialogs.answerQuestion(true);

        // Files of this process may grow to 64 KiB only: the write fails part-way.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = 64 * 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        f.click(5);
        setrlimit(RLIMIT_FSIZE, &saved);

        QCOMPARE(readAll(path), old);
        QCOMPARE(QDir(f.folder.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("kept.txt")});
        const QStringList reports = f.fake.dialogs.errorReports();
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports[0].startsWith(QStringLiteral("Cannot write the file ") + path),
                 qPrintable(reports[0]));
        QVERIFY(f.fake.dialogs.messages().isEmpty());
    }

    void deviceFailingPartWayIsReportedOnce()
    {
        MemoryTable table({QStringLiteral("A"), QStringLiteral("B")});
        for (int i = 0; i < 30000; ++i)
            table.add({QStringLiteral("row %1").arg(i), QStringLiteral("text")});
        FakePlatform fake;
        DialogErrorReporter reporter(fake.dialogs);
        FailingDevice device(100000);
        RecordingProgress progress;
        QVERIFY(!SaveListviewProperlySpaced(table, device, QStringLiteral("/x/y.txt"), &progress,
                                            nullptr, reporter));
        QCOMPARE(fake.dialogs.errorReports().size(), 1);
        QVERIFY(fake.dialogs.errorReports()[0].startsWith(
            QStringLiteral("Cannot write the file /x/y.txt: No space left on device\r\n")));
        QVERIFY(!device.isOpen());
        // No "Done." on the display; it ends at rest.
        for (const auto& state : progress.states)
            QVERIFY(state.text != QStringLiteral("Done."));
        QCOMPARE(progress.current, QStringLiteral("Progress Bar"));
        QCOMPARE(progress.value, 0.0);
    }

    void bufferGetsTheSameBytes()
    {
        MemoryTable table({QStringLiteral("Contact"), QStringLiteral("Field"), QStringLiteral("Value")});
        table.add({QStringLiteral("alice"), QStringLiteral("Body"), QStringLiteral("hi there")});
        table.add({QStringLiteral("bob"), QStringLiteral("From Display Name"), QStringLiteral("Bob")});
        FakePlatform fake;
        DialogErrorReporter reporter(fake.dialogs);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        QVERIFY(SaveListviewProperlySpaced(table, buffer, QStringLiteral("mem"), nullptr, nullptr,
                                           reporter));
        QCOMPARE(bytes, WorkedExample);
        QVERIFY(fake.dialogs.shown.isEmpty());
    }

    void progressGoesThroughItsStates()
    {
        MemoryTable table({QStringLiteral("A")});
        for (int i = 1; i <= 4000; ++i)
            table.add({QString::number(i)}, i != 3);
        FakePlatform fake;
        DialogErrorReporter reporter(fake.dialogs);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        RecordingProgress progress;
        QVERIFY(SaveListviewProperlySpaced(table, buffer, QStringLiteral("C:\\out\\results.txt"),
                                           &progress, nullptr, reporter));
        const QString writing = QStringLiteral("Writing file: results.txt");
        const auto& s = progress.states;
        QCOMPARE(s.front().value, 1.0);
        QCOMPARE(s[1].text, writing);
        QCOMPARE(s[1].value, 1.0);
        QCOMPARE(s[2].value, 10.0);
        QCOMPARE(s[3].text, writing);
        QCOMPARE(s[4].value, 20.0);
        QCOMPARE(s[5].text, writing);
        // Then one value per ticked row: row 3 is unticked, so rows 1, 2, 4, ...
        QCOMPARE(s[6].value, (1 + 2) / 4000.0 * 100);
        QCOMPARE(s[7].value, (2 + 2) / 4000.0 * 100);
        QCOMPARE(s[8].value, (4 + 2) / 4000.0 * 100);
        QStringList counted;
        for (const auto& state : s) {
            if (state.isText && state.text.startsWith(writing + QStringLiteral(" (")))
                counted << state.text;
        }
        QCOMPARE(counted, (QStringList{writing + QStringLiteral(" (1000)"),
                                       writing + QStringLiteral(" (2000)"),
                                       writing + QStringLiteral(" (3000)"),
                                       writing + QStringLiteral(" (4000)")}));
        const size_t last = s.size() - 1;
        QCOMPARE(s[last - 5].value, 100.05); // the last row: (4000 + 2) / 4000 * 100
        QCOMPARE(s[last - 4].text, writing + QStringLiteral(" (4000)"));
        QCOMPARE(s[last - 3].value, 100.0);
        QCOMPARE(s[last - 2].text, QStringLiteral("Done."));
        QCOMPARE(s[last - 1].value, 0.0);
        QCOMPARE(s[last].text, QStringLiteral("Progress Bar"));
        // The row lines: 3999 ticked rows after the header.
        QCOMPARE(bytes.count("\r\n"), 4000);
    }

    void fileNameFromPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("backslashes") << QStringLiteral("C:\\out\\results.txt") << QStringLiteral("results.txt");
        QTest::newRow("slashes") << QStringLiteral("/home/u/results.txt") << QStringLiteral("results.txt");
        QTest::newRow("mixed, last wins") << QStringLiteral("a\\b/c\\d.txt") << QStringLiteral("d.txt");
        QTest::newRow("no separator") << QStringLiteral("results") << QStringLiteral("results");
        QTest::newRow("trailing separator") << QStringLiteral("/tmp/") << QString();
    }
    void fileNameFromPath()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QCOMPARE(FileNameFromPath(path), name);
    }

    void rowsCannotBeRemovedWhileTheFileIsWritten()
    {
        ResultsWindow f;
        fillWorkedExample(f);
        bool removalAllowed = true;
        QTimer::singleShot(0, &f.window, [&] {
            removalAllowed = f.window.resultsRemoval().removalAllowed();
            f.click(6);
        });
        const QString path = f.folder.filePath(QStringLiteral("results.txt"));
        f.fake.dialogs.answerSaveFile(path);
        f.click(5);
        QVERIFY(!removalAllowed);
        QCOMPARE(f.window.results().size(), 2);
        QCOMPARE(readAll(path), WorkedExample);
        QVERIFY(f.window.resultsRemoval().removalAllowed());
    }
};

QTEST_MAIN(TextExportTest)
#include "test_text_export.moc"
