#include "core/failure.h"
#include "history_files.h"
#include "chat/legacy_db_reader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

using namespace velmoran;
using velmoran::test::failureOf;

namespace {

// The tables and columns of the old client's database that the reader uses, plus a few it
// does not, with rows covering every case of the mapping.
const QByteArray schema =
    "CREATE TABLE Contacts (id INTEGER PRIMARY KEY, is_permanent INTEGER, skypename TEXT, fullname TEXT);"
    "CREATE TABLE Conversations (id INTEGER PRIMARY KEY, is_permanent INTEGER, identity TEXT, type INTEGER,"
    " displayname TEXT);"
    "CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER, chatname TEXT, author TEXT,"
    " from_dispname TEXT, timestamp INTEGER, type INTEGER, body_xml TEXT);";

const QByteArray rows =
    "INSERT INTO Contacts VALUES (1, 1, 'zoe.w', 'Zoe'), (2, 0, 'stranger', 'Not a buddy'),"
    " (3, 1, 'echo123', 'Echo'), (4, 1, 'zoe.w', 'Zoe again'), (5, 1, NULL, 'No handle');"
    // Conversations out of id order on insertion: chats follow ids.
    "INSERT INTO Conversations VALUES (7, 1, 'echo123', 1, 'Echo'), (3, 1, 'zoe.w', 1, 'Zoe'),"
    " (5, 1, '#zoe.w/$abc', 2, 'Group');"
    "INSERT INTO Messages VALUES"
    " (30, 3, '', 'zoe.w', 'Zoe W', 1600000010, 61, 'second &amp; <b>bold</b>'),"
    " (20, 3, '', 'me', '', 1600000000, 61, 'first'),"
    " (21, 3, '', 'zoe.w', NULL, 1600000010, 61, 'same second, smaller id<e_m ts=\"1\"></e_m>'),"
    " (40, 3, '', 'zoe.w', 'Zoe W', 1600000020, 61, NULL),"
    " (50, 5, '', 'bob', 'Bob', 1500000000, 61, 'group hello'),"
    " (60, 7, '', 'echo123', 'Echo', 1400000000, 61, '\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \xf0\x9f\x98\x80'),"
    " (70, 99, '', 'ghost', 'Ghost', 1400000000, 61, 'of no conversation');";

QByteArray fileHash(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

} // namespace

class LegacyDbReaderTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_db = m_dir.filePath(QStringLiteral("main.db"));
        QFile::remove(m_db);
        QCOMPARE(test::writeDatabase(m_db, schema + rows), QString());
    }

    void mapsContactsConversationsAndMessages()
    {
        const ChatHistory history = readLegacyDatabase(m_db);
        QCOMPARE(history.contacts, QStringList({QStringLiteral("zoe.w"), QStringLiteral("echo123")}));
        QCOMPARE(history.chats.size(), size_t(3));
        QCOMPARE(history.chats[0].peerHandle, QStringLiteral("zoe.w"));
        QCOMPARE(history.chats[1].peerHandle, QString());
        QCOMPARE(history.chats[2].peerHandle, QStringLiteral("echo123"));

        const auto& zoe = history.chats[0].messages;
        QCOMPARE(zoe.size(), size_t(4));
        QCOMPARE(zoe[0].body, QStringLiteral("first"));
        QCOMPARE(zoe[0].senderDisplayName, QStringLiteral("me"));
        QCOMPARE(zoe[0].timestampMs, qint64(1600000000000));
        QCOMPARE(zoe[1].body, QStringLiteral("same second, smaller id"));
        QCOMPARE(zoe[1].senderDisplayName, QStringLiteral("zoe.w"));
        QCOMPARE(zoe[2].body, QStringLiteral("second & bold"));
        QCOMPARE(zoe[2].senderDisplayName, QStringLiteral("Zoe W"));
        QCOMPARE(zoe[3].body, QString());
        QVERIFY(zoe[2].senderDisplayName.isSharedWith(zoe[3].senderDisplayName));

        QCOMPARE(history.chats[1].messages.size(), size_t(1));
        QCOMPARE(history.chats[2].messages[0].body, QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442 \U0001F600"));
        QCOMPARE(history.messageCount(), qsizetype(6));
    }

    void contactsWithoutBuddyColumnAreAllTaken()
    {
        const QString db = m_dir.filePath(QStringLiteral("plain.db"));
        QCOMPARE(test::writeDatabase(db, "CREATE TABLE Contacts (skypename TEXT);"
                                         "CREATE TABLE Conversations (id INTEGER, identity TEXT, type INTEGER);"
                                         "CREATE TABLE Messages (id INTEGER, convo_id INTEGER, author TEXT,"
                                         " from_dispname TEXT, timestamp INTEGER, body_xml TEXT);"
                                         "INSERT INTO Contacts VALUES ('b'), ('a');"),
                 QString());
        QCOMPARE(readLegacyDatabase(db).contacts, QStringList({QStringLiteral("b"), QStringLiteral("a")}));
    }

    void writesNothingAndReadsWhileLocked()
    {
        const QByteArray before = fileHash(m_db);
        const QDateTime modified = QFileInfo(m_db).lastModified();
        // Another program holds the database with a write transaction under way.
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(m_db).constData(), &other), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE; INSERT INTO Contacts VALUES (9, 1, 'late', 'Late');",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        const ChatHistory history = readLegacyDatabase(m_db);
        QCOMPARE(history.contacts.size(), 2);
        sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        QCOMPARE(fileHash(m_db), before);
        QCOMPARE(QFileInfo(m_db).lastModified(), modified);
        QVERIFY(!QFileInfo::exists(m_db + QStringLiteral("-wal")));
    }

    void badDatabasesFailWithTheReason_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("empty file") << QByteArray() << QStringLiteral("no Contacts table");
        QTest::newRow("text file") << QByteArray(4096, 'x') << QStringLiteral("no SQLite database");
        QByteArray damaged = QByteArray("SQLite format 3", 16) + QByteArray(4080, '\x7f');
        QTest::newRow("damaged header") << damaged << QStringLiteral("cannot be read");
    }

    void badDatabasesFailWithTheReason()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        const QString path = m_dir.filePath(QStringLiteral("bad.db"));
        QVERIFY(test::writeBytes(path, content));
        const QString description = failureOf([&] { readLegacyDatabase(path); });
        QVERIFY2(description.contains(reason), qPrintable(description));
        QVERIFY2(description.contains(QDir::toNativeSeparators(path)), qPrintable(description));
    }

    void damagedPagesFailWithTheReason()
    {
        // A real database whose pages after the first are overwritten.
        QFile file(m_db);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        QVERIFY(bytes.size() > 4096);
        for (qsizetype i = 4096; i < bytes.size(); ++i)
            bytes[i] = char(i * 7);
        file.seek(0);
        file.write(bytes);
        file.close();
        const QString description = failureOf([&] { readLegacyDatabase(m_db); });
        QVERIFY2(description.contains(QStringLiteral("cannot be read")), qPrintable(description));
    }

    void missingPiecesFailWithTheReason_data()
    {
        QTest::addColumn<QByteArray>("sql");
        QTest::addColumn<QString>("reason");
        QTest::newRow("other database") << QByteArray("CREATE TABLE Notes (id INTEGER);") << QStringLiteral("no Contacts table");
        QTest::newRow("no messages")
            << QByteArray("CREATE TABLE Contacts (skypename TEXT); CREATE TABLE Conversations (id, identity, type);")
            << QStringLiteral("no Messages table");
        QTest::newRow("missing column")
            << QByteArray("CREATE TABLE Contacts (skypename TEXT); CREATE TABLE Conversations (id, identity);"
                          "CREATE TABLE Messages (id, convo_id, timestamp, author, from_dispname, body_xml);")
            << QStringLiteral("Conversations table has no type column");
    }

    void missingPiecesFailWithTheReason()
    {
        QFETCH(QByteArray, sql);
        QFETCH(QString, reason);
        const QString path = m_dir.filePath(QStringLiteral("other.db"));
        QFile::remove(path);
        QCOMPARE(test::writeDatabase(path, sql), QString());
        const QString description = failureOf([&] { readLegacyDatabase(path); });
        QVERIFY2(description.contains(reason), qPrintable(description));
    }

    void missingFileFails()
    {
        QVERIFY(failureOf([&] { readLegacyDatabase(m_dir.filePath(QStringLiteral("gone.db"))); })
                    .contains(QStringLiteral("no such file")));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("gone.db"))));
    }

private:
    QTemporaryDir m_dir;
    QString m_db;
};

QTEST_GUILESS_MAIN(LegacyDbReaderTest)
#include "test_legacy_db_reader.moc"
