// The workbook writer on its own: which cells a list becomes, and its failures.
#include "core/failure.h"
#include "memory_table.h"
#include "results/workbook_writer.h"
#include "workbook_sheet.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace velmoran;
using velmoran::test::MemoryTable;
using velmoran::test::readWorkbookSheet;
using velmoran::test::WorkbookSheet;

namespace {

// A cell text as a reader of the format sees it: every "_xHHHH_" is the character HHHH.
QString decodedCellText(const QString& xmlText)
{
    static const QRegularExpression escape(QStringLiteral("_x([0-9A-Fa-f]{4})_"));
    QString text;
    qsizetype at = 0;
    for (auto it = escape.globalMatch(xmlText); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        text += QStringView(xmlText).mid(at, match.capturedStart() - at);
        text += QChar(char16_t(match.captured(1).toUShort(nullptr, 16)));
        at = match.capturedEnd();
    }
    text += QStringView(xmlText).mid(at);
    return text;
}

} // namespace

class WorkbookWriterTest : public QObject {
    Q_OBJECT

private slots:
    void emptyCellsTakeNoColumn()
    {
        MemoryTable table(
            {QStringLiteral("Contact"), QStringLiteral("Field"), QStringLiteral("Value")});
        table.add({QStringLiteral("a"), QString(), QStringLiteral("c")});
        table.add({QString(), QStringLiteral("f"), QStringLiteral("=v=")});
        table.add({QString(), QString(), QString()});
        table.add(
            {QStringLiteral("d"), QStringLiteral("line one\nlonger line two"), QStringLiteral("=")},
            false);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("w.xlsx"));
        QVERIFY(!writeWorkbook(table, path, nullptr));
        const WorkbookSheet sheet = readWorkbookSheet(path);
        QVERIFY(sheet.read);
        const QHash<QString, QString> expected = {
            {QStringLiteral("A1"), QStringLiteral("Contact")},
            {QStringLiteral("B1"), QStringLiteral("Value")},
            {QStringLiteral("A2"), QStringLiteral("a")},
            {QStringLiteral("B2"), QStringLiteral("c")},
            {QStringLiteral("A3"), QStringLiteral("f")},
            {QStringLiteral("B3"), QStringLiteral("v")},
            // Row 4 stays blank. A value that was all "=" is an empty text cell.
            {QStringLiteral("A5"), QStringLiteral("d")},
            {QStringLiteral("B5"), QStringLiteral("line one\nlonger line two")},
        };
        for (auto it = expected.begin(); it != expected.end(); ++it)
            QCOMPARE(sheet.cells.value(it.key()), it.value());
        QVERIFY(!sheet.cells.contains(QStringLiteral("A4")));
        QVERIFY(sheet.cells.value(QStringLiteral("C5")).isEmpty());
        // The widest line, not the whole multi-line text.
        QVERIFY(sheet.widths.value(2) >= 15 && sheet.widths.value(2) < 18);
    }

    void unwritableWorkbookFileFails()
    {
        MemoryTable table({QStringLiteral("A")});
        table.add({QStringLiteral("x")});
        QTemporaryDir folder;
        bool failed = false;
        try {
            writeWorkbook(table, folder.filePath(QStringLiteral("missing/w.xlsx")), nullptr);
        } catch (const Failure& failure) {
            failed = failure.description().startsWith(QStringLiteral("Cannot write the workbook "));
        }
        QVERIFY(failed);
    }

    void overlongTextsAreCutToWhatACellHolds()
    {
        MemoryTable table({QStringLiteral("A")});
        table.add({QString(MaxCellText + 10, QLatin1Char('x'))});
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("w.xlsx"));
        writeWorkbook(table, path, nullptr);
        QCOMPARE(readWorkbookSheet(path).cells.value(QStringLiteral("A2")).size(), MaxCellText);
    }

    void textsSurviveTheRoundTrip_data()
    {
        QTest::addColumn<QString>("text");
        auto text = [](std::initializer_list<char16_t> units) {
            return QString(reinterpret_cast<const QChar*>(units.begin()), qsizetype(units.size()));
        };
        QTest::newRow("NUL inside") << text({u'a', u'\0', u'b', u'c'});
        QTest::newRow("NUL first and last") << text({u'\0', u'x', u'\0'});
        QTest::newRow("escape-like literal") << QStringLiteral("say _x0041_ twice _x0041_");
        QTest::newRow("escaped underscore literal") << QStringLiteral("_x005F_x0041_");
        QTest::newRow("small hex digits") << QStringLiteral("_x00e9_");
        QTest::newRow("back to back") << QStringLiteral("_x0041__x0042_");
        QTest::newRow("NUL before a pattern")
            << text({u'\0', u'_', u'x', u'0', u'0', u'4', u'1', u'_'});
        QTest::newRow("not patterns") << QStringLiteral("_x12_ _x0041 _X0041_ _xG041_ x0041_ __x");
        QTest::newRow("control characters")
            << text({u'a', 1, u'b', 0x1f, u'\r', u'\n', u'\t', u'c'});
        QTest::newRow("surrogate pair after NUL") << text({u'\0', 0xd83d, 0xde00});
    }
    void textsSurviveTheRoundTrip()
    {
        QFETCH(QString, text);
        // In the first column and in a later one (which loses "=" only).
        MemoryTable table({QStringLiteral("A_x0041_"), QStringLiteral("B")});
        table.add({text, text});
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("w.xlsx"));
        QVERIFY(!writeWorkbook(table, path, nullptr));
        const WorkbookSheet sheet = readWorkbookSheet(path);
        QVERIFY(sheet.read);
        QCOMPARE(decodedCellText(sheet.cells.value(QStringLiteral("A1"))),
                 QStringLiteral("A_x0041_"));
        QCOMPARE(decodedCellText(sheet.cells.value(QStringLiteral("A2"))), text);
        QCOMPARE(decodedCellText(sheet.cells.value(QStringLiteral("B2"))), text);
    }

    void escapesCountTowardsWhatACellHolds()
    {
        // 100 NULs take seven characters each in the file, so fewer of the rest fit.
        const QString text =
            QString(100, QChar(u'\0')) + QString(MaxCellText - 100, QLatin1Char('x'));
        // A text that fits a cell as it is, but not with the underscore of its pattern escaped:
        // it is cut after the escape.
        const QString pattern =
            QString(MaxCellText - 7, QLatin1Char('y')) + QStringLiteral("_x0041_");
        MemoryTable table({QStringLiteral("A")});
        table.add({text});
        table.add({pattern});
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("w.xlsx"));
        QVERIFY(!writeWorkbook(table, path, nullptr));
        const WorkbookSheet sheet = readWorkbookSheet(path);
        const QString kept = decodedCellText(sheet.cells.value(QStringLiteral("A2")));
        QCOMPARE(kept.size(), MaxCellText - 600);
        QVERIFY(text.startsWith(kept));
        const QString keptPattern = decodedCellText(sheet.cells.value(QStringLiteral("A3")));
        QCOMPARE(keptPattern, pattern.left(MaxCellText - 6));
    }
};

QTEST_GUILESS_MAIN(WorkbookWriterTest)
#include "test_workbook_writer.moc"
