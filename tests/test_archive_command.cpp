// velmoran-archive: where the archive may go (new, empty, an earlier archive replaced whole,
// anything else refused untouched) and the options that choose what goes into it.
#include "export_builder.h"
#include "find/archive_command.h"
#include "history_files.h"

#include <QBuffer>
#include <QDirIterator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace velmoran;
using namespace velmoran::test;
using namespace Qt::Literals::StringLiterals;

namespace {

struct Run {
    int status;
    QString output;
    QString errors;
};

Run runWith(const QStringList& arguments)
{
    QBuffer output, errors;
    const int status =
        runArchive(QStringList{u"velmoran-archive"_s} + arguments, output, errors, false);
    return {status, QString::fromUtf8(output.data()), QString::fromUtf8(errors.data())};
}

// Every entry under folder with its content (files) or "/" (folders), for "left untouched".
QStringList contents(const QString& folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        entries << path + u' '
                       + (it.fileInfo().isDir() || !file.open(QIODevice::ReadOnly)
                              ? u"/"_s
                              : QString::fromUtf8(file.readAll()));
    }
    entries.sort();
    return entries;
}

// Anna's three days in November, one with a shared file, and the team's December message.
QByteArray twoConversations()
{
    ExportConversation anna{u"8:live:anna"_s, u"Anna"_s, {}};
    for (const char* day : {"05", "06", "07"})
        anna.messages.push_back({u"8:live:anna"_s, u"Anna"_s,
                                 u"2024-11-%1T09:00:00.000Z"_s.arg(QLatin1String(day)),
                                 u"hello"_s});
    anna.messages[1].type = u"RichText/Media_GenericFile"_s;
    anna.messages[1].content = u"<URIObject uri=\"https://x.example/objects/0-f1\" type=\"File.1\">"
                               "<OriginalName v=\"notes.txt\"/></URIObject>"_s;
    ExportConversation team{u"19:team@thread.skype"_s, u"Team"_s, {}, {u"8:live:anna"_s}};
    team.messages.push_back(
        {u"8:live:anna"_s, u"Anna"_s, u"2024-12-01T09:00:00.000Z"_s, u"team news"_s});
    return exportJson(u"8:me.myself"_s, {anna, team});
}

} // namespace

class TestArchiveCommand : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void targetFolder_data();
    void targetFolder();
    void options_data();
    void options();

private:
    QTemporaryDir m_dir;
    QString m_export;
};

void TestArchiveCommand::initTestCase()
{
    m_export = m_dir.filePath(u"export.tar"_s);
    QVERIFY(writeTar(m_export, {{u"messages.json"_s, twoConversations()},
                                {u"media/0-f1.1.txt"_s, "the notes"}}));
}

enum class Before { Nothing, EmptyFolder, EarlierArchive, ForeignFolder, File, HoldsHistory };

void TestArchiveCommand::targetFolder_data()
{
    QTest::addColumn<Before>("before");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("told");
    QTest::newRow("new") << Before::Nothing << 0 << u"a new folder"_s;
    QTest::newRow("empty folder") << Before::EmptyFolder << 0 << u"an empty folder"_s;
    QTest::newRow("earlier archive")
        << Before::EarlierArchive << 0 << u"replacing the archive that was there"_s;
    QTest::newRow("foreign folder")
        << Before::ForeignFolder << 2 << u"it holds files and is no archive of this program"_s;
    QTest::newRow("file") << Before::File << 2 << u"it is not a folder"_s;
    QTest::newRow("archive holding the history")
        << Before::HoldsHistory << 2 << u"it holds the history file"_s;
}

void TestArchiveCommand::targetFolder()
{
    QFETCH(Before, before);
    QFETCH(int, status);
    QFETCH(QString, told);
    QTemporaryDir parent;
    const QString target = parent.filePath(u"Our chats"_s);
    QString history = m_export;
    if (before == Before::File)
        QVERIFY(writeBytes(target, "a file"));
    if (before == Before::EmptyFolder || before == Before::ForeignFolder)
        QVERIFY(QDir().mkdir(target));
    if (before == Before::ForeignFolder)
        QVERIFY(writeBytes(target + u"/keep.txt"_s, "mine"));
    if (before == Before::EarlierArchive || before == Before::HoldsHistory) {
        QCOMPARE(runWith({target, m_export}).status, 0);
        QVERIFY(writeBytes(target + u"/only in the old one.txt"_s, "old"));
    }
    if (before == Before::HoldsHistory) {
        history = target + u"/export.tar"_s;
        QVERIFY(QFile::copy(m_export, history));
    }
    const QStringList old = contents(parent.path());

    const Run run = runWith({target, history});
    QCOMPARE(run.status, status);
    QVERIFY2((status == 0 ? run.output : run.errors).contains(told), qPrintable(run.errors));
    if (status == 0) {
        QVERIFY(QFileInfo(target + u"/.velmoran-archive"_s).isFile());
        QVERIFY(QFileInfo(target + u"/index.html"_s).isFile());
        QVERIFY(!QFileInfo::exists(target + u"/only in the old one.txt"_s));
        QVERIFY(QFileInfo(target).permissions().testFlag(QFile::ReadOther)
                || QFileInfo(target).permissions().testFlag(QFile::ReadOwner));
    } else {
        QCOMPARE(run.errors.count(u'\n'), 1);
        QCOMPARE(contents(parent.path()), old);
    }
    // Nothing is left beside it: no temporary folder, no earlier archive set aside.
    QCOMPARE(QDir(parent.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QFileInfo::exists(target) ? QStringList{u"Our chats"_s} : QStringList{});
}

void TestArchiveCommand::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<int>("messages");
    QTest::addColumn<bool>("media");
    const QStringList both{u"c0001"_s, u"c0002"_s};
    QTest::newRow("everything") << QStringList{} << 0 << both << 4 << true;
    QTest::newRow("one conversation by id")
        << QStringList{u"--conversation"_s, u"19:team@thread.skype"_s} << 0
        << QStringList{u"c0002"_s} << 1 << false;
    QTest::newRow("one conversation by handle") << QStringList{u"--conversation"_s, u"live:anna"_s}
                                                << 0 << QStringList{u"c0001"_s} << 3 << true;
    QTest::newRow("since a day") << QStringList{u"--since"_s, u"2024-11-06"_s} << 0 << both << 3
                                 << true;
    QTest::newRow("until a day, to its end")
        << QStringList{u"--until"_s, u"2024-11-06"_s} << 0 << both << 2 << true;
    QTest::newRow("since and until moments")
        << QStringList{u"--since"_s, u"2024-11-06T09:00Z"_s, u"--until"_s, u"2024-11-07T09:00Z"_s}
        << 0 << both << 1 << true;
    QTest::newRow("no media") << QStringList{u"--no-media"_s} << 0 << both << 4 << false;
    QTest::newRow("unknown conversation")
        << QStringList{u"--conversation"_s, u"8:nobody"_s} << 2 << QStringList{} << 0 << false;
    QTest::newRow("no date") << QStringList{u"--since"_s, u"yesterday"_s} << 2 << QStringList{} << 0
                             << false;
}

void TestArchiveCommand::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QStringList, folders);
    QFETCH(int, messages);
    QFETCH(bool, media);
    QTemporaryDir parent;
    const QString target = parent.filePath(u"out"_s);
    const Run run = runWith(arguments + QStringList{target, m_export});
    QCOMPARE(run.status, status);
    QCOMPARE(QDir(target).entryList({u"c*"_s}, QDir::Dirs), folders);
    int written = 0;
    QDirIterator pages(target, {u"20*.html"_s}, QDir::Files, QDirIterator::Subdirectories);
    while (pages.hasNext()) {
        QFile page(pages.next());
        QVERIFY(page.open(QIODevice::ReadOnly));
        written += int(page.readAll().count("id=\"m"));
    }
    QCOMPARE(written, messages);
    QCOMPARE(QFileInfo::exists(target + u"/media/f000001.txt"_s), media);
    if (status == 0)
        QVERIFY(run.output.startsWith(
            u"%1 conversations, %2 messages"_s.arg(folders.size()).arg(messages)));
}

QTEST_GUILESS_MAIN(TestArchiveCommand)
#include "test_archive_command.moc"
