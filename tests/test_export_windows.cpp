// The export is read a window at a time, each window cut after some string and taken up again
// after the last whole message or conversation. Wherever the cuts fall, the history (and any
// failure) must be the one a read of the whole document gives.
#include "chat/export_reader.h"
#include "chat/export_windows.h"
#include "chat/message_sieve.h"
#include "core/failure.h"
#include "export_builder.h"
#include "history_builder.h"
#include "history_files.h"
#include "history_generator.h"
#include "test_data.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <numeric>

using namespace velmoran;
using velmoran::test::dump;
using velmoran::test::failureOf;
using velmoran::test::readFixture;
using velmoran::test::str;

namespace {

// The document read as one, without windows.
QStringList readAtOnce(const QByteArray& json)
{
    return dump(parseExportJsonInWindows(json, QStringLiteral("messages.json"), 0));
}

QStringList readInWindows(const QByteArray& json, size_t window)
{
    return dump(parseExportJsonInWindows(json, QStringLiteral("messages.json"), window));
}

QByteArray message(int n, const QByteArray& content, const QByteArray& more = {})
{
    return "{\"id\":\"" + QByteArray::number(n) + "\",\"originalarrivaltime\":\"2021-03-04T05:"
           + QByteArray::number(10 + n % 50) + ":00.000Z\",\"from\":\"8:s"
           + QByteArray::number(n % 3) + "\",\"displayName\":\"Sender " + QByteArray::number(n % 3)
           + "\",\"messagetype\":\"RichText\",\"content\":\"" + content + "\"" + more + "}";
}

// Texts that look like the places a window is cut or taken up again, inside strings.
const QByteArray trickyBodies[] = {
    R"(},{\"id\":\"8:fake\",\"MessageList\":[)",
    R"(ends in a backslash \\)",
    R"(a quote \" in the middle and \\\" after a backslash)",
    R"(\\\\\" \"\" \\)",
    R"(]}]} 0} null, {)",
    R"(\u00e9\u20ac\ud83d\ude00 and a lone \ud800 surrogate)",
    R"(Καλημέρα 明天见 😀 \n\t line)",
    "",
};

// Conversations whose messages hold those texts, with fields in unusual places: after the
// message list, twice, a list given twice, members as a list, messages that are left out.
QByteArray trickyExport()
{
    QByteArray conversations;
    for (int c = 0; c < 12; ++c) {
        QByteArray messages;
        for (int m = 0; m < 9; ++m) {
            const int n = c * 10 + m;
            if (!messages.isEmpty())
                messages += m % 2 ? ",\n  " : ",";
            if (n % 11 == 5)
                messages += "{\"id\":\"gone" + QByteArray::number(n)
                            + "\",\"originalarrivaltime\":\"not a time\",\"content\":\"x\"}";
            else
                messages +=
                    message(n, trickyBodies[n % std::size(trickyBodies)],
                            n % 4 ? QByteArray() : ",\"properties\":{\"a\":[1,{\"b\":\"}\"}]}");
        }
        QByteArray conversation =
            QByteArray("{\"id\":\"") + (c % 3 ? "8:c" : "19:g") + QByteArray::number(c)
            + "@x\",\"displayName\":" + QByteArray(c % 2 ? "null" : "\"Name \\\"q\\\"\"")
            + ",\"MessageList\":[" + messages + "]";
        if (c % 3 == 0)
            conversation += ",\"threadProperties\":{\"topic\":\"T" + QByteArray::number(c)
                            + "\",\"members\":[\"8:c1@x\",\"8:z\"]}";
        if (c == 4)
            conversation += ",\"MessageList\":[" + message(400, "second list") + "]";
        if (c == 6)
            conversation += ",\"displayName\":\"Renamed later\"";
        conversation += "}";
        if (!conversations.isEmpty())
            conversations += c % 2 ? " , " : ",";
        conversations += conversation;
    }
    // An empty conversation, and fields around the list of conversations.
    conversations += ",{\"id\":\"8:empty\",\"MessageList\":[]}";
    return "\xef\xbb\xbf{\"userId\":\"8:me\",\"exportDate\":\"x\\\"y\",\"conversations\":["
           + conversations + "],\"after\":{\"list\":[\"]\",\"}\"]}}\n";
}

// The last is larger than any document here: one window.
const size_t windowSizes[] = {1, 2, 3, 5, 8, 13, 31, 64, 100, 257, 700, 1500, 4096, 1 << 20};

// Keeps the messages whose body, sender name and time pass a test of their own content, so a
// message read twice (taken back with a window) gets the same answer both times. Early, it
// decides from the body's bytes, before the body is made.
class ContentSieve final : public MessageSieve {
public:
    ContentSieve(int modulus, bool early)
        : m_modulus(modulus)
        , m_early(early)
    {
    }
    bool keeps(const HistoryMessage& message) override
    {
        ++asked;
        return keepsText(message.body + message.senderDisplayName, message.timestampMs);
    }
    bool mayKeep(const HistoryMessage& message, std::string_view bodyUtf8) override
    {
        if (!m_early)
            return true;
        const QString body = QString::fromUtf8(bodyUtf8.data(), qsizetype(bodyUtf8.size()));
        return keepsText(body + message.senderDisplayName, message.timestampMs);
    }
    bool keepsText(const QString& text, qint64 ms) const
    {
        return m_modulus > 0 && (qHash(text) + size_t(ms)) % size_t(m_modulus) == 0;
    }
    int asked = 0;

private:
    int m_modulus;
    bool m_early;
};

// The whole read's lines without the messages the sieve turns down.
QStringList withoutTurnedDown(const ChatHistory& history, const ContentSieve& sieve)
{
    ChatHistory kept = history;
    for (HistoryChat& chat : kept.chats)
        std::erase_if(chat.messages, [&](const HistoryMessage& m) {
            return !sieve.keepsText(m.body + m.senderDisplayName, m.timestampMs);
        });
    return dump(kept);
}

// Chats named after messages that a sieve will turn down: a one-to-one chat without a name
// and a group without a topic or name, whose partners' names only their messages give; the
// latest named message counts, in file order, and one without a name or named with the id
// does not.
QByteArray namedByMessagesExport()
{
    auto m = [](const char* time, const char* from, const char* name, const char* body) {
        return test::JsonMessage{.id = {},
                                 .time = str(time),
                                 .displayName = name ? str(name) : "null",
                                 .from = str(from),
                                 .content = str(body)};
    };
    return test::exportText(
        {{str("8:ann"),
          {m("2021-01-02T00:00:00Z", "8:ann", "Ann Old", "keep me"),
           m("2021-01-01T00:00:00Z", "8:ann", "Ann New", "drop"),
           m("2021-01-03T00:00:00Z", "8:ann", nullptr, "drop"),
           m("2021-01-04T00:00:00Z", "8:ann", "ann", "drop"),
           m("2021-01-05T00:00:00Z", "8:me", "Me", "keep me")},
          "null"},
         {str("19:g@thread.skype"),
          {m("2021-01-01T00:00:00Z", "8:cy", "Cy", "drop"),
           m("2021-01-02T00:00:00Z", "8:bo", "Bo", "keep me"),
           m("2021-01-03T00:00:00Z", "8:bo", "Bo Later", "drop")},
          {},
          "\"threadProperties\":{\"members\":\"[\\\"8:bo\\\",\\\"8:cy\\\",\\\"8:di\\\"]\"}"}},
        {});
}

} // namespace

class ExportWindowsTest : public QObject {
    Q_OBJECT

private slots:
    // A window may end only right after a string's closing quote; an escaped quote, or one
    // after an escaped backslash, never counts as one.
    void cutsFallAfterClosingQuotesOnly()
    {
        const struct {
            std::string_view json;
            size_t limit;
            size_t cut;
        } cases[] = {
            {"{'a':'x\\'y'}", 12, 11}, // after 'x\'y'
            {"{'a':'x\\'y'}", 10, 4},  // not after the escaped quote: after 'a'
            {"{'a':'x\\\\'}", 11, 4},  // a quote after an escaped backslash is left alone
            {"{'a':[1,2]}", 11, 4},    // numbers and brackets end nothing
            {"{'a", 3, 0},             // no string closes before the limit
        };
        for (const auto& c : cases) {
            // Written with ' for " to stay readable.
            std::string json(c.json);
            std::replace(json.begin(), json.end(), '\'', '"');
            QCOMPARE(ExportWindows::cutAfterString(json, 0, c.limit), c.cut);
        }
    }

    void everyCutGivesTheSameHistory_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("small fixture") << readFixture("export_small.json");
        QTest::newRow("varied fixture, indented") << readFixture("export_varied.json");
        QTest::newRow("strings that look like structure") << trickyExport();
        velmoran::generator::Options options;
        options.messages = 400;
        options.seed = 7;
        const std::string generated = velmoran::generator::exportJson(options);
        QTest::newRow("generated") << QByteArray::fromStdString(generated);
    }

    void everyCutGivesTheSameHistory()
    {
        QFETCH(QByteArray, json);
        const QStringList whole = readAtOnce(json);
        QVERIFY(whole.size() > 3);
        for (size_t window : windowSizes) {
            const QStringList read = readInWindows(json, window);
            if (read != whole) {
                for (qsizetype i = 0; i < std::min(read.size(), whole.size()); ++i)
                    QCOMPARE(read[i], whole[i]);
                QCOMPARE(read.size(), whole.size());
            }
        }
    }

    // The same document with its cuts moved along byte by byte: windows of every size up to a
    // message and a half start and end everywhere in the tricky export.
    void windowsOfEverySizeGiveTheSameHistory()
    {
        const QByteArray json = trickyExport();
        const QStringList whole = readAtOnce(json);
        for (size_t window = 1; window <= 400; ++window)
            QVERIFY2(readInWindows(json, window) == whole, qPrintable(QString::number(window)));
    }

    void flawsAreToldAsInOneRead_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("reason");
        const QString notJson = QStringLiteral("is not valid JSON");
        const QByteArray good = trickyExport();
        const qsizetype list = good.indexOf("\"conversations\"");
        const qsizetype lastList = good.lastIndexOf("\"MessageList\":[{");
        const qsizetype secondMessage = good.indexOf("{\"id\":\"", lastList + 20);
        // A download cut short, wherever it stops: never told as text after the document.
        QTest::newRow("cut in the middle") << good.left(good.size() / 2) << notJson;
        QTest::newRow("cut in the last conversation") << good.left(good.size() - 40) << notJson;
        QTest::newRow("cut after a message")
            << good.left(good.lastIndexOf("}", secondMessage) + 1) << notJson;
        QTest::newRow("cut after a message's last string")
            << good.left(good.lastIndexOf("\"", secondMessage - 2) + 1) << notJson;
        QTest::newRow("text after the document")
            << good + "and more" << QStringLiteral("unexpected text after the JSON document");
        QTest::newRow("second document")
            << good + "{\"conversations\":[]}"
            << QStringLiteral("unexpected text after the JSON document at byte %1")
                   .arg(good.size() + 1);
        QByteArray typeError = good;
        typeError.replace(good.indexOf("\"content\"", good.size() / 2), 11,
                          "\"content\":7,\"x\":\"");
        QTest::newRow("content a number late")
            << typeError << QStringLiteral("\"content\" is not a text");
        QByteArray badComma = good;
        badComma.insert(good.lastIndexOf("},{"), ",");
        QTest::newRow("two commas between messages") << badComma << notJson;
        QByteArray noList = good;
        noList.replace(list, 15, "\"conversation\" ");
        QTest::newRow("no conversations") << noList << QStringLiteral("no \"conversations\" list");
        // Read again at once after windows that took up a message list: the placeholders
        // of the last window must not count then (found by the fuzzer).
        QTest::newRow("a flaw after a message list was taken up") << QByteArray(
            R"({"conversations":[{"id":"8:a","MessageList":[{"id":"1","originalarrivaltime":"2021-01-01T00:00:00Z","messagetype":"Text","displayName":"A \ud83d","content":"hello \ud83d"},{"id":"2","originalarrivaltime":"2021-01-01T00:00Z","messagetype":"Text","displayName":2A \ud83d","co"id":"8:a","MessageList":[{"id":"1","originalarrivaltime":"2021-01-01T00:00:00Z","messagetype":"Teud83d\ude00 \q \u12"}]}]})")
                                                                  << QStringLiteral(
                                                                         "conversation 1, message "
                                                                         "2: \"displayName\" is "
                                                                         "not a text");
        QByteArray unescaped = good;
        unescaped.insert(good.size() * 2 / 3, '\x01');
        QTest::newRow("control byte") << unescaped << notJson;
    }

    void flawsAreToldAsInOneRead()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, reason);
        const QString whole = failureOf([&] { readAtOnce(json); });
        QVERIFY2(whole.contains(QStringLiteral("cannot be read: ")) && whole.contains(reason),
                 qPrintable(whole));
        for (size_t window : windowSizes)
            QCOMPARE(failureOf([&] { readInWindows(json, window); }), whole);
        QCOMPARE(failureOf([&] { parseExportJson(json, QStringLiteral("messages.json")); }), whole);
    }

    // Bytes that are no UTF-8 become U+FFFD wherever the windows fall.
    void badBytesAreRepairedWhereverTheWindowsFall()
    {
        QByteArray json = trickyExport();
        json.replace("Sender 1", "Sender \xff\xfe");
        json.replace("line", "l\xc3ne");
        const QStringList whole = readAtOnce(json);
        QVERIFY(whole.join(QLatin1Char('\n')).contains(QStringLiteral("Sender \ufffd\ufffd")));
        QVERIFY2(!whole[1].endsWith(QStringLiteral("not UTF-8: 0")), qPrintable(whole[1]));
        for (size_t window : windowSizes)
            QCOMPARE(readInWindows(json, window), whole);
    }

    // A read with a sieve gives the history of the whole read without the messages turned
    // down: the same contacts, chats, names (also where only turned-down messages name a chat)
    // and left-out counts, the kept messages in the same order, wherever windows fall.
    void aSievedReadLeavesOutJustTheMessagesTurnedDown_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("named by messages") << namedByMessagesExport();
        QTest::newRow("varied fixture") << readFixture("export_varied.json");
        QTest::newRow("strings that look like structure") << trickyExport();
        velmoran::generator::Options options;
        options.messages = 600;
        options.seed = 11;
        QTest::newRow("generated")
            << QByteArray::fromStdString(velmoran::generator::exportJson(options));
    }
    void aSievedReadLeavesOutJustTheMessagesTurnedDown()
    {
        QFETCH(QByteArray, json);
        const ChatHistory whole = parseExportJsonInWindows(json, QStringLiteral("m.json"), 0);
        for (const auto& [modulus, early] :
             {std::pair{0, false}, std::pair{2, false}, std::pair{3, false}, std::pair{2, true},
              std::pair{3, true}}) {
            ContentSieve sieve(modulus, early);
            const QStringList expected = withoutTurnedDown(whole, sieve);
            // Every message is asked about, and the sieve decides, with or without the body
            // made.
            QCOMPARE(dump(parseExportJsonInWindows(json, QStringLiteral("m.json"), 0, &sieve)),
                     expected);
            // keeps() is asked about every message, or early only about those it keeps.
            int keptCount = 0;
            for (const HistoryChat& chat : whole.chats)
                for (const HistoryMessage& m : chat.messages)
                    keptCount += sieve.keepsText(m.body + m.senderDisplayName, m.timestampMs);
            QCOMPARE(sieve.asked, early ? keptCount : int(whole.messageCount()));
            for (size_t window : windowSizes) {
                const QStringList read =
                    dump(parseExportJsonInWindows(json, QStringLiteral("m.json"), window, &sieve));
                QVERIFY2(
                    read == expected,
                    qPrintable(QStringLiteral("window %1, modulus %2").arg(window).arg(modulus)));
            }
        }
    }

    void chatsAreNamedAfterMessagesTheSieveTurnsDown()
    {
        class KeepMarked final : public MessageSieve {
            bool keeps(const HistoryMessage& message) override
            {
                return message.body == u"keep me";
            }
        } sieve;
        const ChatHistory history =
            parseExportJsonInWindows(namedByMessagesExport(), QStringLiteral("m.json"), 0, &sieve);
        QCOMPARE(history.chats.size(), size_t(2));
        QCOMPARE(history.chats[0].name, QStringLiteral("Ann New"));
        QCOMPARE(history.chats[0].messages.size(), size_t(2));
        QCOMPARE(history.chats[1].name, QStringLiteral("Bo Later, Cy, di"));
        QCOMPARE(history.chats[1].messages.size(), size_t(1));
        QCOMPARE(history.chats[1].messages[0].senderDisplayName, QStringLiteral("Bo"));
    }

    // A chat far larger than a window (one of 140,000 messages, far from time order, with
    // many at the same time) is read a few messages at a time, from a file mapped in place,
    // and comes out whole, in time order, ties in the order of the file.
    void aChatLargerThanManyWindowsIsReadWhole()
    {
        const int count = 140000;
        QByteArray messages;
        for (int n = 0; n < count; ++n) {
            if (n)
                messages += ',';
            messages += message(n, "body " + QByteArray::number(n) + QByteArray(n % 7, 'x'));
        }
        const QByteArray json = "{\"conversations\":[{\"id\":\"8:big\",\"MessageList\":[" + messages
                                + "]},{\"id\":\"8:after\",\"MessageList\":[]}]}";
        QVERIFY(json.size() > 3 * (1 << 20));
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("messages.json"));
        QVERIFY(test::writeBytes(file, json));
        std::vector<double> told;
        const ChatHistory history =
            readExportJson(file, [&](double done) { told.push_back(done); });
        QCOMPARE(dump(history), readAtOnce(json));
        std::vector<int> order(count);
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [](int a, int b) { return a % 50 < b % 50; });
        const std::vector<HistoryMessage>& read = history.chats.at(0).messages;
        QCOMPARE(read.size(), size_t(count));
        for (int i = 0; i < count; ++i) {
            const int n = order[size_t(i)];
            const QString wanted = QStringLiteral("body %1").arg(n) + QString(n % 7, u'x');
            if (read[size_t(i)].body != wanted)
                QFAIL(qPrintable(QStringLiteral("message %1 is \"%2\", not \"%3\"")
                                     .arg(i)
                                     .arg(read[size_t(i)].body, wanted)));
        }
        QCOMPARE(history.contacts, (QStringList{QStringLiteral("big"), QStringLiteral("after")}));
        QVERIFY(told.size() > 10);
        QVERIFY(std::is_sorted(told.begin(), told.end()));
        QCOMPARE(told.back(), 1.0);
    }
};

QTEST_GUILESS_MAIN(ExportWindowsTest)
#include "test_export_windows.moc"
