// The conversation window's copy of a message and the archive's conversation.txt are the same
// text: chat/message_text.h against the window's own MessageListModel::copyLine, in every
// locale and time zone the suite runs in.
#include "app/conversation_models.h"
#include "archive/archive_writer.h"
#include "chat/history_loader.h"
#include "chat/message_text.h"
#include "chat/sample_history.h"
#include "test_data.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace velmoran;
using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(velmoran::ChatHistoryPtr)

class TestMessageText : public QObject {
    Q_OBJECT
private slots:
    void copyLines_data();
    void copyLines();
};

void TestMessageText::copyLines_data()
{
    QTest::addColumn<ChatHistoryPtr>("history");
    QTest::newRow("sample") << sampleHistory();
    QTemporaryDir dir;
    for (const char* fixture : {"export_small.json", "export_varied.json"}) {
        const QString path = dir.filePath(QLatin1String(fixture));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(test::readFixture(fixture));
        file.close();
        QTest::newRow(fixture) << std::make_shared<const ChatHistory>(readHistoryFile(path));
    }
}

void TestMessageText::copyLines()
{
    QFETCH(ChatHistoryPtr, history);
    QTemporaryDir archive;
    QVERIFY(writeArchive(*history, archive.path(), {}));
    MessageListModel model;
    for (size_t chat = 0; chat < history->chats.size(); ++chat) {
        model.setChat(history, int(chat));
        QString copied;
        for (int i = 0; i < model.messageCount(); ++i) {
            const QString line = model.copyLine(i);
            QCOMPARE(messageCopyLine(*history, history->chats[chat].messages[size_t(i)]), line);
            copied += line + u'\n';
        }
        QFile text(archive.path()
                   + u"/c%1/conversation.txt"_s.arg(qulonglong(chat + 1), 4, 10, QLatin1Char('0')));
        QVERIFY(text.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(text.readAll()), copied);
    }
}

QTEST_MAIN(TestMessageText)
#include "test_message_text.moc"
