// Taking shared files out of an export: no outside program ever runs, names stay within what
// a file system takes and show no hidden reordering, and what comes out is whole.

#include "chat/shared_file_archive.h"
#include "history_files.h"
#include "scoped_environment.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QTest>

using namespace velmoran;
using namespace velmoran::test;

class TestSharedFileArchive final : public QObject {
    Q_OBJECT

private slots:
    // Compressions that libarchive leaves to programs found through PATH are refused, never
    // handed on; the stand-ins here only log that they were started.
    void noOutsideProgramRuns_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("refusal");
        const QByteArray lrzip = QByteArray("LRZI\x00\x06", 6) + QByteArray(18, '\0');
        QTest::newRow("lrzip") << lrzip << "compressed with lrzip";
        QTest::newRow("lzop") << QByteArray("\x89LZO\x00\r\n\x1a\n\x10\x30\x20\xa0", 13)
                                     + QByteArray(40, '\0')
                              << "compressed with lzop";
        QTest::newRow("grzip") << QByteArray("GRZipII\x00\x02\x04:)") + QByteArray(40, '\0')
                               << "compressed with grzip";
        QTest::newRow("uuencoded lrzip")
            << QByteArray("begin 644 data.lrz\n83%):20 &Z ,                     \n`\nend\n")
            << "no tar";
        QTest::newRow("base64 in uuencoding's frame")
            << QByteArray("begin-base64 644 data.lrz\nTFJaSQAGAAAAAAAAAAAAAAAAAAAAAAAA\n====\n")
            << "no tar";
    }
    void noOutsideProgramRuns()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, refusal);
        QTemporaryDir work;
        const LoggingPrograms programs(
            work.filePath(QStringLiteral("bin")),
            {QStringLiteral("lrzip"), QStringLiteral("lzop"), QStringLiteral("grzip")});
        QVERIFY(programs.ok());
        const QString archive = work.filePath(QStringLiteral("export.tar"));
        QVERIFY(writeBytes(archive, bytes));
        const SharedFile file{QStringLiteral("0-x"), QStringLiteral("x.txt"), -1};
        const QString found = failureOf([&] { findSharedFileMember(archive, file); });
        const QString taken = failureOf([&] {
            extractArchiveMember(archive, QStringLiteral("media/0-x.1.txt"),
                                 work.filePath(QStringLiteral("out.txt")));
        });
        QCOMPARE(programs.started(), QString());
        QVERIFY2(found.contains(refusal), qPrintable(found));
        QCOMPARE(taken, found);
        QVERIFY(!QFileInfo::exists(work.filePath(QStringLiteral("out.txt"))));
    }

    void safeFileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("safe");
        const QString cjk(200, QChar(0x6587));
        QTest::newRow("plain") << "report.pdf"
                               << "report.pdf";
        QTest::newRow("folders and leading dots") << "../../.bashrc"
                                                  << "bashrc";
        QTest::newRow("right-to-left override")
            << QStringLiteral("invoice\u202Efdp.exe") << "invoicefdp.exe";
        QTest::newRow("isolates, marks and a byte order mark")
            << QStringLiteral("\uFEFFa\u2067b\u2069\u200Fc.txt") << "abc.txt";
        QTest::newRow("joiners stay in emoji and words")
            << QStringLiteral("\U0001F468\u200D\U0001F469 \u0645\u06CC\u200C\u062E.jpg")
            << QStringLiteral("\U0001F468\u200D\U0001F469 \u0645\u06CC\u200C\u062E.jpg");
        QTest::newRow("200 Chinese characters: 255 bytes, extension kept")
            << cjk + QStringLiteral(".pdf") << QString(83, QChar(0x6587)) + QStringLiteral(".pdf");
        QTest::newRow("emoji are not split")
            << QString(QStringLiteral("\U0001F600")).repeated(70) + QStringLiteral(".png")
            << QString(QStringLiteral("\U0001F600")).repeated(62) + QStringLiteral(".png");
        QTest::newRow("300 ASCII letters") << QString(300, u'a') << QString(255, u'a');
        QTest::newRow("a long extension is no extension")
            << QString(250, u'a') + u'.' + QString(40, u'b')
            << QString(250, u'a') + u'.' + QString(4, u'b');
        QTest::newRow("nothing left") << QStringLiteral("\u202E..") << "shared file";
    }
    void safeFileNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, safe);
        const QString made = safeFileName(name);
        QCOMPARE(made, safe);
        QVERIFY(made.toUtf8().size() <= 255);
        // The file system takes it.
        QTemporaryDir folder;
        QFile file(folder.filePath(made));
        QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    }

    // What comes out is all of the member, holes of a sparse one included, and never keeps
    // an executable bit.
    void membersComeOutWhole_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("sparseSize");
        QTest::addColumn<int>("mode");
        QTest::newRow("plain, mode 0755")
            << QByteArray("#!/bin/sh\necho hi\n") << qint64(-1) << 0755;
        QTest::newRow("sparse, data then a hole") << QByteArray("head") << qint64(5 << 20) << 0644;
    }
    void membersComeOutWhole()
    {
        QFETCH(QByteArray, content);
        QFETCH(qint64, sparseSize);
        QFETCH(int, mode);
        QTemporaryDir work;
        const QString archive = work.filePath(QStringLiteral("export.tar"));
        QVERIFY(writeTarEntries(
            archive, {{QStringLiteral("messages.json"), "{}"},
                      {QStringLiteral("media/0-a.1.txt"), content, {}, mode, sparseSize}}));
        SharedFileMember member;
        const QString unread = failureOf([&] {
            member = findSharedFileMember(
                archive, SharedFile{QStringLiteral("0-a"), QStringLiteral("a.txt"), -1});
        });
        QVERIFY2(unread.isEmpty(), qPrintable(unread));
        const qint64 size = sparseSize >= 0 ? sparseSize : content.size();
        QCOMPARE(member.name, QStringLiteral("media/0-a.1.txt"));
        QCOMPARE(member.size, size);
        const QString out = work.filePath(QStringLiteral("a.txt"));
        qint64 lastDone = -1;
        bool whole = false;
        const QString failure = failureOf([&] {
            whole = extractArchiveMember(archive, member.name, out, [&](qint64 done, qint64 total) {
                lastDone = done;
                return total == size;
            });
        });
        QVERIFY2(whole, qPrintable(failure));
        QVERIFY(lastDone <= size);
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.size(), size);
        QCOMPARE(file.read(content.size()), content);
        QCOMPARE(file.readAll(), QByteArray(size - content.size(), '\0'));
        QCOMPARE(file.permissions() & (QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther),
                 QFileDevice::Permissions());
        QCOMPARE(QDir(work.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }
    // Many files found in one walk get what the matching rules give each: the id at the start
    // of a media member's name before the id elsewhere before the original name, the first of
    // equals, an id only where it ends at "." or the name's end; then all taken out in one walk.
    void manyFilesInOneWalk()
    {
        QTemporaryDir work;
        const QString archive = work.filePath(QStringLiteral("export.tar.gz"));
        QVERIFY(writeTarEntries(archive,
                                {{QStringLiteral("messages.json"), "{}"},
                                 {QStringLiteral("0-a.1.txt"), "outside media"},
                                 {QStringLiteral("media/x-0-a.1.txt"), "a elsewhere"},
                                 {QStringLiteral("media/0-a.1.txt"), "a at start"},
                                 {QStringLiteral("media/0-a.2.txt"), "a again"},
                                 {QStringLiteral("media/0-bxyz.1.txt"), "not b"},
                                 {QStringLiteral("x/media/old-0-b"), "b elsewhere"},
                                 {QStringLiteral("media/report.pdf"), "by name"}},
                                "gzip"));
        const std::vector<std::pair<SharedFile, QLatin1StringView>> cases = {
            {{QStringLiteral("0-a"), QStringLiteral("report.pdf"), -1},
             QLatin1StringView("media/0-a.1.txt")},
            {{QStringLiteral("0-b"), QStringLiteral("report.pdf"), -1},
             QLatin1StringView("x/media/old-0-b")},
            {{QStringLiteral("0-c"), QStringLiteral("report.pdf"), -1},
             QLatin1StringView("media/report.pdf")},
            {{QStringLiteral("0-a"), QString(), -1}, QLatin1StringView("media/0-a.1.txt")},
            {{QStringLiteral("0-d"), QStringLiteral("none.pdf"), -1}, QLatin1StringView("")},
            {{QString(), QString(), -1}, QLatin1StringView("")},
        };
        std::vector<SharedFile> files;
        for (const auto& [file, member] : cases)
            files.push_back(file);
        std::vector<SharedFileMember> found;
        QString failure = failureOf([&] { found = findSharedFileMembers(archive, files); });
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(found.size(), cases.size());
        for (size_t i = 0; i < cases.size(); ++i)
            QCOMPARE(found[i].name, cases[i].second);
        // A file known by its name alone is looked for to the end.
        QCOMPARE(findSharedFileMember(archive, {QString(), QStringLiteral("report.pdf"), -1}).name,
                 QStringLiteral("media/report.pdf"));
        // A pace that stops at once finds nothing.
        found = findSharedFileMembers(archive, files, [] { return false; });
        QVERIFY(std::all_of(found.begin(), found.end(), [](auto& m) { return m.name.isEmpty(); }));

        const QHash<QString, QString> out = {
            {QStringLiteral("media/0-a.1.txt"), work.filePath(QStringLiteral("a"))},
            {QStringLiteral("x/media/old-0-b"), work.filePath(QStringLiteral("b"))}};
        bool whole = false;
        failure = failureOf([&] { whole = extractArchiveMembers(archive, out); });
        QVERIFY2(whole, qPrintable(failure));
        for (const auto& [path, content] : {std::pair{QStringLiteral("a"), "a at start"},
                                            std::pair{QStringLiteral("b"), "b elsewhere"}}) {
            QFile file(work.filePath(path));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray(content));
        }
        const QString missing = failureOf([&] {
            extractArchiveMembers(
                archive, {{QStringLiteral("media/gone"), work.filePath(QStringLiteral("g"))}});
        });
        QVERIFY2(missing.contains(QStringLiteral("holds no file \"media/gone\"")),
                 qPrintable(missing));
    }
};

QTEST_GUILESS_MAIN(TestSharedFileArchive)
#include "test_shared_file_archive.moc"
