// Find in a conversation without a window: the matches of a text in a chat's messages and
// senders, counted in pieces between which events run, and the steps between them.
#include "app/conversation_find.h"
#include "app/conversation_models.h"
#include "core/event_pump.h"

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

using namespace velmoran;
using namespace Qt::StringLiterals;

namespace {

// A history of one chat; each message is "sender: body".
ChatHistoryPtr chatOf(const QStringList& messages)
{
    auto history = std::make_shared<ChatHistory>();
    HistoryChat chat{QStringLiteral("live:find"), {}};
    qint64 t = 1'600'000'000'000;
    for (const QString& message : messages)
        chat.messages.push_back({t += 60'000, message.section(QStringLiteral(": "), 0, 0),
                                 message.section(QStringLiteral(": "), 1)});
    history->chats.push_back(std::move(chat));
    return history;
}

// A long chat: every 97th message (from the 13th) holds "Needle", every 1013th "Thimble".
ChatHistoryPtr longChat(int count)
{
    QStringList messages;
    for (int i = 0; i < count; ++i) {
        QString body = QStringLiteral("Bo: message %1").arg(i);
        if (i % 97 == 13)
            body += QStringLiteral(" with a Needle in it");
        if (i % 1'013 == 5)
            body += QStringLiteral(" and a Thimble");
        messages << body;
    }
    return chatOf(messages);
}

std::vector<qint32> expectedMatches(const HistoryChat& chat, const QString& text)
{
    std::vector<qint32> found;
    for (size_t i = 0; i < chat.messages.size(); ++i) {
        if (chat.messages[i].body.contains(text, Qt::CaseInsensitive)
            || chat.messages[i].senderDisplayName.contains(text, Qt::CaseInsensitive))
            found.push_back(qint32(i));
    }
    return found;
}

} // namespace

class TestConversationFind : public QObject {
    Q_OBJECT
private slots:
    void findsAndSteps_data()
    {
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("matchCase");
        QTest::addColumn<int>("from");
        QTest::addColumn<QList<int>>("matches");
        QTest::addColumn<int>("atOrAfter");
        QTest::addColumn<int>("next");
        QTest::addColumn<int>("previous");
        QTest::addColumn<QString>("count");
        const QStringList lunch = {u"Ann: Lunch?"_s, u"Bo: no"_s, u"Ann: lunch now"_s,
                                   u"Bo: LUNCH"_s, u"Ann: later"_s};
        QTest::newRow("any case, from between")
            << lunch << "lunch" << false << 1 << QList<int>{0, 2, 3} << 2 << 2 << 0 << "0 of 3";
        QTest::newRow("from a match")
            << lunch << "lunch" << false << 2 << QList<int>{0, 2, 3} << 2 << 3 << 0 << "2 of 3";
        QTest::newRow("case counts")
            << lunch << "LUNCH" << true << 3 << QList<int>{3} << 3 << 3 << 3 << "1 of 1";
        QTest::newRow("after the last: next wraps, nothing at or after")
            << lunch << "lunch" << false << 4 << QList<int>{0, 2, 3} << -1 << 0 << 3 << "0 of 3";
        QTest::newRow("before the first: previous wraps")
            << QStringList{u"Ann: a"_s, u"Bo: b"_s, u"Ann: c"_s} << "c" << false << 0
            << QList<int>{2} << 2 << 2 << 2 << "0 of 1";
        QTest::newRow("by sender")
            << QStringList{u"Ольга: hi"_s, u"Bo: hi"_s, u"Ольга: ok"_s} << "ольга" << false << 1
            << QList<int>{0, 2} << 2 << 2 << 0 << "0 of 2";
        QTest::newRow("nothing matches")
            << lunch << "pizza" << false << 1 << QList<int>{} << -1 << -1 << -1 << "No matches";
        QTest::newRow("no text") << lunch << "" << false << 1 << QList<int>{} << -1 << -1 << -1
                                 << "";
    }
    void findsAndSteps()
    {
        QFETCH(QStringList, messages);
        QFETCH(QString, text);
        QFETCH(bool, matchCase);
        QFETCH(int, from);
        QFETCH(QList<int>, matches);
        QFETCH(int, atOrAfter);
        QFETCH(int, next);
        QFETCH(int, previous);
        QFETCH(QString, count);
        MessageListModel model;
        model.setChat(chatOf(messages), 0);
        EventPump pump;
        ConversationFind find(model, pump);
        find.start(text, matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive);
        QVERIFY(find.isCounted());
        QCOMPARE(QList<int>(find.matches().begin(), find.matches().end()), matches);
        QCOMPARE(find.firstAtOrAfter(from), atOrAfter);
        find.setCurrentMessage(from);
        QCOMPARE(find.countText(), count);
        QCOMPARE(find.nextAfter(from), next);
        QCOMPARE(find.previousBefore(from), previous);
    }

    // A long chat is counted in pieces after start() returns, events running between them;
    // what happens meanwhile still comes out right.
    void longChatIsCountedInPieces_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::newRow("nothing") << "";
        QTest::newRow("new text") << "restart";
        QTest::newRow("a step") << "step";
    }
    void longChatIsCountedInPieces()
    {
        QFETCH(QString, meanwhile);
        const ChatHistoryPtr history = longChat(60'000);
        const HistoryChat& chat = history->chats[0];
        MessageListModel model;
        model.setChat(history, 0);
        EventPump pump;
        pump.setMinimumInterval(0);
        ConversationFind find(model, pump);
        int pieces = 0;
        int firstKnownAt = -1; // pieces counted when the first match after 50,000 was known
        QString text = QStringLiteral("Needle");
        int stepped = -2;
        connect(&find, &ConversationFind::progressed, [&] {
            ++pieces;
            if (firstKnownAt < 0 && find.firstAtOrAfter(50'000) >= 0)
                firstKnownAt = pieces;
        });
        find.start(text, Qt::CaseInsensitive);
        QVERIFY(!find.isCounted());
        QVERIFY(find.matches().size() < expectedMatches(chat, text).size());
        QCOMPARE(find.countText(), QStringLiteral("Counting\u2026"));
        // The nearest match at or after a message is known once the count has passed it.
        QCOMPARE(find.firstAtOrAfter(50'000), -1);
        if (meanwhile == u"restart") {
            QTimer::singleShot(0, &find, [&] {
                text = QStringLiteral("Thimble");
                find.start(text, Qt::CaseInsensitive);
            });
        } else if (meanwhile == u"step") {
            QTimer::singleShot(0, &find, [&] { stepped = find.nextAfter(59'999); });
        }
        QTRY_VERIFY(find.isCounted());
        QVERIFY(pieces > 3);
        const std::vector<qint32> expected = expectedMatches(chat, text);
        QCOMPARE(find.matches(), expected);
        if (meanwhile == u"step")
            QCOMPARE(stepped, expected.front());
        const auto after = std::lower_bound(expected.begin(), expected.end(), 50'000);
        QCOMPARE(find.firstAtOrAfter(50'000), *after);
        QVERIFY(firstKnownAt > 0);
        find.setCurrentMessage(*after);
        QCOMPARE(find.countText(),
                 QStringLiteral("%1 of %2").arg(after - expected.begin() + 1).arg(expected.size()));
    }
};

QTEST_GUILESS_MAIN(TestConversationFind)
#include "test_conversation_find.moc"
