// The column-aligned text writer on its own: the bytes, progress, and failures part-way.
#include "core/error_report.h"
#include "fake_platform.h"
#include "memory_table.h"
#include "results/text_file_writer.h"

#include <QBuffer>
#include <QTest>

#include <vector>

using namespace velmoran;
using velmoran::test::FakePlatform;
using velmoran::test::MemoryTable;

namespace {

const QByteArray WorkedExample = QByteArrayLiteral("Contact\tField            \tValue   \t\r\n"
                                                   "alice  \tBody             \thi there\t\r\n"
                                                   "bob    \tFrom Display Name\tBob     \t\r\n");

struct RecordingProgress final : ProgressSink {
    struct State {
        double value;
        QString text;
        bool isText;
    };
    void setValue(double v) override
    {
        states.push_back({v, current, false});
        value = v;
    }
    void setText(const QString& t) override
    {
        current = t;
        states.push_back({value, t, true});
    }
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

class TextFileWriterTest : public QObject {
    Q_OBJECT

private slots:
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
        MemoryTable table(
            {QStringLiteral("Contact"), QStringLiteral("Field"), QStringLiteral("Value")});
        table.add({QStringLiteral("alice"), QStringLiteral("Body"), QStringLiteral("hi there")});
        table.add(
            {QStringLiteral("bob"), QStringLiteral("From Display Name"), QStringLiteral("Bob")});
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
        QTest::newRow("backslashes")
            << QStringLiteral("C:\\out\\results.txt") << QStringLiteral("results.txt");
        QTest::newRow("slashes") << QStringLiteral("/home/u/results.txt")
                                 << QStringLiteral("results.txt");
        QTest::newRow("mixed, last wins")
            << QStringLiteral("a\\b/c\\d.txt") << QStringLiteral("d.txt");
        QTest::newRow("no separator") << QStringLiteral("results") << QStringLiteral("results");
        QTest::newRow("trailing separator") << QStringLiteral("/tmp/") << QString();
    }
    void fileNameFromPath()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QCOMPARE(FileNameFromPath(path), name);
    }
};

QTEST_GUILESS_MAIN(TextFileWriterTest)
#include "test_text_file_writer.moc"
