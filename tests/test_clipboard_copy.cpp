#include "app/clipboard_copy.h"
#include "app/results_model.h"
#include "app/results_removal_lock.h"
#include "memory_table.h"
#include "window_harness.h"

#include <QTest>
#include <QTimer>

using namespace velmoran;
using velmoran::test::MemoryClipboard;
using velmoran::test::MemoryTable;
using velmoran::test::WindowHarness;

namespace {

const QString Busy = QStringLiteral(
    "The results could not be copied: another program is holding the clipboard. Please try "
    "again.");

const QString Copied = QStringLiteral(
    "Results have been copied to the clipboard.\r\rClick a text area where you normally type and "
    "press Ctrl+V to paste the clipboard.");

} // namespace

class ClipboardCopyTest : public QObject {
    Q_OBJECT

private slots:
    void workedExampleThroughTheWindow()
    {
        WindowHarness f;
        f.addResults(
            {{QStringLiteral("alice"), MessageField::Body, QStringLiteral("hi there")},
             {QStringLiteral("bob"), MessageField::FromDisplayName, QStringLiteral("Bob")}});
        f.fake.clipboard.text = QStringLiteral("before");
        f.press(8);
        QCOMPARE(f.fake.clipboard.text, QStringLiteral("alice\tBody             \thi there\r\n"
                                                       "bob  \tFrom Display Name\tBob\r\n"));
        QCOMPARE(f.fake.clipboard.format, 0);
        QCOMPARE(f.fake.clipboard.clearCalls, 1);
        QCOMPARE(f.fake.clipboard.setTextCalls, 1);
        QCOMPARE(f.fake.dialogs.messages(), QStringList{Copied});
        QCOMPARE(f.window.results().size(), 2);
    }

    void clipboardText_data()
    {
        QTest::addColumn<QStringList>("rows"); // three cells and a tick, "|" between
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing ticked: empty text")
            << QStringList{QStringLiteral("a|b|c|0")} << QString();
        QTest::newRow("an empty last cell keeps the tab after the padded cell")
            << QStringList{QStringLiteral("a|b||1"), QStringLiteral("a|bbb|c|1")}
            << QStringLiteral("a\tb  \t\r\na\tbbb\tc\r\n");
        QTest::newRow("unticked rows widen their columns")
            << QStringList{QStringLiteral("a|b|c|1"), QStringLiteral("aaaa|bbbb|cccc|0")}
            << QStringLiteral("a   \tb   \tc\r\n");
        QTest::newRow("only trailing blanks are trimmed, not tabs or inner blanks")
            << QStringList{QStringLiteral("a|  |  x  |1")} << QStringLiteral("a\t  \t  x\r\n");
        QTest::newRow("widths count UTF-16 code units")
            << QStringList{QStringLiteral("\U0001F600|b|c|1"), QStringLiteral("é|b|c|1")}
            << QStringLiteral("\U0001F600\tb\tc\r\né \tb\tc\r\n");
    }
    void clipboardText()
    {
        QFETCH(QStringList, rows);
        QFETCH(QString, expected);
        MemoryTable table(
            {QStringLiteral("Contact"), QStringLiteral("Field"), QStringLiteral("Value")});
        for (const QString& row : rows) {
            const QStringList parts = row.split(QLatin1Char('|'));
            table.add(parts.mid(0, 3), parts[3] == QLatin1String("1"));
        }
        MemoryClipboard clipboard;
        QCOMPARE(CopyListviewProperlySpaced(table, clipboard, nullptr), ClipboardCopy::Copied);
        QCOMPARE(clipboard.text, expected);
        QCOMPARE(clipboard.clearCalls, 1);
    }

    void emptyListLeavesTheClipboardAlone()
    {
        WindowHarness f;
        f.fake.clipboard.text = QStringLiteral("before");
        f.press(8);
        QCOMPARE(f.fake.clipboard.text, QStringLiteral("before"));
        QCOMPARE(f.fake.clipboard.clearCalls, 0);
        QCOMPARE(f.fake.clipboard.setTextCalls, 0);
        QCOMPARE(f.fake.dialogs.messages(), QStringList{Copied});
    }

    void busyClipboard_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<int>("clearCalls");
        QTest::addColumn<int>("setTextCalls");
        QTest::addColumn<bool>("copied");
        QTest::newRow("free") << 0 << 1 << 1 << true;
        QTest::newRow("busy for a while") << 999 << 1000 << 1 << true;
        QTest::newRow("clearing gives up, setting succeeds") << 1500 << 1000 << 501 << true;
        QTest::newRow("set succeeds at its last attempt") << 1999 << 1000 << 1000 << true;
        QTest::newRow("busy throughout") << 2000 << 1000 << 1000 << false;
    }
    void busyClipboard()
    {
        QFETCH(int, failures);
        QFETCH(int, clearCalls);
        QFETCH(int, setTextCalls);
        QFETCH(bool, copied);
        WindowHarness f;
        f.addResults({{QStringLiteral("alice"), MessageField::Body, QStringLiteral("hi")}});
        f.fake.clipboard.text = QStringLiteral("before");
        f.fake.clipboard.failuresBeforeSuccess = failures;
        f.press(8);
        QCOMPARE(f.fake.clipboard.clearCalls, clearCalls);
        QCOMPARE(f.fake.clipboard.setTextCalls, setTextCalls);
        QCOMPARE(f.fake.clipboard.text,
                 copied ? QStringLiteral("alice\tBody\thi\r\n") : QStringLiteral("before"));
        QCOMPARE(f.fake.dialogs.messages(), QStringList{copied ? Copied : Busy});
        QVERIFY(f.fake.dialogs.errorReports().isEmpty());
    }

    void rowsCannotBeRemovedWhileTheTextIsBuilt()
    {
        WindowHarness f;
        f.addResults({{QStringLiteral("alice"), MessageField::Body, QStringLiteral("hi")},
                      {QStringLiteral("bob"), MessageField::Body, QStringLiteral("yo")}});
        bool removalAllowed = true;
        QTimer::singleShot(0, &f.window, [&] {
            removalAllowed = f.window.resultsRemoval().removalAllowed();
            f.press(6);
        });
        f.press(8);
        QVERIFY(!removalAllowed);
        QCOMPARE(f.window.results().size(), 2);
        QCOMPARE(f.fake.clipboard.text, QStringLiteral("alice\tBody\thi\r\nbob  \tBody\tyo\r\n"));
    }
};

QTEST_MAIN(ClipboardCopyTest)
#include "test_clipboard_copy.moc"
