#include "app/mouse_pointer.h"
#include "app/results_model.h"
#include "app/results_removal_lock.h"
#include "window_harness.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>

using namespace velmoran;
using velmoran::test::ShownDialog;
using velmoran::test::WindowHarness;

namespace {

const QByteArray WorkedExample = QByteArrayLiteral("Contact\tField            \tValue   \t\r\n"
                                                   "alice  \tBody             \thi there\t\r\n"
                                                   "bob    \tFrom Display Name\tBob     \t\r\n");

void fillWorkedExample(WindowHarness& f)
{
    f.addResults({{QStringLiteral("alice"), MessageField::Body, QStringLiteral("hi there")},
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

} // namespace

class TextExportTest : public QObject {
    Q_OBJECT

private slots:
    void workedExampleThroughTheWindow()
    {
        WindowHarness f;
        fillWorkedExample(f);
        const QString path = f.folder.filePath(QStringLiteral("results.txt"));
        f.fake.dialogs.answerSaveFile(path);
        f.press(5);

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
        WindowHarness f;
        for (const QString& row : rows) {
            const QStringList parts = row.split(QLatin1Char('|'));
            f.window.results().append(parts[0], MessageField::Body, parts[1]);
            f.window.results().setChecked(f.window.results().size(),
                                          parts[2] == QLatin1String("1"));
        }
        const QString path = f.folder.filePath(QStringLiteral("out.txt"));
        f.fake.dialogs.answerSaveFile(path);
        f.press(5);
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
        WindowHarness f;
        fillWorkedExample(f);
        const QString path = f.folder.filePath(QStringLiteral("old.txt"));
        const QByteArray old(5000, 'x');
        writeFile(path, old);
        f.fake.dialogs.answerSaveFile(path);
        f.fake.dialogs.answerQuestion(yes);
        f.press(5);

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
        WindowHarness f;
        fillWorkedExample(f);
        f.press(5);
        QCOMPARE(f.fake.dialogs.shown.size(), 1);
        QCOMPARE(QDir(f.folder.path()).entryList(QDir::Files), QStringList{});
    }

    void nameWithoutExtensionIsUsedAsTyped()
    {
        WindowHarness f;
        const QString path = f.folder.filePath(QStringLiteral("results"));
        f.fake.dialogs.answerSaveFile(path);
        f.press(5);
        QCOMPARE(QDir(f.folder.path()).entryList(QDir::Files),
                 QStringList{QStringLiteral("results")});
    }

    void fileThatCannotBeCreatedIsReportedOnce()
    {
        WindowHarness f;
        for (int i = 0; i < 50; ++i)
            f.window.results().append(QStringLiteral("c"), MessageField::Body, QStringLiteral("v"));
        const QString path = f.folder.filePath(QStringLiteral("no such folder/out.txt"));
        f.fake.dialogs.answerSaveFile(path);
        f.press(5);

        const QStringList reports = f.fake.dialogs.errorReports();
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports[0].startsWith(QStringLiteral("Cannot create the file ") + path
                                       + QStringLiteral(": ")),
                 qPrintable(reports[0]));
        QVERIFY(reports[0].contains(QStringLiteral(
            "\r\nin Velmoran2021/08/31.Main.SaveListviewProperlySpaced at line 156\r\r")));
        QVERIFY(f.fake.dialogs.messages().isEmpty());
        QCOMPARE(f.window.progress().text(), QStringLiteral("Progress Bar"));
        QCOMPARE(f.window.progress().value(), 0.0);
        QCOMPARE(f.window.mousePointer().value(), int(MousePointer::Default));
    }

    void fullDiskLeavesTheOldFileIntact()
    {
        WindowHarness f;
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
        f.press(5);
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

    void rowsCannotBeRemovedWhileTheFileIsWritten()
    {
        WindowHarness f;
        fillWorkedExample(f);
        bool removalAllowed = true;
        QTimer::singleShot(0, &f.window, [&] {
            removalAllowed = f.window.resultsRemoval().removalAllowed();
            f.press(6);
        });
        const QString path = f.folder.filePath(QStringLiteral("results.txt"));
        f.fake.dialogs.answerSaveFile(path);
        f.press(5);
        QVERIFY(!removalAllowed);
        QCOMPARE(f.window.results().size(), 2);
        QCOMPARE(readAll(path), WorkedExample);
        QVERIFY(f.window.resultsRemoval().removalAllowed());
    }
};

QTEST_MAIN(TextExportTest)
#include "test_text_export.moc"
