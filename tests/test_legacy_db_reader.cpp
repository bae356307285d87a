#include "chat/legacy_db_reader.h"
#include "chat/person_names.h"
#include "core/failure.h"
#include "history_files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace velmoran;
using namespace Qt::Literals::StringLiterals;
using velmoran::test::failureOf;

namespace {

// The tables and columns of the old client's database that the reader uses, plus a few it
// does not, with rows covering every case of the mapping.
const QByteArray schema =
    "CREATE TABLE Accounts (id INTEGER PRIMARY KEY, skypename TEXT);"
    "CREATE TABLE Contacts (id INTEGER PRIMARY KEY, is_permanent INTEGER, skypename TEXT, fullname "
    "TEXT,"
    " displayname TEXT);"
    "CREATE TABLE Conversations (id INTEGER PRIMARY KEY, is_permanent INTEGER, identity TEXT, type "
    "INTEGER,"
    " displayname TEXT, meta_topic TEXT);"
    "CREATE TABLE Participants (id INTEGER PRIMARY KEY, convo_id INTEGER, identity TEXT);"
    "CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER, chatname TEXT, author TEXT,"
    " from_dispname TEXT, timestamp INTEGER, type INTEGER, body_xml TEXT);";

const QByteArray rows =
    "INSERT INTO Accounts VALUES (1, 'me');"
    "INSERT INTO Contacts VALUES (1, 1, 'zoe.w', 'Zoe Full', NULL), (2, 0, 'stranger', 'Not a "
    "buddy', 'Stranger D'),"
    " (3, 1, 'echo123', 'Echo', 'Echo Service'), (4, 1, 'zoe.w', 'Zoe again', 'Zoe later'),"
    " (5, 1, NULL, 'No handle', NULL), (6, 1, 'lurker', 'Lurker', NULL);"
    // Conversations out of id order on insertion: chats follow ids.
    "INSERT INTO Conversations VALUES (7, 1, 'echo123', 1, 'Echo conv', NULL), (3, 1, 'zoe.w', 1, "
    "'Zoe', NULL),"
    " (5, 1, '#zoe.w/$abc', 2, 'Group', 'Topic'),"
    " (9, 0, 'stranger', 1, NULL, NULL),"             // a dialog with someone who is no buddy
    " (11, 1, '19:abc@thread.skype', 2, NULL, NULL)," // untitled: named after its members
    " (12, 1, '#x/$y', 2, '', NULL),"                 // untitled and no members: its id
    " (13, 1, '28:concierge', 1, 'Concierge', NULL)," // a bot
    " (14, 1, 'nobody.known', 1, NULL, NULL),"        // a partner missing from Contacts
    " (15, 1, 'zoe.w', 1, NULL, NULL),"               // a second dialog with zoe.w
    " (16, 1, 'x', 4, 'Other thing', NULL);"
    "INSERT INTO Participants VALUES (1, 11, 'zoe.w'), (2, 11, 'me'), (3, 11, 'ghost.x'), (4, 11, "
    "'zoe.w'),"
    " (5, 5, 'zoe.w'), (6, 5, '28:concierge'), (7, 99, 'nobody');"
    "INSERT INTO Messages VALUES"
    " (30, 3, '', 'zoe.w', 'Zoe W', 1600000010, 61, 'second &amp; <b>bold</b>'),"
    " (20, 3, '', 'me', '', 1600000000, 61, 'first'),"
    " (21, 3, '', '8:zoe.w', NULL, 1600000010, 61, 'same second, smaller id<e_m ts=\"1\"></e_m>'),"
    " (40, 3, '', 'zoe.w', 'Zoe W', 1600000020, 61, NULL),"
    " (80, 15, '', 'zoe.w', 'Zoe W', 1600000015, 61, 'from the other dialog'),"
    " (50, 5, '', 'bob', 'Bob', 1500000000, 61, 'group hello'),"
    " (60, 7, '', 'echo123', 'Echo', 1400000000, 61, "
    "'\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \xf0\x9f\x98\x80'),"
    " (70, 99, '', 'ghost', 'Ghost', 1400000000, 61, 'of no conversation');";

QByteArray fileHash(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// Every file of a folder with its checksum: what a read must leave exactly as it was.
QMap<QString, QByteArray> folderState(const QString& folder)
{
    QMap<QString, QByteArray> state;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names)
        state.insert(name, fileHash(QDir(folder).filePath(name)));
    return state;
}

// Runs SQL on a database in a child process that then dies without closing anything, as a
// writer killed in the middle of its work. Answers SQLite's error text, empty on success.
QString runAndDieInChild(const QString& path, const QByteArray& sql)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return QStringLiteral("no pipe");
    const std::string file = QFile::encodeName(path).toStdString();
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        sqlite3* db = nullptr;
        char* error = nullptr;
        std::string answer;
        if (sqlite3_open(file.c_str(), &db) != SQLITE_OK)
            answer = "cannot open";
        else if (sqlite3_exec(db, sql.constData(), nullptr, nullptr, &error) != SQLITE_OK)
            answer = error ? error : "failed";
        if (write(pipeEnds[1], answer.data(), answer.size()) < 0)
            _exit(2);
        _exit(0); // no close, no commit, no clean-up
    }
    close(pipeEnds[1]);
    QByteArray answer;
    char buffer[256];
    for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, got);
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return QString::fromUtf8(answer);
}

// A child process that commits pairs of messages to the database until stop() is called.
// Each transaction also gives every message of conversation 5 a new version.
class ConcurrentWriter {
public:
    ConcurrentWriter(const QString& path, const QByteArray& setup, const QString& stopFile)
        : m_stopFile(stopFile)
    {
        const std::string file = QFile::encodeName(path).toStdString();
        const std::string stop = QFile::encodeName(stopFile).toStdString();
        m_child = fork();
        if (m_child == 0) {
            sqlite3* db = nullptr;
            if (sqlite3_open(file.c_str(), &db) != SQLITE_OK)
                _exit(1);
            sqlite3_busy_timeout(db, 5000);
            if (sqlite3_exec(db, setup.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
                _exit(1);
            for (int i = 0; i < 100000 && access(stop.c_str(), F_OK) != 0; ++i) {
                // Every transaction rewrites all of conversation 5: a read mixing two states
                // shows two versions there.
                const std::string sql =
                    "BEGIN; UPDATE Messages SET body_xml = 'version " + std::to_string(i)
                    + "' WHERE convo_id = 5;"
                      " INSERT INTO Messages (convo_id, author, from_dispname, timestamp, body_xml)"
                      " VALUES (3, 'zoe.w', 'Zoe', 1700000000, 'pair "
                    + std::to_string(i)
                    + "a');"
                      " INSERT INTO Messages (convo_id, author, from_dispname, timestamp, body_xml)"
                      " VALUES (3, 'me', 'Me', 1700000000, '"
                    + std::string(300, 'b') + "'); COMMIT;";
                if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
                    _exit(1);
                // A client commits a few times a second at most; a writer that never pauses
                // is told as "kept writing" instead (a copy is never consistent).
                usleep(30000);
            }
            sqlite3_close(db);
            _exit(0);
        }
    }
    // Stops the writer; true when it wrote without a failure.
    bool stop()
    {
        test::writeBytes(m_stopFile, "stop");
        int status = 0;
        waitpid(m_child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

private:
    QString m_stopFile;
    pid_t m_child = -1;
};

struct StopReading {};

} // namespace

class LegacyDbReaderTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        m_db = m_dir->filePath(QStringLiteral("main.db"));
        QCOMPARE(test::writeDatabase(m_db, schema + rows), QString());
    }

    void mapsConversationsAndContacts()
    {
        const ChatHistory history = readLegacyDatabase(m_db);
        // The partners of one-to-one chats in conversation order, buddies or not, each once.
        QCOMPARE(history.contacts,
                 QStringList({QStringLiteral("zoe.w"), QStringLiteral("echo123"),
                              QStringLiteral("stranger"), QStringLiteral("nobody.known")}));
        struct Expected {
            QString id, peer, name;
            ConversationKind kind;
            QStringList members;
        };
        const QString zoe = QStringLiteral("Zoe Full"); // the first Contacts row of the handle
        const Expected expected[] = {
            {u"8:zoe.w"_s, u"zoe.w"_s, zoe, ConversationKind::OneToOne, {}},
            {u"#zoe.w/$abc"_s,
             u""_s,
             u"Topic"_s,
             ConversationKind::Group,
             {u"8:zoe.w"_s, u"28:concierge"_s}},
            {u"8:echo123"_s, u"echo123"_s, u"Echo Service"_s, ConversationKind::OneToOne, {}},
            {u"8:stranger"_s, u"stranger"_s, u"Stranger D"_s, ConversationKind::OneToOne, {}},
            {u"19:abc@thread.skype"_s,
             u""_s,
             zoe + u", ghost.x"_s,
             ConversationKind::Group,
             {u"8:zoe.w"_s, u"8:me"_s, u"8:ghost.x"_s}},
            {u"#x/$y"_s, u""_s, u"#x/$y"_s, ConversationKind::Group, {}},
            {u"28:concierge"_s, u""_s, u"Concierge"_s, ConversationKind::Bot, {}},
            {u"8:nobody.known"_s,
             u"nobody.known"_s,
             u"nobody.known"_s,
             ConversationKind::OneToOne,
             {}},
            {u"8:x"_s, u""_s, u"Other thing"_s, ConversationKind::Other, {}},
        };
        QCOMPARE(history.chats.size(), std::size(expected));
        for (size_t i = 0; i < std::size(expected); ++i) {
            const HistoryChat& chat = history.chats[i];
            const Expected& e = expected[i];
            QCOMPARE(chat.id, e.id);
            QCOMPARE(chat.peerHandle, e.peer);
            QCOMPARE(chat.name, e.name);
            QCOMPARE(conversationKindText(chat.kind), conversationKindText(e.kind));
            QCOMPARE(chat.members, e.members);
        }
        QCOMPARE(history.skippedMessages, qsizetype(0));
    }

    // The account is the history's own user; contacts' and the account's names stand for
    // people whose messages give none; an author written with "8:" is no name.
    void everyPersonHasOneName_data()
    {
        QTest::addColumn<QByteArray>("sql");
        QTest::addColumn<QString>("senderId");
        QTest::addColumn<QString>("name");
        QTest::newRow("named in a message") << QByteArray() << u"bob"_s << u"Bob"_s;
        QTest::newRow("the latest message gives only the author")
            << QByteArray("INSERT INTO Messages VALUES (90, 3, '', '8:zoe.w', NULL, 1600000099, "
                          "61, 'latest');")
            << u"zoe.w"_s << u"Zoe W"_s;
        QTest::newRow("a contact without messages") << QByteArray() << u"lurker"_s << u"Lurker"_s;
        QTest::newRow("a member known nowhere") << QByteArray() << u"ghost.x"_s << u"ghost.x"_s;
        QTest::newRow("the account without a name") << QByteArray() << u"me"_s << u"me"_s;
        QTest::newRow("the account's name")
            << QByteArray("ALTER TABLE Accounts ADD COLUMN fullname TEXT;"
                          "UPDATE Accounts SET fullname = 'Me Myself';")
            << u"me"_s << u"Me Myself"_s;
    }

    void everyPersonHasOneName()
    {
        QFETCH(QByteArray, sql);
        QFETCH(QString, senderId);
        QFETCH(QString, name);
        const QString db = m_dir->filePath(u"named.db"_s);
        QCOMPARE(test::writeDatabase(db, schema + rows + sql), QString());
        ChatHistory history = readLegacyDatabase(db);
        QCOMPARE(history.ownUserId, u"me"_s);
        indexPeople(history);
        QCOMPARE(personName(history, senderId), name);
        QVERIFY(isOwnUser(history, u"me"_s));
        QVERIFY(!isOwnUser(history, u"zoe.w"_s));
    }

    void mapsMessages()
    {
        const ChatHistory history = readLegacyDatabase(m_db);
        QCOMPARE(history.chats.size(), size_t(9));
        // Both dialogs with zoe.w in one chat, by time, then id.
        const auto& zoe = history.chats[0].messages;
        QStringList bodies, senders, ids;
        for (const HistoryMessage& m : zoe) {
            bodies << m.body;
            senders << m.senderDisplayName;
            ids << m.senderId;
        }
        QCOMPARE(bodies, QStringList({u"first"_s, u"same second, smaller id"_s, u"second & bold"_s,
                                      u"from the other dialog"_s, u""_s}));
        QCOMPARE(senders, QStringList({u"me"_s, u"8:zoe.w"_s, u"Zoe W"_s, u"Zoe W"_s, u"Zoe W"_s}));
        QCOMPARE(ids, QStringList({u"me"_s, u"zoe.w"_s, u"zoe.w"_s, u"zoe.w"_s, u"zoe.w"_s}));
        QCOMPARE(zoe[0].timestampMs, qint64(1600000000000));
        QCOMPARE(zoe[3].timestampMs, qint64(1600000015000));
        QVERIFY(zoe[2].senderDisplayName.isSharedWith(zoe[4].senderDisplayName));

        QCOMPARE(history.chats[1].messages.size(), size_t(1));
        QCOMPARE(history.chats[2].messages[0].body,
                 QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442 \U0001F600"));
        QCOMPARE(history.messageCount(), qsizetype(7));
    }

    void oneBadMessageIsNoBadHistory()
    {
        QCOMPARE(
            test::writeDatabase(
                m_db,
                "INSERT INTO Messages (id, convo_id, author, from_dispname, timestamp, body_xml)"
                " VALUES (100, 7, 'echo123', 'E', 9223372036854775807, 'int64 max'),"
                " (101, 7, 'echo123', 'E', -1, 'before 1970'),"
                " (102, 7, 'echo123', 'E', 253402300800, 'after 9999'),"
                " (103, 7, 'echo123', 'E', NULL, 'no time'),"
                " (104, 7, 'echo123', 'E', 'noon', 'a text for a time'),"
                " (105, 7, 'echo123', 'E', 0, 'at 1970'),"
                " (106, 7, 'echo123', 'E', 253402300799, 'last second of 9999'),"
                " (107, 7, 'echo123', CAST(x'c3' AS TEXT), 1400000001,"
                "  CAST(x'6f6b20ff20656e6420e282' AS TEXT));"),
            QString());
        const ChatHistory history = readLegacyDatabase(m_db);
        QCOMPARE(history.skippedMessages, qsizetype(5));
        QCOMPARE(history.firstSkipped, QStringLiteral("conversation 8:echo123, message 100"));
        const auto& echo = history.chats[2].messages;
        QCOMPARE(echo.size(), size_t(4));
        QCOMPARE(echo[0].body, QStringLiteral("at 1970"));
        QCOMPARE(echo[0].timestampMs, qint64(0));
        QCOMPARE(echo[3].body, QStringLiteral("last second of 9999"));
        QCOMPARE(echo[3].timestampMs, qint64(253402300799000));
        // Invalid UTF-8 becomes replacement characters, the rest of the text stays.
        QVERIFY2(echo[2].body.startsWith(QStringLiteral("ok \uFFFD end \uFFFD")),
                 qPrintable(echo[2].body));
        QCOMPARE(echo[2].senderDisplayName, QStringLiteral("\uFFFD"));
    }

    void refusesWhatIsNoPlainTable_data()
    {
        QTest::addColumn<QByteArray>("sql");
        QTest::addColumn<QString>("reason");
        // A view that never ends: reading it would hang.
        QTest::newRow("endless view") << QByteArray(
            "DROP TABLE Messages; CREATE VIEW Messages AS WITH RECURSIVE n(i) AS (SELECT 1 UNION "
            "ALL"
            " SELECT i + 1 FROM n) SELECT i AS id, 3 AS convo_id, i AS timestamp, 'a' AS author,"
            " 'A' AS from_dispname, 'x' AS body_xml FROM n;")
                                      << QStringLiteral("its Messages is a view, not a table");
        QTest::newRow("virtual table")
            << QByteArray(
                   "DROP TABLE Contacts; CREATE VIRTUAL TABLE Contacts USING fts5(skypename);")
            << QStringLiteral("its Contacts is a virtual table, not a table");
        QTest::newRow("view of a table")
            << QByteArray("ALTER TABLE Conversations RENAME TO Real; CREATE VIEW conversations AS "
                          "SELECT * FROM Real;")
            << QStringLiteral("its Conversations is a view, not a table");
        QTest::newRow("missing table") << QByteArray("DROP TABLE Conversations;")
                                       << QStringLiteral("it has no Conversations table");
        QTest::newRow("missing column")
            << QByteArray("ALTER TABLE Messages DROP COLUMN author;")
            << QStringLiteral("its Messages table has no author column");
        QTest::newRow("a view of participants is ignored") << QByteArray(
            "DROP TABLE Participants; CREATE VIEW Participants AS WITH RECURSIVE n(i) AS (SELECT 1 "
            "UNION ALL"
            " SELECT i + 1 FROM n) SELECT 11 AS convo_id, 'p' || i AS identity FROM n;")
                                                           << QString();
    }

    void refusesWhatIsNoPlainTable()
    {
        QFETCH(QByteArray, sql);
        QFETCH(QString, reason);
        QCOMPARE(test::writeDatabase(m_db, sql), QString());
        ChatHistory history;
        const QString description = failureOf([&] { history = readLegacyDatabase(m_db); });
        if (reason.isEmpty()) {
            QVERIFY2(description.isEmpty(), qPrintable(description));
            QVERIFY(history.chats[4].members.isEmpty());
            QCOMPARE(history.chats[4].name, QStringLiteral("19:abc@thread.skype"));
        } else {
            QVERIFY2(description.contains(reason), qPrintable(description));
            QVERIFY2(description.contains(QDir::toNativeSeparators(m_db)), qPrintable(description));
        }
    }

    void progressHookIsCalledAndCanStopTheRead()
    {
        QByteArray many =
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000)"
            " INSERT INTO Messages (convo_id, author, from_dispname, timestamp, body_xml)"
            " SELECT 3, 'zoe.w', 'Zoe', 1600000000 + i, 'message ' || i FROM n;";
        QCOMPARE(test::writeDatabase(m_db, many), QString());
        int calls = 0;
        std::vector<double> told;
        const ChatHistory history = readLegacyDatabase(m_db, [&](double done) {
            ++calls;
            told.push_back(done);
        });
        QCOMPARE(history.chats[0].messages.size(), size_t(20005));
        QVERIFY(calls > 1);
        // A fraction that never falls, moves on while the messages are read and stays in 0..1.
        QVERIFY(std::is_sorted(told.begin(), told.end()));
        QVERIFY(told.front() >= 0 && told.back() <= 1);
        QVERIFY2(told.back() > 0.8, qPrintable(QString::number(told.back())));
        QVERIFY(std::adjacent_find(told.begin(), told.end(),
                                   [](double a, double b) { return a > 0.3 && b > a; })
                != told.end());

        for (const int stopAt : {1, calls / 2, calls}) {
            int seen = 0;
            bool stopped = false;
            try {
                readLegacyDatabase(m_db, [&](double) {
                    if (++seen == stopAt)
                        throw StopReading();
                });
            } catch (const StopReading&) {
                stopped = true;
            }
            QVERIFY2(stopped, qPrintable(QString::number(stopAt)));
            QCOMPARE(seen, stopAt);
        }
    }

    void writesNothingAndReadsWhileLocked()
    {
        const auto before = folderState(m_dir->path());
        const QDateTime modified = QFileInfo(m_db).lastModified();
        // Another connection holds the database with a write transaction under way.
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(m_db).constData(), &other), SQLITE_OK);
        QCOMPARE(
            sqlite3_exec(
                other,
                "BEGIN EXCLUSIVE; INSERT INTO Conversations VALUES (90, 1, 'late', 1, '', '');",
                nullptr, nullptr, nullptr),
            SQLITE_OK);
        const ChatHistory history = readLegacyDatabase(m_db);
        QCOMPARE(history.contacts.size(), 4);
        sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        QCOMPARE(folderState(m_dir->path()), before);
        QCOMPARE(QFileInfo(m_db).lastModified(), modified);
    }

    void hotJournalOfAKilledWriterIsRolledBack()
    {
        const ChatHistory committed = readLegacyDatabase(m_db);
        const QByteArray original = fileHash(m_db);
        // More than the writer's cache holds, so uncommitted pages reach the database file.
        QCOMPARE(
            runAndDieInChild(
                m_db,
                "PRAGMA journal_mode = DELETE; PRAGMA cache_size = 10; BEGIN;"
                "UPDATE Messages SET body_xml = 'uncommitted';"
                "INSERT INTO Conversations VALUES (91, 1, 'uncommitted.peer', 1, '', '');"
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)"
                " INSERT INTO Messages (convo_id, author, timestamp, body_xml)"
                " SELECT 3, 'zoe.w', 1600000000, printf('%0300d', i) FROM n;"),
            QString());
        QVERIFY(QFileInfo(m_db + QStringLiteral("-journal")).size() > 0);
        QVERIFY(fileHash(m_db) != original); // the uncommitted pages are in the file
        const auto before = folderState(m_dir->path());

        const ChatHistory history = readLegacyDatabase(m_db);
        QCOMPARE(history.contacts, committed.contacts);
        QCOMPARE(history.messageCount(), committed.messageCount());
        QCOMPARE(history.chats[0].messages[0].body, QStringLiteral("first"));
        // The hot journal and the half-written file are left for the client to roll back.
        QCOMPARE(folderState(m_dir->path()), before);
    }

    void walFramesAreReadUpToTheLastCommit()
    {
        const ChatHistory before = readLegacyDatabase(m_db);
        QCOMPARE(
            runAndDieInChild(
                m_db,
                "PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0;"
                "INSERT INTO Conversations VALUES (92, 1, 'committed.peer', 1, '', '');"
                "INSERT INTO Messages (convo_id, author, timestamp, body_xml)"
                " VALUES (92, 'committed.peer', 1650000000, 'only in the WAL');"
                "PRAGMA cache_size = 10; BEGIN;"
                "UPDATE Messages SET body_xml = 'uncommitted';"
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)"
                " INSERT INTO Messages (convo_id, author, timestamp, body_xml)"
                " SELECT 3, 'zoe.w', 1600000000, printf('%0300d', i) FROM n;"),
            QString());
        QVERIFY(QFileInfo(m_db + QStringLiteral("-wal")).size() > 0);
        const auto files = folderState(m_dir->path());

        const ChatHistory history = readLegacyDatabase(m_db);
        QCOMPARE(history.contacts, before.contacts + QStringList{QStringLiteral("committed.peer")});
        QCOMPARE(history.chats.back().messages.size(), size_t(1));
        QCOMPARE(history.chats.back().messages[0].body, QStringLiteral("only in the WAL"));
        QCOMPARE(history.messageCount(), before.messageCount() + 1);
        QCOMPARE(history.chats[0].messages[0].body, QStringLiteral("first"));
        QCOMPARE(folderState(m_dir->path()), files);
    }

    void databaseBeingWrittenIsReadAsCommitted_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::newRow("rollback journal") << QByteArray("PRAGMA journal_mode = DELETE;");
        QTest::newRow("WAL") << QByteArray("PRAGMA journal_mode = WAL;");
    }

    void databaseBeingWrittenIsReadAsCommitted()
    {
        QFETCH(QByteArray, setup);
        // Large enough that a read in place takes a while: writes land in the middle of reads.
        QCOMPARE(
            test::writeDatabase(
                m_db,
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000)"
                " INSERT INTO Messages (convo_id, author, timestamp, body_xml)"
                " SELECT 5, 'bob', 1500000000 + i, printf('%0100d', i) FROM n;"
                "UPDATE Messages SET body_xml = 'version start' WHERE convo_id = 5;"),
            QString());
        const size_t start = readLegacyDatabase(m_db).chats[0].messages.size();
        ConcurrentWriter writer(m_db, setup, m_dir->filePath(QStringLiteral("stop")));
        QElapsedTimer clock;
        clock.start();
        size_t last = start;
        int reads = 0;
        QString failure;
        while ((reads < 20 || last < start + 20) && clock.elapsed() < 30000 && failure.isEmpty()) {
            failure = failureOf([&] {
                const ChatHistory history = readLegacyDatabase(m_db);
                const size_t now = history.chats[0].messages.size();
                // Whole transactions only, and never fewer than before.
                if ((now - start) % 2 != 0 || now < last)
                    throw Failure(QStringLiteral("read %1 messages after %2").arg(now).arg(last));
                const auto& group = history.chats[1].messages;
                for (const HistoryMessage& m : group) {
                    if (m.body != group.front().body)
                        throw Failure(QStringLiteral("read \"%1\" beside \"%2\"")
                                          .arg(m.body, group.front().body));
                }
                last = now;
            });
            ++reads;
        }
        QVERIFY(writer.stop());
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QVERIFY2(last >= start + 20,
                 qPrintable(QStringLiteral("%1 reads, %2 messages").arg(reads).arg(last)));
    }

    // A writer that commits, and checkpoints into the database file, while every copy is being
    // made: no plain copy is ever consistent, so the reader must copy under a read transaction
    // of its own, and what it reads is still one committed state.
    void walDatabaseChangedDuringEveryCopyIsReadAsCommitted()
    {
        QCOMPARE(test::writeDatabase(
                     m_db, "PRAGMA journal_mode = WAL;"
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n"
                           " WHERE i < 2000)"
                           " INSERT INTO Messages (convo_id, author, timestamp, body_xml)"
                           " SELECT 5, 'bob', 1500000000 + i, 'version start' FROM n;"),
                 QString());
        sqlite3* writer = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(m_db).constData(), &writer), SQLITE_OK);
        const auto closeWriter = qScopeGuard([writer] { sqlite3_close(writer); });
        QCOMPARE(sqlite3_exec(writer, "PRAGMA wal_autocheckpoint = 1;", nullptr, nullptr, nullptr),
                 SQLITE_OK);
        const ChatHistory initial = readLegacyDatabase(m_db);
        const size_t start = initial.chats[0].messages.size();
        int commits = 0;
        const auto commit = [&](double = 0) {
            const QByteArray sql =
                QStringLiteral("BEGIN; UPDATE Messages SET body_xml = 'version %1'"
                               " WHERE convo_id = 5;"
                               " INSERT INTO Messages (convo_id, author, timestamp, body_xml)"
                               " VALUES (3, 'zoe.w', 1700000000, 'pair %1a'),"
                               " (3, 'me', 1700000000, 'pair %1b'); COMMIT;")
                    .arg(++commits)
                    .toUtf8();
            QCOMPARE(sqlite3_exec(writer, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        };
        commit();
        const ChatHistory history = readLegacyDatabase(m_db, commit);
        QVERIFY(commits > 2);
        const size_t read = history.chats[0].messages.size();
        QVERIFY2(read > start && (read - start) % 2 == 0, qPrintable(QString::number(read)));
        const auto& group = history.chats[1].messages;
        QCOMPARE(group.size(), initial.chats[1].messages.size());
        QVERIFY(group.front().body != QStringLiteral("version start"));
        for (const HistoryMessage& m : group)
            QCOMPARE(m.body, group.front().body);
        // The database, its log and its index are the writer's alone: still there, still usable.
        QVERIFY(QFileInfo::exists(m_db + QStringLiteral("-wal")));
        commit();
        QCOMPARE(readLegacyDatabase(m_db).chats[1].messages.front().body,
                 QStringLiteral("version %1").arg(commits));
    }

    void damagedDatabasesAreToldSo_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("reason");
        QTest::newRow("cut short")
            << QStringLiteral("cut") << QStringLiteral("damaged: the file is cut short");
        QTest::newRow("cut short in WAL mode")
            << QStringLiteral("cut wal") << QStringLiteral("damaged");
        QTest::newRow("page of an unread table")
            << QStringLiteral("page") << QStringLiteral("damaged");
        QTest::newRow("page of the messages")
            << QStringLiteral("messages page") << QStringLiteral("damaged");
        QTest::newRow("every page but the first")
            << QStringLiteral("all") << QStringLiteral("cannot be read");
    }

    void damagedDatabasesAreToldSo()
    {
        QFETCH(QString, damage);
        QFETCH(QString, reason);
        // A table the reader never reads, filling pages of its own.
        QCOMPARE(
            test::writeDatabase(
                m_db,
                "CREATE TABLE Notes (text TEXT); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL"
                " SELECT i + 1 FROM n WHERE i < 200) INSERT INTO Notes"
                " SELECT printf('%0100d', i) FROM n;"
                    + QByteArray(damage == QStringLiteral("cut wal") ? "PRAGMA journal_mode = WAL;"
                                                                     : "")),
            QString());
        QFile file(m_db);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        if (damage.startsWith(QStringLiteral("cut"))) {
            bytes.truncate(bytes.size() - 4096);
        } else if (damage.endsWith(QStringLiteral("page"))) {
            sqlite3* db = nullptr;
            QCOMPARE(sqlite3_open_v2(QFile::encodeName(m_db).constData(), &db, SQLITE_OPEN_READONLY,
                                     nullptr),
                     SQLITE_OK);
            sqlite3_stmt* statement = nullptr;
            const QByteArray table = damage == QStringLiteral("page") ? "Notes" : "Messages";
            sqlite3_prepare_v2(db,
                               "SELECT rootpage FROM sqlite_master WHERE name = '" + table + "'",
                               -1, &statement, nullptr);
            QCOMPARE(sqlite3_step(statement), SQLITE_ROW);
            const qint64 page = sqlite3_column_int64(statement, 0);
            sqlite3_finalize(statement);
            sqlite3_close(db);
            bytes.replace((page - 1) * 4096, 4096, QByteArray(4096, '\xee'));
        } else {
            for (qsizetype i = 4096; i < bytes.size(); ++i)
                bytes[i] = char(i * 7);
        }
        QVERIFY(file.resize(0));
        QCOMPARE(file.write(bytes), bytes.size());
        file.close();
        const auto before = folderState(m_dir->path());
        const QString description = failureOf([&] { readLegacyDatabase(m_db); });
        QVERIFY2(description.contains(reason), qPrintable(description));
        QVERIFY2(description.contains(QDir::toNativeSeparators(m_db)), qPrintable(description));
        QCOMPARE(folderState(m_dir->path()), before);
    }

    void badFilesFailWithTheReason_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("empty file") << QByteArray() << QStringLiteral("no Contacts table");
        QTest::newRow("text file") << QByteArray(4096, 'x') << QStringLiteral("no SQLite database");
        QByteArray damaged = QByteArray("SQLite format 3", 16) + QByteArray(4080, '\x7f');
        QTest::newRow("damaged header") << damaged << QStringLiteral("cannot be read");
        // A regular file whose reads fail (EIO), as a failing disk's would: not one without
        // tables.
        QTest::newRow("read fails") << QByteArray("/proc/self/mem")
                                    << QStringLiteral("cannot be read: Input/output error.");
    }

    void badFilesFailWithTheReason()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        const bool existing = content.startsWith("/proc/");
        const QString path =
            existing ? QString::fromLatin1(content) : m_dir->filePath(QStringLiteral("bad.db"));
        if (!existing)
            QVERIFY(test::writeBytes(path, content));
        const QString description = failureOf([&] { readLegacyDatabase(path); });
        QVERIFY2(description.contains(reason), qPrintable(description));
        QVERIFY2(description.contains(QDir::toNativeSeparators(path)), qPrintable(description));
        if (!existing)
            QCOMPARE(QFileInfo(path).size(), content.size());
    }

    // Each text value read that held bytes that are no UTF-8 is counted once.
    void textsThatAreNoUtf8AreCounted_data()
    {
        QTest::addColumn<QByteArray>("change");
        QTest::addColumn<int>("count");
        QTest::newRow("none") << QByteArray() << 0;
        QTest::newRow("contact name")
            << QByteArray("UPDATE Contacts SET fullname = CAST(x'5aff' AS TEXT) WHERE id = 1;")
            << 1;
        QTest::newRow("topic and member")
            << QByteArray("UPDATE Conversations SET meta_topic = CAST(x'c3' AS TEXT) WHERE id = 5;"
                          "UPDATE Participants SET identity = CAST(x'ff' AS TEXT) WHERE id = 1;")
            << 2;
        QTest::newRow("author, sender and body of one message")
            << QByteArray("UPDATE Messages SET author = CAST(x'ff' AS TEXT), from_dispname ="
                          " CAST(x'fe' AS TEXT), body_xml = CAST(x'e282ffe282' AS TEXT)"
                          " WHERE id = 20;")
            << 3;
    }

    void textsThatAreNoUtf8AreCounted()
    {
        QFETCH(QByteArray, change);
        QFETCH(int, count);
        if (!change.isEmpty())
            QCOMPARE(test::writeDatabase(m_db, change), QString());
        QCOMPARE(readLegacyDatabase(m_db).notUtf8Texts, qsizetype(count));
    }

    void missingFileFails()
    {
        QVERIFY(failureOf([&] {
                    readLegacyDatabase(m_dir->filePath(QStringLiteral("gone.db")));
                }).contains(QStringLiteral("no such file")));
        QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("gone.db"))));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_db;
};

QTEST_GUILESS_MAIN(LegacyDbReaderTest)
#include "test_legacy_db_reader.moc"
