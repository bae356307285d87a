#include "chat/chat_service.h"
#include "chat/history_loader.h"
#include "chat/message_sieve.h"
#include "chat/person_names.h"
#include "core/failure.h"
#include "export_builder.h"
#include "history_builder.h"
#include "history_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace velmoran;
using namespace Qt::Literals::StringLiterals;
using velmoran::test::failureOf;

namespace {

using test::str;

QByteArray exportWith(const std::vector<test::JsonConversation>& conversations)
{
    return test::exportText(conversations, R"("userId":"8:me","exportDate":"2024-01-01")");
}

// A text message of the export; a null name is written as JSON null.
test::JsonMessage textMessage(const char* time, const char* name, const char* content,
                              const char* from)
{
    return {.time = str(time),
            .displayName = name ? str(name) : "null",
            .from = str(from),
            .content = str(content)};
}

// An export with one-to-one chats with anna and carl and a group chat. Anna's "overlap" is the
// database's 12:26:40; her "later" is there twice in one source: both kept.
const QByteArray newerExport = exportWith({
    {str("8:anna"),
     {textMessage("2020-09-13T12:26:40.250Z", "Anna", "overlap", "8:anna"),
      textMessage("2020-09-13T12:27:00.000Z", "Anna", "later", "8:anna"),
      textMessage("2020-09-13T12:27:00.000Z", "Anna", "later", "8:anna")}},
    {str("19:team@thread"), {textMessage("2021-01-01T00:00:00Z", "Bob", "group", "8:bob")}},
    {str("8:carl"), {textMessage("2021-01-01T00:00:00Z", "Carl", "hi", "8:carl")}},
});

const QByteArray olderDatabase =
    "CREATE TABLE Contacts (id INTEGER PRIMARY KEY, is_permanent INTEGER, skypename TEXT);"
    "CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type INTEGER);"
    "CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER, author TEXT, from_dispname "
    "TEXT,"
    " timestamp INTEGER, body_xml TEXT);"
    "INSERT INTO Contacts VALUES (1, 1, 'bert'), (2, 1, 'anna');"
    "INSERT INTO Conversations VALUES (1, 'bert', 1), (2, 'anna', 1), (3, '#anna/$x', 2);"
    "INSERT INTO Messages VALUES (1, 2, 'anna', 'Anna', 1600000000, 'overlap'),"
    " (2, 2, 'anna', 'Anna', 1599999999, 'older'),"
    " (3, 2, 'anna', 'Anna', 1600000000, 'overlap but other text'),"
    " (4, 1, 'bert', 'Bert', 1500000000, 'bert says'),"
    " (5, 3, 'anna', 'Anna', 1500000000, 'in a group');";

QStringList bodies(const HistoryChat& chat)
{
    QStringList texts;
    for (const HistoryMessage& m : chat.messages)
        texts << m.body;
    return texts;
}

QStringList peers(const ChatHistory& history)
{
    QStringList list;
    for (const HistoryChat& chat : history.chats)
        list << chat.peerHandle;
    return list;
}

} // namespace

Q_DECLARE_METATYPE(velmoran::HistoryMessage)

class HistoryLoaderTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_export = m_dir.filePath(QStringLiteral("someone_export.tar"));
        QVERIFY(test::writeExportTar(m_export, newerExport));
        m_database = m_dir.filePath(QStringLiteral("main.db"));
        QCOMPARE(test::writeDatabase(m_database, olderDatabase), QString());
    }

    void kindIsToldByContent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("failure");
        QTest::newRow("tar") << QStringLiteral("tar") << int(HistoryFileKind::ExportArchive)
                             << QString();
        QTest::newRow("gzip tar") << QStringLiteral("tar.gz") << int(HistoryFileKind::ExportArchive)
                                  << QString();
        QTest::newRow("lz4 tar") << QStringLiteral("tar.lz4") << int(HistoryFileKind::ExportArchive)
                                 << QString();
        QTest::newRow("lzop tar") << QStringLiteral("tar.lzo") << -1
                                  << QStringLiteral("it is compressed with lzop");
        QTest::newRow("json named .tar")
            << QStringLiteral("json") << int(HistoryFileKind::ExportJson) << QString();
        QTest::newRow("json with BOM")
            << QStringLiteral("bom.json") << int(HistoryFileKind::ExportJson) << QString();
        QTest::newRow("database") << QStringLiteral("db") << int(HistoryFileKind::LegacyDatabase)
                                  << QString();
        QTest::newRow("empty") << QStringLiteral("empty") << -1
                               << QStringLiteral("the file is empty");
        // A regular file whose first read fails (EIO), as a failing disk's would.
        QTest::newRow("read fails") << QStringLiteral("/proc/self/mem") << -1
                                    << QStringLiteral("cannot be read: Input/output error.");
        QTest::newRow("text") << QStringLiteral("text") << -1
                              << QStringLiteral("neither a chat export");
        QTest::newRow("folder") << QStringLiteral("folder") << -1
                                << QStringLiteral("it is no file");
        QTest::newRow("missing") << QStringLiteral("missing") << -1
                                 << QStringLiteral("no such file");
    }

    void kindIsToldByContent()
    {
        QFETCH(QString, name);
        QFETCH(int, kind);
        QFETCH(QString, failure);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("history.tar"));
        if (name == QStringLiteral("tar"))
            path = m_export;
        else if (name == QStringLiteral("tar.gz"))
            QVERIFY(test::writeExportTar(path, newerExport, "gzip"));
        else if (name == QStringLiteral("tar.lz4"))
            QVERIFY(test::writeExportTar(path, newerExport, "lz4"));
        else if (name == QStringLiteral("tar.lzo"))
            QVERIFY(test::writeBytes(path, QByteArray("\x89LZO\x00\r\n\x1a\n", 9)
                                               + QByteArray(600, '\0')));
        else if (name == QStringLiteral("json"))
            QVERIFY(test::writeBytes(path, "\n  " + newerExport));
        else if (name == QStringLiteral("bom.json"))
            QVERIFY(test::writeBytes(path, "\xef\xbb\xbf" + newerExport));
        else if (name == QStringLiteral("db"))
            path = m_database;
        else if (name == QStringLiteral("empty"))
            QVERIFY(test::writeBytes(path, QByteArray()));
        else if (name == QStringLiteral("text"))
            QVERIFY(test::writeBytes(path, "Dear diary,\n"));
        else if (name == QStringLiteral("folder"))
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("history.tar")));
        else if (name.startsWith(QLatin1Char('/')))
            path = name;
        if (kind >= 0) {
            QCOMPARE(int(sniffHistoryFile(path)), kind);
            ChatHistory history;
            const QString description = failureOf([&] { history = readHistoryFile(path); });
            QVERIFY2(description.isEmpty(), qPrintable(description));
            QVERIFY(!history.contacts.isEmpty());
        } else {
            const QString description = failureOf([&] { readHistoryFile(path); });
            QVERIFY2(description.contains(failure), qPrintable(description));
            QVERIFY2(description.contains(QDir::toNativeSeparators(path)), qPrintable(description));
        }
    }

    void mergesSourcesIntoOneHistory()
    {
        const auto older = std::make_shared<const ChatHistory>(readHistoryFile(m_database));
        const auto newer = std::make_shared<const ChatHistory>(readHistoryFile(m_export));
        const ChatHistory merged = mergeHistories({older, newer});
        QCOMPARE(merged.contacts, QStringList({QStringLiteral("bert"), QStringLiteral("anna"),
                                               QStringLiteral("carl")}));
        QCOMPARE(peers(merged), QStringList({QStringLiteral("bert"), QStringLiteral("anna"),
                                             QString(), QString(), QStringLiteral("carl")}));
        // The database's whole-second "overlap" and the export's 12:26:40.250 are one message;
        // the export's own repeated "later" stays twice.
        QCOMPARE(bodies(merged.chats[1]),
                 QStringList({QStringLiteral("older"), QStringLiteral("overlap"),
                              QStringLiteral("overlap but other text"), QStringLiteral("later"),
                              QStringLiteral("later")}));
        QCOMPARE(bodies(merged.chats[0]), QStringList{QStringLiteral("bert says")});
        QCOMPARE(bodies(merged.chats[2]), QStringList{QStringLiteral("in a group")});
        QCOMPARE(bodies(merged.chats[3]), QStringList{QStringLiteral("group")});
    }

    void mergeKeepsTimeOrderAcrossSourcesAndSenders()
    {
        const auto a = test::sharedHistory({{u"p"_s,
                                             {{1000, {}, u"P"_s, u"x"_s},
                                              {3000, {}, u"P"_s, u"z"_s},
                                              {4000, {}, u"P"_s, u"a1"_s},
                                              {4000, {}, u"P"_s, u"a2"_s}}}});
        const auto b = test::sharedHistory({{u"p"_s,
                                             {{2000, {}, u"P"_s, u"y"_s},
                                              {3000, {}, u"Q"_s, u"z"_s},
                                              {3000, {}, u"P"_s, u"z"_s},
                                              {3500, {}, u"P"_s, u"z"_s},
                                              {4000, {}, u"Q"_s, u"b1"_s}}}},
                                           QStringList());
        const ChatHistory merged = mergeHistories({a, b});
        QCOMPARE(merged.chats.size(), size_t(1));
        // The first source's (3000, P, z) stands for one of the second's two; the other stays,
        // and another sender's is no duplicate. Messages of the same moment keep the order of
        // the sources, then their order in each.
        QCOMPARE(test::dumpMessages(merged.chats[0]),
                 QStringList({u"1000  [P] x"_s, u"2000  [P] y"_s, u"3000  [P] z"_s,
                              u"3000  [Q] z"_s, u"3500  [P] z"_s, u"4000  [P] a1"_s,
                              u"4000  [P] a2"_s, u"4000  [Q] b1"_s}));
        QVERIFY(merged.contacts == QStringList{QStringLiteral("p")});
    }

    void mergeMatchesOnSenderIdBodyAndSecond_data()
    {
        QTest::addColumn<HistoryMessage>("first");
        QTest::addColumn<HistoryMessage>("second");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("name"); // of the first message kept
        QTest::addColumn<QString>("senderId");
        auto message = [](qint64 ms, const char* id, const char* name, const char* body = "hi") {
            return test::messageOf(
                {ms, QString::fromUtf8(id), QString::fromUtf8(name), QString::fromUtf8(body)});
        };
        QTest::newRow("name only in the first")
            << message(1000, "anna", "Anna") << message(1250, "anna", "anna") << 1 << u"Anna"_s
            << u"anna"_s;
        QTest::newRow("name only in the second")
            << message(1000, "anna", "anna") << message(1250, "anna", "Anna") << 1 << u"Anna"_s
            << u"anna"_s;
        QTest::newRow("names differ, ids agree")
            << message(1999, "anna", "Anna S.") << message(1000, "anna", "Anna") << 1 << u"Anna"_s
            << u"anna"_s;
        QTest::newRow("same name, other ids")
            << message(1000, "alex.1", "Alex") << message(1000, "alex.2", "Alex") << 2 << u"Alex"_s
            << u"alex.1"_s;
        QTest::newRow("no id in one, its name is the id")
            << message(1000, "", "anna") << message(1400, "anna", "Anna") << 1 << u"Anna"_s
            << u"anna"_s;
        QTest::newRow("no id in one, another name")
            << message(1000, "", "Bob") << message(1400, "anna", "Anna") << 2 << u"Bob"_s << u""_s;
        QTest::newRow("no ids, same name")
            << message(1000, "", "Anna") << message(1999, "", "Anna") << 1 << u"Anna"_s << u""_s;
        QTest::newRow("next second")
            << message(1999, "anna", "Anna") << message(2000, "anna", "Anna") << 2 << u"Anna"_s
            << u"anna"_s;
        QTest::newRow("other body")
            << message(1000, "anna", "Anna") << message(1000, "anna", "Anna", "hi!") << 2
            << u"Anna"_s << u"anna"_s;
        HistoryMessage withFile = message(1000, "anna", "Anna");
        withFile.file =
            std::make_shared<const SharedFile>(SharedFile{u"0-weu-d1-1"_s, u"a.jpg"_s, 10});
        QTest::newRow("file only in the second")
            << message(1000, "anna", "Anna") << withFile << 1 << u"Anna"_s << u"anna"_s;
    }

    void mergeMatchesOnSenderIdBodyAndSecond()
    {
        QFETCH(HistoryMessage, first);
        QFETCH(HistoryMessage, second);
        QFETCH(int, count);
        QFETCH(QString, name);
        QFETCH(QString, senderId);
        ChatHistory a, b;
        a.chats.push_back({QStringLiteral("anna"), {first}});
        b.chats.push_back({QStringLiteral("anna"), {second}});
        const ChatHistory merged = mergeHistories(
            {std::make_shared<const ChatHistory>(a), std::make_shared<const ChatHistory>(b)});
        QCOMPARE(merged.chats.size(), size_t(1));
        const auto& m = merged.chats[0].messages;
        QCOMPARE(int(m.size()), count);
        QCOMPARE(m[0].senderDisplayName, name);
        QCOMPARE(m[0].senderId, senderId);
        if (count == 1)
            QCOMPARE(bool(m[0].file), bool(first.file || second.file));
    }

    void mergeKeepsAMessageOnceWhetherOrNotTheExportNamesTheSender()
    {
        // The same conversation in an export and in the database: the export leaves some
        // names out (null), the database others (from_dispname NULL). After "ok" come the
        // next second's, another sender's "hello", and "ok!" twice (the database has it once).
        const QByteArray json = exportWith({{
            str("8:anna"),
            {textMessage("2020-09-13T12:26:40.250Z", nullptr, "hello", "8:anna"),
             textMessage("2020-09-13T12:26:41.999Z", "Me Myself", "reply", "8:me"),
             textMessage("2020-09-13T12:26:42.000Z", nullptr, "ok", "8:anna"),
             textMessage("2020-09-13T12:26:44.100Z", nullptr, "ok", "8:anna"),
             textMessage("2020-09-13T12:26:45.500Z", "Me Myself", "hello", "8:me"),
             textMessage("2020-09-13T12:26:46.100Z", nullptr, "ok!", "8:anna"),
             textMessage("2020-09-13T12:26:46.700Z", nullptr, "ok!", "8:anna")},
        }});
        const QByteArray sql =
            "CREATE TABLE Contacts (skypename TEXT, displayname TEXT);"
            "CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type INTEGER);"
            "CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER, author TEXT, "
            "from_dispname TEXT,"
            " timestamp INTEGER, body_xml TEXT);"
            "INSERT INTO Contacts VALUES ('anna', 'Anna Smith');"
            "INSERT INTO Conversations VALUES (1, 'anna', 1);"
            "INSERT INTO Messages VALUES (1, 1, 'anna', 'Anna Smith', 1600000000, 'hello'),"
            " (2, 1, 'me', 'Me Myself', 1600000001, 'reply'), (3, 1, 'anna', NULL, 1600000002, "
            "'ok'),"
            " (4, 1, 'anna', 'Anna Smith', 1600000003, 'ok'), (5, 1, 'anna', 'Anna Smith', "
            "1600000005, 'hello'),"
            " (6, 1, 'anna', 'Anna Smith', 1600000006, 'ok!');";
        QTemporaryDir dir;
        const QString exportPath = dir.filePath(QStringLiteral("messages.json"));
        const QString dbPath = dir.filePath(QStringLiteral("main.db"));
        QVERIFY(test::writeBytes(exportPath, json));
        QCOMPARE(test::writeDatabase(dbPath, sql), QString());
        for (const bool exportFirst : {true, false}) {
            HistoryLoader loader(exportFirst ? QStringList{exportPath, dbPath}
                                             : QStringList{dbPath, exportPath});
            const ChatHistoryPtr merged = loader.load();
            QVERIFY(merged);
            QCOMPARE(merged->contacts, QStringList{QStringLiteral("anna")});
            QCOMPARE(merged->chats.size(), size_t(1));
            const HistoryChat& chat = merged->chats[0];
            QCOMPARE(chat.id, QStringLiteral("8:anna"));
            QCOMPARE(chat.name, QStringLiteral("Anna Smith"));
            QCOMPARE(conversationKindText(chat.kind),
                     conversationKindText(ConversationKind::OneToOne));
            QStringList seen;
            for (const HistoryMessage& m : chat.messages)
                seen << QStringLiteral("%1 %2 %3")
                            .arg(m.timestampMs / 1000 - 1600000000)
                            .arg(m.senderDisplayName, m.body);
            QCOMPARE(seen,
                     QStringList({u"0 Anna Smith hello"_s, u"1 Me Myself reply"_s, u"2 anna ok"_s,
                                  u"3 Anna Smith ok"_s, u"4 anna ok"_s, u"5 Anna Smith hello"_s,
                                  u"5 Me Myself hello"_s, u"6 Anna Smith ok!"_s, u"6 anna ok!"_s}));
        }
    }

    void mergedChatsKeepTheFirstValuesAndFillTheRest()
    {
        const test::MessageData one{1000, {}, u"A"_s, u"one"_s};
        const HistoryChat untitled =
            test::chatOf({{}, {one}, u"19:g@thread.skype"_s, {}, ConversationKind::Group});
        HistoryChat titled = untitled;
        titled.name = QStringLiteral("Team");
        titled.kind = ConversationKind::Other;
        titled.members = {QStringLiteral("8:a"), QStringLiteral("8:b")};
        titled.messages.push_back(test::messageOf({2000, {}, u"B"_s, u"two"_s}));
        HistoryChat renamed = titled;
        renamed.name = QStringLiteral("Renamed");
        renamed.members = {QStringLiteral("8:c")};
        // No id: never one with another chat.
        const HistoryChat anonymous = test::chatOf({{}, {one}, {}, {}, ConversationKind::Other});

        ChatHistory a, b, c;
        a.chats = {untitled, anonymous};
        b.chats = {titled, anonymous};
        b.skippedMessages = 2;
        b.firstSkipped = QStringLiteral("conversation 8:x, message 4");
        c.chats = {renamed};
        c.skippedMessages = 1;
        c.firstSkipped = QStringLiteral("conversation 8:y, message 1");
        const ChatHistory merged = mergeHistories({std::make_shared<const ChatHistory>(a),
                                                   std::make_shared<const ChatHistory>(b),
                                                   std::make_shared<const ChatHistory>(c)});
        QCOMPARE(merged.chats.size(), size_t(3));
        const HistoryChat& group = merged.chats[0];
        QCOMPARE(group.id, untitled.id);
        QCOMPARE(group.name, QStringLiteral("Team"));
        QCOMPARE(conversationKindText(group.kind), conversationKindText(ConversationKind::Group));
        QCOMPARE(group.members, titled.members);
        QCOMPARE(group.messages.size(), size_t(2));
        QCOMPARE(merged.chats[1].messages.size(), size_t(1));
        QCOMPARE(merged.chats[2].messages.size(), size_t(1));
        QCOMPARE(merged.skippedMessages, qsizetype(3));
        QCOMPARE(merged.firstSkipped, b.firstSkipped);
    }

    // Merged files name each person once, from the messages of all of them; the own user and
    // a stated member count come from whichever file tells them.
    void mergedFilesNameEachPersonOnce_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<QString>("senderId");
        QTest::addColumn<QString>("name");
        const QByteArray older = exportWith(
            {{str("8:anna"), {textMessage("2020-01-01T00:00:00Z", "Anna Old", "old", "8:anna")}}});
        const QByteArray newer =
            exportWith({{str("8:anna"),
                         {textMessage("2021-01-01T00:00:00Z", "Anna New", "new", "8:anna"),
                          textMessage("2021-01-02T00:00:00Z", nullptr, "unnamed", "8:anna")}}});
        QTest::newRow("the newer name, read first") << newer << older << u"anna"_s << u"Anna New"_s;
        QTest::newRow("the newer name, read last") << older << newer << u"anna"_s << u"Anna New"_s;
        const QByteArray partner = exportWith({{str("8:carl"), {}, str("Carl C")}});
        QTest::newRow("a partner named by the other file")
            << older << partner << u"carl"_s << u"Carl C"_s;
    }

    void mergedFilesNameEachPersonOnce()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(QString, senderId);
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString a = dir.filePath(u"a.json"_s);
        const QString b = dir.filePath(u"b.json"_s);
        QVERIFY(test::writeBytes(a, first));
        QVERIFY(test::writeBytes(b, second));
        HistoryLoader loader({a, b});
        const ChatHistoryPtr merged = loader.load();
        QVERIFY(merged);
        QCOMPARE(merged->sourceFiles.size(), 2);
        QCOMPARE(personName(*merged, senderId), name);
        QVERIFY(isOwnUser(*merged, u"8:me"_s));
    }

    void mergedHistoriesKeepTheOwnUserAndMemberCount()
    {
        const HistoryChat group =
            test::chatOf({{}, {}, u"19:g@thread.skype"_s, {}, ConversationKind::Group});
        HistoryChat counted = group;
        counted.memberCount = 5;
        ChatHistory a, b;
        a.chats = {group};
        b.chats = {counted};
        b.ownUserId = u"me.myself"_s;
        const ChatHistory merged = mergeHistories(
            {std::make_shared<const ChatHistory>(a), std::make_shared<const ChatHistory>(b)});
        QCOMPARE(merged.ownUserId, b.ownUserId);
        QCOMPARE(merged.chats.size(), size_t(1));
        QCOMPARE(merged.chats[0].memberCount, qsizetype(5));
    }

    void laterCommandsReuseTheLoadedHistoryUntilTheFileChanges()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("messages.json"));
        QVERIFY(test::writeBytes(path, newerExport));
        HistoryLoader loader({path});
        const ChatHistoryPtr first = loader.load();
        QVERIFY(first);
        QCOMPARE(loader.load(), first);

        QByteArray changed = newerExport;
        changed.replace("8:carl", "8:cleo");
        QVERIFY(test::writeBytes(path, changed));
        // Same size: only the modification time tells the change.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(5),
                                 QFileDevice::FileModificationTime));
        file.close();
        const ChatHistoryPtr second = loader.load();
        QVERIFY(second && second != first);
        QVERIFY(second->contacts.contains(QStringLiteral("cleo")));
        QCOMPARE(loader.load(), second);
    }

    // A sieve is asked about the messages of a single file, not of files merged (merging
    // compares every message across files); a history read through it is read again later.
    void aSieveSiftsSingleFilesOnly()
    {
        class KeepLater final : public MessageSieve {
        public:
            bool keeps(const HistoryMessage& message) override
            {
                ++asked;
                return message.body == u"later";
            }
            int asked = 0;
        } sieve;
        HistoryLoader single({m_export});
        single.setSieve(&sieve);
        const ChatHistoryPtr sifted = single.load();
        QVERIFY(sifted);
        QCOMPARE(sieve.asked, 5);
        QCOMPARE(sifted->messageCount(), 2);
        QCOMPARE(sifted->contacts, (QStringList{u"anna"_s, u"carl"_s}));
        QCOMPARE(sifted->chats.size(), size_t(3));
        QCOMPARE(sifted->chats[2].name, u"Carl"_s);
        single.setSieve(nullptr);
        const ChatHistoryPtr whole = single.load();
        QVERIFY(whole != sifted);
        QCOMPARE(whole->messageCount(), 5);

        HistoryLoader both({m_database, m_export});
        both.setSieve(&sieve);
        sieve.asked = 0;
        const ChatHistoryPtr merged = both.load();
        QVERIFY(merged);
        QCOMPARE(sieve.asked, 0);
        HistoryLoader unsifted({m_database, m_export});
        QCOMPARE(merged->messageCount(), unsifted.load()->messageCount());
    }

    void mergedHistoryIsReusedToo()
    {
        HistoryLoader loader({m_database, m_export});
        const ChatHistoryPtr first = loader.load();
        QVERIFY(first);
        QCOMPARE(first->contacts.size(), 3);
        QCOMPARE(loader.load(), first);
    }

    void unreadableFileIsToldAndTheOthersAreUsed()
    {
        QTemporaryDir dir;
        const QString bad = dir.filePath(QStringLiteral("broken_export.tar"));
        QVERIFY(test::writeBytes(bad, "{\"conversations\": [ {\"id\": "));
        QStringList told;
        HistoryLoader loader({bad, m_export});
        loader.setReport([&](const QString& text) { told << text; });
        const ChatHistoryPtr history = loader.load();
        QVERIFY(history);
        QCOMPARE(history->contacts, QStringList({QStringLiteral("anna"), QStringLiteral("carl")}));
        QCOMPARE(told.size(), 1);
        QVERIFY2(told[0].contains(QDir::toNativeSeparators(bad))
                     && told[0].contains(QStringLiteral("not valid JSON")),
                 qPrintable(told[0]));
    }

    // A file with messages its reader left out is told once each time it is read, naming the
    // file, how many and the first of them; a file without any is not told at all.
    void leftOutMessagesAreToldOncePerReading()
    {
        QTemporaryDir dir;
        const QString json = dir.filePath(QStringLiteral("history.json"));
        const QByteArray twoBad =
            exportWith({{str("8:anna"),
                         {textMessage("2020-02-30T10:00:00Z", "Anna", "a", "8:anna"),
                          textMessage("2021-01-01T00:00:00Z", "Anna", "kept", "8:anna"),
                          textMessage("1960-01-01T00:00:00Z", "Anna", "b", "8:anna")}}});
        QVERIFY(test::writeBytes(json, twoBad));
        const QString tar = dir.filePath(QStringLiteral("one_export.tar"));
        QVERIFY(test::writeExportTar(
            tar, exportWith({{str("8:bo"), {textMessage("yesterday", "Bo", "b", "8:bo")}}})));
        QStringList told;
        HistoryLoader loader({json, m_export, tar});
        loader.setNotice([&](const QString& notice) { told << notice; });
        const ChatHistoryPtr history = loader.load();
        QVERIFY(history);
        QCOMPARE(history->contacts, QStringList({QStringLiteral("anna"), QStringLiteral("carl"),
                                                 QStringLiteral("bo")}));
        QCOMPARE(told, QStringList({QStringLiteral("2 messages of \"%1\" could not be read and "
                                                   "were left out; the first is message 1 of "
                                                   "conversation \"8:anna\" (message id \"1\"), "
                                                   "whose time \"2020-02-30T10:00:00Z\" is no "
                                                   "possible date and time.")
                                        .arg(QDir::toNativeSeparators(json)),
                                    QStringLiteral("1 message of \"%1\" could not be read and was "
                                                   "left out: message 1 of conversation "
                                                   "\"8:bo\" (message id \"1\"), whose time "
                                                   "\"yesterday\" is no possible date and time.")
                                        .arg(QDir::toNativeSeparators(tar))}));

        // Reused, not read again: nothing more is told.
        QVERIFY(loader.load());
        QCOMPARE(told.size(), 2);

        // Read again once it changed.
        QVERIFY(test::writeBytes(json, twoBad + "\n"));
        told.clear();
        QVERIFY(loader.load());
        QCOMPARE(told.size(), 1);
        QVERIFY(told[0].startsWith(
            QStringLiteral("2 messages of \"%1\"").arg(QDir::toNativeSeparators(json))));
    }

    // Texts that held bytes that are no UTF-8 are told with the left-out messages of the file,
    // or alone; merged histories add them up.
    void textsThatAreNoUtf8AreTold_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("notice"); // %1: the file
        const QByteArray bad = exportWith(
            {{str("8:anna"),
              {textMessage("2021-01-01T00:00:00Z", "An\xffna", "caf\xe9 \xe9\xe9", "8:anna")}}});
        QTest::newRow("two texts")
            << u"h.json"_s << bad
            << u"\"%1\": 2 texts held bytes that are not UTF-8; shown as \uFFFD."_s;
        QTest::newRow("one text in a tar")
            << u"h.tar"_s << exportWith({{str("8:\xc3")}})
            << u"\"%1\": 1 text held bytes that are not UTF-8; shown as \uFFFD."_s;
        QTest::newRow("after left-out messages")
            << u"h.json"_s
            << exportWith({{str("8:anna"),
                            {textMessage("2021-02-30T00:00:00Z", "Anna", "x", "8:anna"),
                             textMessage("2021-02-28T00:00:00Z", "Anna", "x\xfe", "8:anna")}}})
            << u"1 message of \"%1\" could not be read and was left out: message 1 of "
               "conversation \"8:anna\" (message id \"1\"), whose time "
               "\"2021-02-30T00:00:00Z\" is no possible date and time. 1 text held bytes that "
               "are not UTF-8; shown as \uFFFD."_s;
        QTest::newRow("database")
            << u"main.db"_s
            << olderDatabase + "UPDATE Messages SET body_xml = CAST(x'ff' AS TEXT) WHERE id < 3;"
            << u"\"%1\": 2 texts held bytes that are not UTF-8; shown as \uFFFD."_s;
    }

    void textsThatAreNoUtf8AreTold()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, notice);
        QTemporaryDir dir;
        const QString path = dir.filePath(name), copy = dir.filePath(u"copy of "_s + name);
        if (name.endsWith(u".db"))
            QCOMPARE(test::writeDatabase(path, content), QString());
        else if (name.endsWith(u".tar"))
            QVERIFY(test::writeExportTar(path, content));
        else
            QVERIFY(test::writeBytes(path, content));
        QVERIFY(QFile::copy(path, copy));
        QStringList told;
        HistoryLoader loader({path});
        loader.setNotice([&](const QString& text) { told << text; });
        const ChatHistoryPtr history = loader.load();
        QVERIFY(history);
        QCOMPARE(told, QStringList{notice.arg(QDir::toNativeSeparators(path))});
        HistoryLoader both({path, copy});
        QCOMPARE(both.load()->notUtf8Texts, 2 * history->notUtf8Texts);
    }

    void unreadableOnlyFileIsAClientThatIsNotRunning()
    {
        QTemporaryDir dir;
        const QString bad = dir.filePath(QStringLiteral("main.db"));
        QVERIFY(test::writeBytes(bad, "not a database"));
        QStringList told;
        auto loader = std::make_shared<HistoryLoader>(QStringList{bad});
        loader->setReport([&](const QString& text) { told << text; });
        HistoryChatServiceFactory factory([loader] { return loader->load(); });
        QVERIFY(!factory.create()->isClientRunning());
        QCOMPARE(told.size(), 1);
        QVERIFY(told[0].contains(QStringLiteral("cannot be read")));
        // Still told at the next command: the file is still unreadable.
        QVERIFY(!factory.create()->isClientRunning());
        QCOMPARE(told.size(), 2);
    }

    void droppedFilesJoinAndDiscoveryIsOnlyForNoArguments()
    {
        int discoveries = 0;
        HistoryLoader found({}, [&] {
            ++discoveries;
            return QStringList{m_database};
        });
        QCOMPARE(found.files(), QStringList{m_database});
        found.addFile(m_export);
        found.addFile(m_export);
        QCOMPARE(found.files(), QStringList({m_database, m_export}));
        QCOMPARE(found.load()->contacts.size(), 3);
        QVERIFY(discoveries >= 2);

        discoveries = 0;
        HistoryLoader named({m_export}, [&] {
            ++discoveries;
            return QStringList{m_database};
        });
        QCOMPARE(named.files(), QStringList{m_export});
        QCOMPARE(discoveries, 0);

        HistoryLoader nothing({}, [] { return QStringList(); });
        QCOMPARE(nothing.load(), ChatHistoryPtr());
    }

    void discoversExportsAndOldProfiles()
    {
        QTemporaryDir downloads, home;
        QVERIFY(test::writeBytes(downloads.filePath(QStringLiteral("anna_export.tar")), "x"));
        QVERIFY(test::writeBytes(downloads.filePath(QStringLiteral("holiday.tar")), "x"));
        QVERIFY(test::writeBytes(downloads.filePath(QStringLiteral("messages.json")), "x"));
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral(".Skype/anna.k")));
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral(".Skype/shared_dynco")));
        QVERIFY(test::writeBytes(home.filePath(QStringLiteral(".Skype/anna.k/main.db")), "x"));
        const QStringList found = discoverHistoryFiles(downloads.path(), home.path());
        QCOMPARE(found,
                 QStringList({QFileInfo(downloads.filePath(QStringLiteral("anna_export.tar")))
                                  .absoluteFilePath(),
                              QFileInfo(home.filePath(QStringLiteral(".Skype/anna.k/main.db")))
                                  .absoluteFilePath()}));
        QCOMPARE(discoverHistoryFiles(QString(), QString()), QStringList());
    }

private:
    QTemporaryDir m_dir;
    QString m_export;
    QString m_database;
};

QTEST_GUILESS_MAIN(HistoryLoaderTest)
#include "test_history_loader.moc"
