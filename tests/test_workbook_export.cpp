#include "app/desktop_platform.h"
#include "app/mouse_pointer.h"
#include "app/results_model.h"
#include "app/results_removal_lock.h"
#include "app/workbook_export.h"
#include "window_harness.h"
#include "workbook_sheet.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmoran;
using velmoran::test::readWorkbookSheet;
using velmoran::test::WindowHarness;
using velmoran::test::WorkbookSheet;

namespace {

const QString Mime =
    QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");

// Sets the modification time of a path itself (a link, not what it points to).
bool setModified(const QString& path, const QDateTime& when)
{
    const timespec time{time_t(when.toSecsSinceEpoch()), 0};
    const timespec times[2] = {time, time};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW)
           == 0;
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
        WindowHarness f;
        f.fake.shell.defaultApplications.insert(Mime, QStringLiteral("gnumeric.desktop"));
        f.addResults({{QStringLiteral("alice"), MessageField::Body, QStringLiteral("=1+1")},
                      {QStringLiteral("a=b"), MessageField::FromDisplayName, QStringLiteral("x")},
                      {QStringLiteral("carl"), MessageField::Timestamp,
                       QStringLiteral("2021-08-31 10:00:00")}});
        f.window.results().setChecked(3, false);
        f.press(14);

        QVERIFY(f.fake.dialogs.shown.isEmpty());
        QCOMPARE(f.fake.shell.documents.size(), 1);
        const ShellOpenRequest request = f.fake.shell.documents[0];
        QVERIFY(request.parameters.isEmpty());
        const QString path = unquoted(request.file);
        QVERIFY(path.endsWith(QLatin1String(".xlsx")));
        QCOMPARE(request.workingFolder, QFileInfo(path).path());
        const WorkbookSheet sheet = readWorkbookSheet(path);
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

    void libreOfficeOpensItAsANewDocument()
    {
        WindowHarness f;
        f.fake.shell.defaultApplications.insert(Mime, QStringLiteral("libreoffice-calc.desktop"));
        f.addResults({{QStringLiteral("alice"), MessageField::Body, QStringLiteral("hi")}});
        f.press(14);
        QCOMPARE(f.fake.shell.documents.size(), 1);
        const ShellOpenRequest request = f.fake.shell.documents[0];
        QCOMPARE(request.file, QStringLiteral("\"libreoffice\""));
        QVERIFY(request.parameters.startsWith(QLatin1String("-n \"")));
        const QString path = unquoted(request.parameters.mid(3));
        QCOMPARE(readWorkbookSheet(path).cells.value(QStringLiteral("A2")),
                 QStringLiteral("alice"));
        QDir(QFileInfo(path).path()).removeRecursively();
    }

    void withoutASpreadsheetApplicationTwoMessages()
    {
        WindowHarness f;
        f.addResults({{QStringLiteral("alice"), MessageField::Body, QStringLiteral("hi")}});
        f.window.mousePointer().set(MousePointer::Custom);
        f.press(14);
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
        WindowHarness f;
        f.press(14);
        QVERIFY(f.fake.dialogs.shown.isEmpty());
        QVERIFY(f.fake.shell.documents.isEmpty());
    }

    void workbookThatCannotBeWrittenIsReportedOnce()
    {
        WindowHarness f;
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
        f.press(14);
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

    void desktopShellAsksTheMimeDatabase_data()
    {
        QTest::addColumn<bool>("registered");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("handles");
        QTest::addColumn<QString>("expected");
        QTest::newRow("registered default")
            << true << true << Mime << QStringLiteral("fakecalc.desktop");
        QTest::newRow("registered, application gone") << true << false << Mime << QString();
        QTest::newRow("installed, handles the type")
            << false << true << Mime << QStringLiteral("fakecalc.desktop");
        QTest::newRow("installed, handles other types")
            << false << true << QStringLiteral("text/plain") << QString();
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
        const QByteArray names[] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CONFIG_DIRS",
                                    "XDG_DATA_DIRS"};
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
        QTest::newRow("workbook, two days") << "velmoran-aBcDeF"
                                            << "workbook" << 48 << true;
        QTest::newRow("empty, two days") << "velmoran-ZZZZZZ"
                                         << "empty" << 48 << true;
        QTest::newRow("workbook, 25 hours") << "velmoran-abcxyz"
                                            << "workbook" << 25 << true;
        QTest::newRow("workbook, a day") << "velmoran-abcxyz"
                                         << "workbook" << 24 << true;
        QTest::newRow("digits") << "velmoran-abc123"
                                << "workbook" << 48 << false;
        QTest::newRow("workbook, an hour") << "velmoran-aBcDeF"
                                           << "workbook" << 1 << false;
        QTest::newRow("workbook, 23 hours") << "velmoran-aBcDeF"
                                            << "workbook" << 23 << false;
        QTest::newRow("workbook changed lately") << "velmoran-aBcDeF"
                                                 << "fresh workbook" << 48 << false;
        QTest::newRow("lock file beside") << "velmoran-aBcDeF"
                                          << "locked" << 48 << false;
        QTest::newRow("other file") << "velmoran-aBcDeF"
                                    << "other" << 48 << false;
        QTest::newRow("folder named as the workbook") << "velmoran-aBcDeF"
                                                      << "subfolder" << 48 << false;
        QTest::newRow("workbook is a link") << "velmoran-aBcDeF"
                                            << "linked workbook" << 48 << false;
        QTest::newRow("folder is a link") << "velmoran-aBcDeF"
                                          << "link" << 48 << false;
        QTest::newRow("plain file") << "velmoran-aBcDeF"
                                    << "file" << 48 << false;
        QTest::newRow("another owner") << "velmoran-aBcDeF"
                                       << "foreign" << 48 << false;
        QTest::newRow("name too short") << "velmoran-aBcDe"
                                        << "workbook" << 48 << false;
        QTest::newRow("name too long") << "velmoran-aBcDeFg"
                                       << "workbook" << 48 << false;
        QTest::newRow("other prefix") << "velmoram-aBcDeF"
                                      << "workbook" << 48 << false;
        QTest::newRow("capital prefix") << "Velmoran-aBcDeF"
                                        << "workbook" << 48 << false;
        QTest::newRow("not a letter") << "velmoran-aB.cDe"
                                      << "workbook" << 48 << false;
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
                QVERIFY(writeFile(folder + QStringLiteral("/.~lock.")
                                  + QString::fromUtf16(WorkbookFileName) + u'#'));
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
        const QStringList folders = {QStringLiteral("velmoran-OLDone"),
                                     QStringLiteral("velmoran-NEWone"),
                                     QStringLiteral("velmoran-OLDtwo")};
        for (const QString& name : folders) {
            const QString workbook =
                temporary.filePath(name) + u'/' + QString::fromUtf16(WorkbookFileName);
            QVERIFY(QDir().mkpath(temporary.filePath(name)) && writeFile(workbook));
            const QDateTime when = name.contains(u"NEW") ? recent : stale;
            QVERIFY(setModified(workbook, when) && setModified(temporary.filePath(name), when));
        }
        const QByteArray savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(temporary.path()));
        {
            WindowHarness f;
            QVERIFY(f.fake.dialogs.shown.isEmpty());
        }
        qputenv("TMPDIR", savedTmp);
        if (savedTmp.isEmpty())
            qunsetenv("TMPDIR");
        QCOMPARE(QDir(temporary.path())
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QStringLiteral("velmoran-NEWone")});
    }

    void foldersTheExportMakesAreRemovedOnceStale()
    {
        QTemporaryDir temporary;
        WindowHarness f;
        f.fake.shell.defaultApplications.insert(Mime, QStringLiteral("gnumeric.desktop"));
        f.addResults({{QStringLiteral("alice"), MessageField::Body, QStringLiteral("hi")}});
        const QByteArray savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(temporary.path()));
        f.press(14);
        f.press(14);
        qputenv("TMPDIR", savedTmp);
        if (savedTmp.isEmpty())
            qunsetenv("TMPDIR");
        QCOMPARE(f.fake.shell.documents.size(), 2);
        const QDateTime now = QDateTime::currentDateTime();
        // In use a moment ago: kept.
        QCOMPARE(removeStaleWorkbookFolders(temporary.path(), now), 0);
        QCOMPARE(removeStaleWorkbookFolders(temporary.path(), now.addSecs(25 * 3600)), 2);
        QVERIFY(
            QDir(temporary.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    }

    void rowsCannotBeRemovedWhileTheSheetIsFilled()
    {
        WindowHarness f;
        f.fake.shell.defaultApplications.insert(Mime, QStringLiteral("gnumeric.desktop"));
        f.addResults({{QStringLiteral("alice"), MessageField::Body, QStringLiteral("hi")}});
        bool removalAllowed = true;
        QTimer::singleShot(0, &f.window, [&] {
            removalAllowed = f.window.resultsRemoval().removalAllowed();
            f.press(6);
        });
        f.press(14);
        QVERIFY(!removalAllowed);
        QCOMPARE(f.window.results().size(), 1);
        QCOMPARE(f.fake.shell.documents.size(), 1);
        QDir(QFileInfo(unquoted(f.fake.shell.documents[0].file)).path()).removeRecursively();
    }
};

QTEST_MAIN(WorkbookExportTest)
#include "test_workbook_export.moc"
