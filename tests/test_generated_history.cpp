#include "chat/chat_history.h"
#include "chat/export_reader.h"
#include "chat/history_loader.h"
#include "chat/legacy_db_reader.h"
#include "history_generator.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace velmoran;

namespace {

constexpr std::uint64_t messages = 3000;

// Markup or an entity left in a body: the decoding missed something.
const QRegularExpression leftoverMarkup(
    QStringLiteral("</?[A-Za-z_]+[ />]|&(amp|lt|gt|quot|apos|#[0-9]+|#x[0-9A-Fa-f]+);"));

} // namespace

class GeneratedHistoryTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_tar = m_dir.filePath(QStringLiteral("generated_export.tar"));
        m_db = m_dir.filePath(QStringLiteral("main.db"));
        const generator::Options options{messages, 7, 0};
        QCOMPARE(QString::fromStdString(generator::writeExportTar(m_tar.toStdString(), options)),
                 QString());
        QCOMPARE(
            QString::fromStdString(generator::writeLegacyDatabase(m_db.toStdString(), options)),
            QString());
        m_export = readExportArchive(m_tar);
        m_legacy = readLegacyDatabase(m_db);
    }

    void generatorIsDeterministic()
    {
        const generator::Options options{500, 3, 0};
        QCOMPARE(generator::exportJson(options), generator::exportJson(options));
        QVERIFY(generator::exportJson(options) != generator::exportJson({500, 4, 0}));
    }

    void exportReadsCompletelyAndPlainly()
    {
        QCOMPARE(m_export.messageCount(), qsizetype(messages));
        QCOMPARE(m_export.contacts.size(), 8);
        int groups = 0, emptyBodies = 0, nonLatin = 0;
        for (const HistoryChat& chat : m_export.chats) {
            groups += chat.peerHandle.isEmpty() ? 1 : 0;
            for (size_t i = 0; i < chat.messages.size(); ++i) {
                const HistoryMessage& m = chat.messages[i];
                QVERIFY(i == 0 || chat.messages[i - 1].timestampMs <= m.timestampMs);
                QVERIFY(!m.senderDisplayName.isEmpty());
                QVERIFY2(!leftoverMarkup.match(m.body).hasMatch(), qPrintable(m.body));
                emptyBodies += m.body.isEmpty() ? 1 : 0;
                nonLatin += m.body.contains(QRegularExpression(
                                QStringLiteral("[\\x{0400}-\\x{04FF}\\x{4E00}-\\x{9FFF}]")))
                                ? 1
                                : 0;
            }
        }
        QCOMPARE(groups, 3);                                         // two group chats and a bot
        QVERIFY(emptyBodies > 0 && emptyBodies < int(messages) / 5); // calls and thread activity
        QVERIFY(nonLatin > int(messages) / 10);
    }

    void databaseAndExportOfOneHistoryAgree()
    {
        // The generator writes the same messages to both; the readers must give the same texts.
        QCOMPARE(m_legacy.contacts, m_export.contacts);
        QCOMPARE(m_legacy.chats.size(), m_export.chats.size());
        for (size_t c = 0; c < m_export.chats.size(); ++c) {
            const HistoryChat& fromExport = m_export.chats[c];
            const HistoryChat& fromDb = m_legacy.chats[c];
            QCOMPARE(fromDb.peerHandle, fromExport.peerHandle);
            if (!fromDb.peerHandle.isEmpty()) {
                QCOMPARE(fromDb.id, QStringLiteral("8:") + fromDb.peerHandle);
                QCOMPARE(fromDb.kind, ConversationKind::OneToOne);
                // Every partner has a name in Contacts.
                QVERIFY(!fromDb.name.isEmpty() && fromDb.name != fromDb.peerHandle);
            } else {
                QCOMPARE(fromDb.kind, ConversationKind::Group);
            }
            QCOMPARE(fromDb.messages.size(), fromExport.messages.size());
            for (size_t i = 0; i < fromExport.messages.size(); ++i) {
                QCOMPARE(fromDb.messages[i].body, fromExport.messages[i].body);
                QCOMPARE(fromDb.messages[i].timestampMs / 1000,
                         fromExport.messages[i].timestampMs / 1000);
                QVERIFY(!fromDb.messages[i].senderId.isEmpty());
            }
        }
    }

    void mergingTheTwoKeepsEachMessageOnce()
    {
        // Both files hold the same one-to-one messages; either may leave a sender's name out
        // (then the id stands in), independently of the other. The copies are matched by the
        // sender's id; only where the database copy has no name and the export copy no id is
        // there nothing to tell they are one.
        qsizetype unmatchable = 0, bothNameless = 0;
        for (size_t c = 0; c < m_export.chats.size(); ++c) {
            if (m_export.chats[c].peerHandle.isEmpty())
                continue;
            for (size_t i = 0; i < m_export.chats[c].messages.size(); ++i) {
                const HistoryMessage& fromExport = m_export.chats[c].messages[i];
                const HistoryMessage& fromDb = m_legacy.chats[c].messages[i];
                unmatchable += fromExport.senderId.isEmpty()
                                       && fromDb.senderDisplayName == fromDb.senderId
                                       && fromExport.senderDisplayName != fromDb.senderId
                                   ? 1
                                   : 0;
                bothNameless += fromDb.senderDisplayName == fromDb.senderId
                                        && fromExport.senderDisplayName == fromDb.senderId
                                    ? 1
                                    : 0;
            }
        }
        HistoryLoader loader({m_db, m_tar});
        const ChatHistoryPtr merged = loader.load();
        QVERIFY(merged);
        qsizetype groupMessages = 0;
        for (const HistoryChat& chat : m_export.chats)
            groupMessages += chat.peerHandle.isEmpty() ? qsizetype(chat.messages.size()) : 0;
        QCOMPARE(merged->contacts, m_export.contacts);
        // The group chats have other ids in the two files, so they are not merged.
        QCOMPARE(merged->messageCount(), qsizetype(messages) + unmatchable + groupMessages);
        // Where one copy names the sender, the merged message does.
        qsizetype nameless = 0;
        for (const HistoryChat& chat : merged->chats) {
            for (const HistoryMessage& m : chat.messages)
                nameless += !chat.peerHandle.isEmpty() && m.senderDisplayName == m.senderId ? 1 : 0;
        }
        QVERIFY(bothNameless > 0);
        QCOMPARE(nameless, bothNameless + unmatchable);
    }

private:
    QTemporaryDir m_dir;
    QString m_tar, m_db;
    ChatHistory m_export, m_legacy;
};

QTEST_GUILESS_MAIN(GeneratedHistoryTest)
#include "test_generated_history.moc"
