#include "chat/chat_service.h"
#include "chat/sample_history.h"
#include "core/failure.h"

#include <QSet>
#include <QTest>

using namespace velmoran;

class ChatServiceTest : public QObject {
    Q_OBJECT

private slots:
    void sampleHistoryHasWhatTheProgramMustCopeWith()
    {
        const ChatHistoryPtr history = sampleHistory();
        QVERIFY(history->contacts.size() >= 5 && history->contacts.size() <= 8);
        QVERIFY(history->messageCount() >= 180 && history->messageCount() <= 220);

        QSet<QString> chatPeers;
        bool groupChat = false, emptyName = false, emptyBody = false, nonLatin = false;
        qint64 first = std::numeric_limits<qint64>::max(), last = 0;
        for (const HistoryChat& chat : history->chats) {
            if (chat.peerHandle.isEmpty())
                groupChat = true;
            chatPeers << chat.peerHandle;
            for (const HistoryMessage& m : chat.messages) {
                emptyName |= m.senderDisplayName.isEmpty();
                emptyBody |= m.body.isEmpty();
                for (QChar c : m.body)
                    nonLatin |= c.unicode() > 0x24F;
                first = std::min(first, m.timestampMs);
                last = std::max(last, m.timestampMs);
            }
        }
        QVERIFY(groupChat);
        QVERIFY(emptyName);
        QVERIFY(emptyBody);
        QVERIFY(nonLatin);
        QVERIFY(last - first > qint64(3) * 365 * 24 * 3600 * 1000);
        int withoutChat = 0;
        for (const QString& contact : history->contacts)
            withoutChat += chatPeers.contains(contact) ? 0 : 1;
        QCOMPARE(withoutChat, 1);
    }

    void serviceCountsFromOne()
    {
        HistoryChatService service(sampleHistory());
        QVERIFY(service.isClientRunning());
        QCOMPARE(service.enumerateContacts().first(), QStringLiteral("anna.kowalska"));
        QVERIFY(service.chatCount() > 0);
        QCOMPARE(service.peerHandle(1), QStringLiteral("anna.kowalska"));
        QVERIFY(service.messageCount(1) > 0);
        QCOMPARE(service.messageAt(1, 1).body, sampleHistory()->chats[0].messages[0].body);
        QVERIFY_THROWS_EXCEPTION(Failure, service.peerHandle(0));
        QVERIFY_THROWS_EXCEPTION(Failure, service.peerHandle(service.chatCount() + 1));
        QVERIFY_THROWS_EXCEPTION(Failure, service.messageAt(1, service.messageCount(1) + 1));
    }

    void noHistoryIsAClientThatIsNotRunning()
    {
        HistoryChatServiceFactory factory([] { return ChatHistoryPtr(); });
        auto service = factory.create();
        QVERIFY(!service->isClientRunning());
        QVERIFY_THROWS_EXCEPTION(Failure, service->chatCount());
    }

    void eachCommandSeesTheHistoryOfItsTime()
    {
        ChatHistoryPtr current;
        HistoryChatServiceFactory factory([&] { return current; });
        auto before = factory.create();
        current = sampleHistory();
        auto after = factory.create();
        QVERIFY(!before->isClientRunning());
        QVERIFY(after->isClientRunning());
    }
};

QTEST_MAIN(ChatServiceTest)
#include "test_chat_service.moc"
