#include "app/desktop_platform.h"
#include "core/failure.h"
#include "memory_table.h"
#include "app/results_removal_lock.h"
#include "results_window.h"
#include "app/workbook_export.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QXmlStreamReader>

#include <archive.h>
#include <archive_entry.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Sets the modification time of a path itself (a link, not what it points to).
bool setModified(const QString& path, const QDateTime& when)
{
    const timespec time{time_t(when.toSecsSinceEpoch()), 0};
    const timespec times[2] = {time, time};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool writeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("PK") == 2;
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
        QTest::newRow("NUL before a pattern") << text({u'\0', u'_', u'x', u'0', u'0', u'4', u'1', u'_'});
        QTest::newRow("not patterns") << QStringLiteral("_x12_ _x0041 _X0041_ _xG041_ x0041_ __x");
        QTest::newRow("control characters") << text({u'a', 1, u'b', 0x1f, u'\r', u'\n', u'\t', u'c'});
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
        const Sheet sheet = readSheet(path);
        QVERIFY(sheet.read);
        QCOMPARE(decodedCellText(sheet.cells.value(QStringLiteral("A1"))), QStringLiteral("A_x0041_"));
        QCOMPARE(decodedCellText(sheet.cells.value(QStringLiteral("A2"))), text);
        QCOMPARE(decodedCellText(sheet.cells.value(QStringLiteral("B2"))), text);
    }

    void escapesCountTowardsWhatACellHolds()
    {
        // 100 NULs take seven characters each in the file, so fewer of the rest fit.
        const QString text = QString(100, QChar(u'\0')) + QString(MaxCellText - 100, QLatin1Char('x'));
        // A text that fits a cell as it is, but not with the underscore of its pattern escaped:
        // it is cut after the escape.
        const QString pattern = QString(MaxCellText - 7, QLatin1Char('y')) + QStringLiteral("_x0041_");
        MemoryTable table({QStringLiteral("A")});
        table.add({text});
        table.add({pattern});
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("w.xlsx"));
        QVERIFY(!writeWorkbook(table, path, nullptr));
        const Sheet sheet = readSheet(path);
        const QString kept = decodedCellText(sheet.cells.value(QStringLiteral("A2")));
        QCOMPARE(kept.size(), MaxCellText - 600);
        QVERIFY(text.startsWith(kept));
        const QString keptPattern = decodedCellText(sheet.cells.value(QStringLiteral("A3")));
        QCOMPARE(keptPattern, pattern.left(MaxCellText - 6));
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

    void onlyOurStaleWorkbookFoldersAreRemoved_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("ageHours");
        QTest::addColumn<bool>("removed");
        QTest::newRow("workbook, two days") << "velmoran-aBcDeF" << "workbook" << 48 << true;
        QTest::newRow("empty, two days") << "velmoran-ZZZZZZ" << "empty" << 48 << true;
        QTest::newRow("workbook, 25 hours") << "velmoran-abcxyz" << "workbook" << 25 << true;
        QTest::newRow("workbook, a day") << "velmoran-abcxyz" << "workbook" << 24 << true;
        QTest::newRow("digits") << "velmoran-abc123" << "workbook" << 48 << false;
        QTest::newRow("workbook, an hour") << "velmoran-aBcDeF" << "workbook" << 1 << false;
        QTest::newRow("workbook, 23 hours") << "velmoran-aBcDeF" << "workbook" << 23 << false;
        QTest::newRow("workbook changed lately") << "velmoran-aBcDeF" << "fresh workbook" << 48 << false;
        QTest::newRow("lock file beside") << "velmoran-aBcDeF" << "locked" << 48 << false;
        QTest::newRow("other file") << "velmoran-aBcDeF" << "other" << 48 << false;
        QTest::newRow("folder named as the workbook") << "velmoran-aBcDeF" << "subfolder" << 48 << false;
        QTest::newRow("workbook is a link") << "velmoran-aBcDeF" << "linked workbook" << 48 << false;
        QTest::newRow("folder is a link") << "velmoran-aBcDeF" << "link" << 48 << false;
        QTest::newRow("plain file") << "velmoran-aBcDeF" << "file" << 48 << false;
        QTest::newRow("another owner") << "velmoran-aBcDeF" << "foreign" << 48 << false;
        QTest::newRow("name too short") << "velmoran-aBcDe" << "workbook" << 48 << false;
        QTest::newRow("name too long") << "velmoran-aBcDeFg" << "workbook" << 48 << false;
        QTest::newRow("other prefix") << "velmoram-aBcDeF" << "workbook" << 48 << false;
        QTest::newRow("capital prefix") << "Velmoran-aBcDeF" << "workbook" << 48 << false;
        QTest::newRow("not a letter") << "velmoran-aB.cDe" << "workbook" << 48 << false;
    }
    void onlyOurStaleWorkbookFoldersAreRemoved()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(int, ageHours);
        QFETCH(bool, removed);
        if (kind == u"foreign" && ::geteuid() != 0)
            QSKIP("Giving a folder to another user needs root.");
        const QDateTime now(QDate(2026, 3, 4), QTime(5, 6, 7));
        const QDateTime then = now.addSecs(-3600 * qint64(ageHours) - 60);
        QTemporaryDir temporary;
        QTemporaryDir elsewhere;
        const QString folder = temporary.filePath(name);
        const QString workbook = folder + u'/' + QString::fromUtf16(WorkbookFileName);
        // What a link points at: an old folder of ours elsewhere, with its workbook.
        const QString target = elsewhere.filePath(QStringLiteral("velmoran-target"));
        const QString targetWorkbook = target + u'/' + QString::fromUtf16(WorkbookFileName);
        QVERIFY(QDir().mkpath(target) && writeFile(targetWorkbook));
        QVERIFY(setModified(targetWorkbook, then) && setModified(target, then));

        if (kind == u"link") {
            QVERIFY(QFile::link(target, folder));
        } else if (kind == u"file") {
            QVERIFY(writeFile(folder));
        } else {
            QVERIFY(QDir().mkpath(folder));
            if (kind == u"workbook" || kind == u"locked" || kind == u"other" || kind == u"foreign")
                QVERIFY(writeFile(workbook));
            if (kind == u"fresh workbook")
                QVERIFY(writeFile(workbook) && setModified(workbook, now.addSecs(-60)));
            else if (QFileInfo::exists(workbook))
                QVERIFY(setModified(workbook, then));
            if (kind == u"locked")
                QVERIFY(writeFile(folder + QStringLiteral("/.~lock.") + QString::fromUtf16(WorkbookFileName) + u'#'));
            if (kind == u"other")
                QVERIFY(writeFile(folder + QStringLiteral("/notes.txt")));
            if (kind == u"subfolder")
                QVERIFY(QDir().mkpath(workbook));
            if (kind == u"linked workbook")
                QVERIFY(QFile::link(targetWorkbook, workbook));
            if (kind == u"foreign")
                QVERIFY(::chown(QFile::encodeName(folder).constData(), 65534, 65534) == 0);
        }
        QVERIFY(setModified(folder, then));

        QCOMPARE(removeStaleWorkbookFolders(temporary.path(), now), removed ? 1 : 0);
        QCOMPARE(QFileInfo(folder).exists() || QFileInfo(folder).isSymLink(), !removed);
        if (!removed && kind != u"link" && kind != u"file" && kind != u"empty")
            QVERIFY(QFileInfo(workbook).exists() || QFileInfo(workbook).isSymLink());
        // What a link points at is never touched.
        QVERIFY(QFileInfo::exists(targetWorkbook));
    }

    void startUpRemovesStaleWorkbookFolders()
    {
        // The window's clock stands at 2 Jan 2026 10:20:30; TMPDIR names the temporary folder.
        QTemporaryDir temporary;
        const QDateTime stale(QDate(2025, 12, 30), QTime(12, 0));
        const QDateTime recent(QDate(2026, 1, 2), QTime(9, 0));
        const QStringList folders = {QStringLiteral("velmoran-OLDone"), QStringLiteral("velmoran-NEWone"),
                                     QStringLiteral("velmoran-OLDtwo")};
        for (const QString& name : folders) {
            const QString workbook = temporary.filePath(name) + u'/' + QString::fromUtf16(WorkbookFileName);
            QVERIFY(QDir().mkpath(temporary.filePath(name)) && writeFile(workbook));
            const QDateTime when = name.contains(u"NEW") ? recent : stale;
            QVERIFY(setModified(workbook, when) && setModified(temporary.filePath(name), when));
        }
        const QByteArray savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(temporary.path()));
        {
            ResultsWindow f;
            QVERIFY(f.fake.dialogs.shown.isEmpty());
        }
        qputenv("TMPDIR", savedTmp);
        if (savedTmp.isEmpty())
            qunsetenv("TMPDIR");
        QCOMPARE(QDir(temporary.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QStringLiteral("velmoran-NEWone")});
    }

    void foldersTheExportMakesAreRemovedOnceStale()
    {
        QTemporaryDir temporary;
        ResultsWindow f;
        f.fake.shell.defaultApplications.insert(Mime, QStringLiteral("gnumeric.desktop"));
        f.fill({{QStringLiteral("alice"), MessageField::Body, QStringLiteral("hi")}});
        const QByteArray savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(temporary.path()));
        f.click(14);
        f.click(14);
        qputenv("TMPDIR", savedTmp);
        if (savedTmp.isEmpty())
            qunsetenv("TMPDIR");
        QCOMPARE(f.fake.shell.documents.size(), 2);
        const QDateTime now = QDateTime::currentDateTime();
        // In use a moment ago: kept.
        QCOMPARE(removeStaleWorkbookFolders(temporary.path(), now), 0);
        QCOMPARE(removeStaleWorkbookFolders(temporary.path(), now.addSecs(25 * 3600)), 2);
        QVERIFY(QDir(temporary.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
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
