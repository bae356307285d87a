#include "app/desktop_platform.h"
#include "core/failure.h"
#include "memory_table.h"
#include "app/results_removal_lock.h"
#include "results_window.h"
#include "app/workbook_export.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QTest>
#include <QTimer>
#include <QXmlStreamReader>

#include <archive.h>
#include <archive_entry.h>

using namespace velmoran;
using velmoran::test::MemoryTable;
using velmoran::test::ResultsWindow;

namespace {

const QString Mime = QString::fromUtf16(WorkbookMimeType);

QHash<QString, QByteArray> zipEntries(const QString& path)
{
    QHash<QString, QByteArray> entries;
    archive* zip = archive_read_new();
    archive_read_support_format_zip(zip);
    const QByteArray file = QFile::encodeName(path);
    if (archive_read_open_filename(zip, file.constData(), 65536) == ARCHIVE_OK) {
        archive_entry* entry = nullptr;
        while (archive_read_next_header(zip, &entry) == ARCHIVE_OK) {
            QByteArray content;
            char buffer[65536];
            la_ssize_t got = 0;
            while ((got = archive_read_data(zip, buffer, sizeof buffer)) > 0)
                content.append(buffer, got);
            entries.insert(QString::fromUtf8(archive_entry_pathname(entry)), content);
        }
    }
    archive_read_free(zip);
    return entries;
}

// The first worksheet read back: text of every cell by its reference ("B2"), whether every
// cell is a shared-string (text) cell, and the column widths.
struct Sheet {
    QHash<QString, QString> cells;
    bool allText = true;
    QHash<int, double> widths;
    bool read = false;
};

Sheet readSheet(const QString& path)
{
    Sheet sheet;
    const QHash<QString, QByteArray> entries = zipEntries(path);
    if (!entries.contains(QStringLiteral("xl/worksheets/sheet1.xml")))
        return sheet;
    QStringList strings;
    QXmlStreamReader shared(entries.value(QStringLiteral("xl/sharedStrings.xml")));
    while (!shared.atEnd()) {
        if (shared.readNext() == QXmlStreamReader::StartElement && shared.name() == QLatin1String("si"))
            strings << QString();
        else if (shared.isStartElement() && shared.name() == QLatin1String("t"))
            strings.last() += shared.readElementText();
    }
    QXmlStreamReader xml(entries.value(QStringLiteral("xl/worksheets/sheet1.xml")));
    QString reference;
    bool isShared = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("c")) {
            reference = xml.attributes().value(QLatin1String("r")).toString();
            isShared = xml.attributes().value(QLatin1String("t")) == QLatin1String("s");
            sheet.allText = sheet.allText && isShared;
        } else if (xml.name() == QLatin1String("v")) {
            const QString v = xml.readElementText();
            sheet.cells.insert(reference, isShared ? strings.value(v.toInt()) : v);
        } else if (xml.name() == QLatin1String("col")) {
            const auto a = xml.attributes();
            for (int c = a.value(QLatin1String("min")).toInt(); c <= a.value(QLatin1String("max")).toInt(); ++c)
                sheet.widths.insert(c, a.value(QLatin1String("width")).toDouble());
        }
    }
    sheet.read = !xml.hasError();
    return sheet;
}

QString unquoted(const QString& text)
{
    return text.mid(1, text.size() - 2);
}

} // namespace

class WorkbookExportTest : public QObject {
    Q_OBJECT

private slots:
    void resultsArriveAsTextCellsAndTheWorkbookOpens()
    {
        ResultsWindow f;
        f.fake.shell.defaultApplications.insert(Mime, QStringLiteral("gnumeric.desktop"));
        f.fill({{QStringLiteral("alice"), MessageField::Body, QStringLiteral("=1+1")},
                {QStringLiteral("a=b"), MessageField::FromDisplayName, QStringLiteral("x")},
                {QStringLiteral("carl"), MessageField::Timestamp, QStringLiteral("2021-08-31 10:00:00")}});
        f.window.results().setChecked(3, false);
        f.click(14);

        QVERIFY(f.fake.dialogs.shown.isEmpty());
        QCOMPARE(f.fake.shell.documents.size(), 1);
        const ShellOpenRequest request = f.fake.shell.documents[0];
        QVERIFY(request.parameters.isEmpty());
        const QString path = unquoted(request.file);
        QVERIFY(path.endsWith(QLatin1String(".xlsx")));
        QCOMPARE(request.workingFolder, QFileInfo(path).path());
        const Sheet sheet = readSheet(path);
        QVERIFY(sheet.read);
        const QHash<QString, QString> expected = {
            {QStringLiteral("A1"), QStringLiteral("Contact")},
            {QStringLiteral("B1"), QStringLiteral("Field")},
            {QStringLiteral("C1"), QStringLiteral("Value")},
            {QStringLiteral("A2"), QStringLiteral("alice")},
            {QStringLiteral("B2"), QStringLiteral("Body")},
            {QStringLiteral("C2"), QStringLiteral("1+1")},
            {QStringLiteral("A3"), QStringLiteral("a=b")},
            {QStringLiteral("B3"), QStringLiteral("From Display Name")},
            {QStringLiteral("C3"), QStringLiteral("x")},
            {QStringLiteral("A4"), QStringLiteral("carl")},
            {QStringLiteral("B4"), QStringLiteral("Timestamp")},
            {QStringLiteral("C4"), QStringLiteral("2021-08-31 10:00:00")},
        };
        QCOMPARE(sheet.cells, expected);
        QVERIFY(sheet.allText);
        // Columns fit their longest text.
        QVERIFY(sheet.widths.value(1) >= 7 && sheet.widths.value(1) < 10);
        QVERIFY(sheet.widths.value(2) >= 17 && sheet.widths.value(2) < 20);
        QVERIFY(sheet.widths.value(3) >= 19 && sheet.widths.value(3) < 22);
        QCOMPARE(f.window.mousePointer().value(), int(MousePointer::Default));
        QCOMPARE(f.window.results().size(), 3);
        QDir(QFileInfo(path).path()).removeRecursively();
    }

    void emptyCellsTakeNoColumn()
    {
        MemoryTable table({QStringLiteral("Contact"), QStringLiteral("Field"), QStringLiteral("Value")});
        table.add({QStringLiteral("a"), QString(), QStringLiteral("c")});
        table.add({QString(), QStringLiteral("f"), QStringLiteral("=v=")});
        table.add({QString(), QString(), QString()});
        table.add({QStringLiteral("d"), QStringLiteral("line one\nlonger line two"), QStringLiteral("=")},
                  false);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("w.xlsx"));
        QVERIFY(!writeWorkbook(table, path, nullptr));
        const Sheet sheet = readSheet(path);
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

    void libreOfficeOpensItAsANewDocument()
    {
        ResultsWindow f;
        f.fake.shell.defaultApplications.insert(Mime, QStringLiteral("libreoffice-calc.desktop"));
        f.fill({{QStringLiteral("alice"), MessageField::Body, QStringLiteral("hi")}});
        f.click(14);
        QCOMPARE(f.fake.shell.documents.size(), 1);
        const ShellOpenRequest request = f.fake.shell.documents[0];
        QCOMPARE(request.file, QStringLiteral("\"libreoffice\""));
        QVERIFY(request.parameters.startsWith(QLatin1String("-n \"")));
        const QString path = unquoted(request.parameters.mid(3));
        QCOMPARE(readSheet(path).cells.value(QStringLiteral("A2")), QStringLiteral("alice"));
        QDir(QFileInfo(path).path()).removeRecursively();
    }

    void withoutASpreadsheetApplicationTwoMessages()
    {
        ResultsWindow f;
        f.fill({{QStringLiteral("alice"), MessageField::Body, QStringLiteral("hi")}});
        f.window.mousePointer().set(MousePointer::Custom);
        f.click(14);
        QCOMPARE(f.fake.dialogs.messages(),
                 (QStringList{QStringLiteral("Excel is not installed on this computer. You need "
                                             "to have it installed to use this software without "
                                             "error."),
                              QStringLiteral("Excel is not installed on this computer. You need "
                                             "to have it installed to use this feature.")}));
        QVERIFY(f.fake.shell.documents.isEmpty());
        QCOMPARE(f.window.mousePointer().value(), int(MousePointer::Custom));
    }

    void emptyResultsDoNothing()
    {
        ResultsWindow f;
        f.click(14);
        QVERIFY(f.fake.dialogs.shown.isEmpty());
        QVERIFY(f.fake.shell.documents.isEmpty());
    }

    void workbookThatCannotBeWrittenIsReportedOnce()
    {
        ResultsWindow f;
        f.fake.shell.defaultApplications.insert(Mime, QStringLiteral("gnumeric.desktop"));
        for (int i = 0; i < 100; ++i)
            f.window.results().append(QStringLiteral("c"), MessageField::Body, QStringLiteral("v"));
        // The folder for temporary files is a plain file: no folder can be made in it.
        const QString notAFolder = f.folder.filePath(QStringLiteral("plain file"));
        QFile plain(notAFolder);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const QByteArray savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(notAFolder));
        f.click(14);
        qputenv("TMPDIR", savedTmp);
        if (savedTmp.isEmpty())
            qunsetenv("TMPDIR");

        const QStringList reports = f.fake.dialogs.errorReports();
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports[0].contains(QStringLiteral(
                     "\r\nin Velmoran2021/08/31.Form1.PushButton14_Click at line 112\r\r")),
                 qPrintable(reports[0]));
        QVERIFY(f.fake.shell.documents.isEmpty());
        QCOMPARE(f.window.mousePointer().value(), int(MousePointer::Default));
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
        QCOMPARE(readSheet(path).cells.value(QStringLiteral("A2")).size(), MaxCellText);
    }

    void desktopShellAsksTheMimeDatabase_data()
    {
        QTest::addColumn<bool>("registered");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("handles");
        QTest::addColumn<QString>("expected");
        QTest::newRow("registered default") << true << true << Mime << QStringLiteral("fakecalc.desktop");
        QTest::newRow("registered, application gone") << true << false << Mime << QString();
        QTest::newRow("installed, handles the type") << false << true << Mime << QStringLiteral("fakecalc.desktop");
        QTest::newRow("installed, handles other types") << false << true << QStringLiteral("text/plain") << QString();
    }
    void desktopShellAsksTheMimeDatabase()
    {
        QFETCH(bool, registered);
        QFETCH(bool, installed);
        QFETCH(QString, handles);
        QFETCH(QString, expected);
        QTemporaryDir home;
        QDir(home.path()).mkpath(QStringLiteral("config"));
        QDir(home.path()).mkpath(QStringLiteral("data/applications"));
        if (registered) {
            QFile list(home.filePath(QStringLiteral("config/mimeapps.list")));
            QVERIFY(list.open(QIODevice::WriteOnly));
            list.write("[Default Applications]\n" + Mime.toUtf8() + "=fakecalc.desktop\n");
        }
        if (installed) {
            QFile entry(home.filePath(QStringLiteral("data/applications/fakecalc.desktop")));
            QVERIFY(entry.open(QIODevice::WriteOnly));
            entry.write("[Desktop Entry]\nType=Application\nName=Fake Calc\nExec=true %U\nMimeType="
                        + handles.toUtf8() + ";\n");
        }
        const QByteArray names[] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_DIRS"};
        QByteArray saved[4];
        for (int i = 0; i < 4; ++i)
            saved[i] = qgetenv(names[i].constData());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(home.filePath(QStringLiteral("none"))));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(home.filePath(QStringLiteral("none"))));
        const QString answer = DesktopShell().defaultApplication(Mime);
        for (int i = 0; i < 4; ++i) {
            if (saved[i].isEmpty())
                qunsetenv(names[i].constData());
            else
                qputenv(names[i].constData(), saved[i]);
        }
        QCOMPARE(answer, expected);
    }

    void rowsCannotBeRemovedWhileTheSheetIsFilled()
    {
        ResultsWindow f;
        f.fake.shell.defaultApplications.insert(Mime, QStringLiteral("gnumeric.desktop"));
        f.fill({{QStringLiteral("alice"), MessageField::Body, QStringLiteral("hi")}});
        bool removalAllowed = true;
        QTimer::singleShot(0, &f.window, [&] {
            removalAllowed = f.window.resultsRemoval().removalAllowed();
            f.click(6);
        });
        f.click(14);
        QVERIFY(!removalAllowed);
        QCOMPARE(f.window.results().size(), 1);
        QCOMPARE(f.fake.shell.documents.size(), 1);
        QDir(QFileInfo(unquoted(f.fake.shell.documents[0].file)).path()).removeRecursively();
    }
};

QTEST_MAIN(WorkbookExportTest)
#include "test_workbook_export.moc"
