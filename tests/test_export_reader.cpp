#include "chat/body_markup.h"
#include "chat/export_reader.h"
#include "chat/mapped_file.h"
#include "chat/person_names.h"
#include "core/failure.h"
#include "export_builder.h"
#include "history_builder.h"
#include "history_files.h"
#include "test_data.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmoran;
using namespace Qt::Literals::StringLiterals;
using velmoran::test::failureOf;
using velmoran::test::readFixture;

namespace {

// A small export covering every kind of conversation and message the reader must map.
const QByteArray exportJson = readFixture("export_small.json");

QString plain(const QByteArray& markup)
{
    std::string out;
    appendPlainText(std::string_view(markup.constData(), size_t(markup.size())), out);
    return QString::fromStdString(out);
}

using test::conversationText;
using test::exportText;
using test::jsonText;
using test::str;

// An export of the given conversations, JSON objects written by hand and comma-separated.
QByteArray exportOf(const QByteArray& conversations)
{
    return "{\"userId\":\"8:me\",\"conversations\":[" + conversations + "]}";
}

// A text message "x" at a time (JSON text), with more members after the others when given
// ("\"from\":\"8:a\""); as JSON text for exports written by hand.
test::JsonMessage textAt(const QByteArray& time, const QByteArray& more = {})
{
    return {.id = str("m1"), .time = time, .content = str("x"), .more = more};
}
QByteArray messageAt(const QByteArray& time, const QByteArray& more = {})
{
    return jsonText(textAt(time, more));
}

// A text message "x" at a time, from a sender under a display name (JSON text: quoted, or null).
test::JsonMessage said(const char* time, const char* sender, const QByteArray& name)
{
    return textAt(str(time), R"("from":")" + QByteArray(sender) + R"(","displayName":)" + name);
}

const ChatHistory& parsed(const QByteArray& json, ChatHistory& history)
{
    history = parseExportJson(json, QStringLiteral("messages.json"));
    return history;
}

} // namespace

class ExportReaderTest : public QObject {
    Q_OBJECT

private slots:
    void mapsConversationsContactsAndMessages()
    {
        const ChatHistory history = parseExportJson(exportJson, QStringLiteral("messages.json"));
        QCOMPARE(history.contacts, QStringList({QStringLiteral("anna.k"), QStringLiteral("bob")}));
        QCOMPARE(history.chats.size(), size_t(5));
        QCOMPARE(history.chats[0].peerHandle, QStringLiteral("anna.k"));
        QCOMPARE(history.chats[1].peerHandle, QString());
        QCOMPARE(history.chats[2].peerHandle, QString());
        QCOMPARE(history.chats[3].peerHandle, QStringLiteral("bob"));
        QCOMPARE(history.chats[3].messages.size(), size_t(0));

        const auto& anna = history.chats[0].messages;
        QCOMPARE(anna.size(), size_t(4));
        // Arrival order, the two messages of the same millisecond in file order.
        QCOMPARE(anna[0].senderDisplayName, QStringLiteral("me.myself"));
        QCOMPARE(anna[0].body, QStringLiteral("first \u00e9 \U0001F600"));
        QCOMPARE(anna[0].timestampMs, test::Utc("2021-03-04T05:06:07Z").ms);
        QCOMPARE(anna[1].senderDisplayName, QStringLiteral("anna.k"));
        QCOMPARE(anna[1].body, QStringLiteral("To view this shared photo, go to: u"));
        QCOMPARE(anna[1].timestampMs, anna[0].timestampMs);
        QCOMPARE(anna[2].senderDisplayName, QStringLiteral("Anna K"));
        QCOMPARE(anna[2].body, QStringLiteral("Bold & link <3"));
        QCOMPARE(anna[2].timestampMs, anna[0].timestampMs + 2500);
        // A call is no text message: its body is empty, its sender and time are kept.
        QCOMPARE(anna[3].body, QString());
        QCOMPARE(anna[3].senderDisplayName, QStringLiteral("Anna K"));
        QCOMPARE(anna[3].timestampMs, anna[0].timestampMs + 3120);

        QCOMPARE(history.chats[1].messages[0].body, QString());
        QCOMPARE(history.chats[1].messages[1].body, QStringLiteral("hello team"));
        QCOMPARE(history.chats[2].messages[0].senderDisplayName, QStringLiteral("28:concierge"));
    }

    void missingOrNullContentIsAnEmptyBody()
    {
        const test::JsonMessage noContent{
            .id = {}, .time = str("2021-03-04T05:06:07Z"), .from = str("8:a")};
        const test::JsonMessage nullContent{.id = {},
                                            .time = str("2021-03-04T05:06:08Z"),
                                            .type = str("RichText"),
                                            .content = "null"};
        const ChatHistory history = parseExportJson(
            exportText({{str("8:a"), {noContent, nullContent}}}, {}), u"messages.json"_s);
        QCOMPARE(history.chats[0].messages.size(), size_t(2));
        QCOMPARE(history.chats[0].messages[0].body, QString());
        QCOMPARE(history.chats[0].messages[1].body, QString());
        // No name and no sender id: the sender is empty rather than made up.
        QCOMPARE(history.chats[0].messages[1].senderDisplayName, QString());
    }

    void conversationsKeepIdKindNameAndMembers_data()
    {
        QTest::addColumn<QByteArray>("conversation");
        QTest::addColumn<QString>("id");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("members");
        const QString group = QStringLiteral("19:abc@thread.skype");
        const QStringList two = {QStringLiteral("8:live:anna"), QStringLiteral("8:bob")};
        const QByteArray annaAndBob = "[\\\"8:live:anna\\\",\\\"8:bob\\\"]";
        const QByteArray anna = str("8:live:anna"), groupId = str(group.toUtf8());
        const QByteArray listed = "\"threadProperties\":{\"members\":\"" + annaAndBob + "\"}";
        // A message that names anna, so a group without a topic can be named after its members.
        const test::JsonMessage annaSpeaks =
            said("2021-01-01T00:00:00Z", "8:live:anna", "\"Anna K\"");
        // A group without messages, with the given thread properties (JSON text) and name.
        auto groupWith = [&](const QByteArray& properties, const QByteArray& name = {}) {
            return conversationText({groupId, {}, name, R"("threadProperties":)" + properties});
        };
        QTest::newRow("one-to-one, named")
            << conversationText({anna, {}, str("Anna K")}) << QStringLiteral("8:live:anna")
            << int(ConversationKind::OneToOne) << QStringLiteral("Anna K") << QStringList();
        QTest::newRow("one-to-one, unnamed")
            << QByteArray("{\"displayName\":null,\"MessageList\":[],\"id\":\"8:live:anna\"}")
            << QStringLiteral("8:live:anna") << int(ConversationKind::OneToOne)
            << QStringLiteral("live:anna") << QStringList();
        // Unnamed, but the partner's messages say who they are: the latest name they used.
        QTest::newRow("one-to-one, named by the partner's messages")
            << conversationText(
                   {anna,
                    {annaSpeaks, said("2021-01-02T00:00:00Z", "8:live:anna", "\"Anna Kowalska\""),
                     said("2021-01-03T00:00:00Z", "8:live:anna", "null"),
                     said("2021-01-04T00:00:00Z", "8:me", "\"Me\"")},
                    "null"})
            << QStringLiteral("8:live:anna") << int(ConversationKind::OneToOne)
            << QStringLiteral("Anna Kowalska") << QStringList();
        QTest::newRow("one-to-one, only my own messages")
            << conversationText({anna, {said("2021-01-04T00:00:00Z", "8:me", "\"Me\"")}})
            << QStringLiteral("8:live:anna") << int(ConversationKind::OneToOne)
            << QStringLiteral("live:anna") << QStringList();
        QTest::newRow("group with topic")
            << groupWith("{\"topic\":\"Trip\",\"members\":\"" + annaAndBob + "\"}", str("Old"))
            << group << int(ConversationKind::Group) << QStringLiteral("Trip") << two;
        QTest::newRow("group, topic after the messages")
            << QByteArray("{\"id\":\"19:abc@thread.skype\",\"MessageList\":[" + jsonText(annaSpeaks)
                          + "],\"threadProperties\":{\"members\":\"" + annaAndBob
                          + "\",\"topic\":\"Trip\"}}")
            << group << int(ConversationKind::Group) << QStringLiteral("Trip") << two;
        QTest::newRow("group without topic")
            << groupWith(R"({"topic":null})", str("Team")) << group << int(ConversationKind::Group)
            << QStringLiteral("Team") << QStringList();
        QTest::newRow("group named by its members")
            << conversationText({groupId, {annaSpeaks}, {}, listed}) << group
            << int(ConversationKind::Group) << QStringLiteral("Anna K, bob") << two;
        QTest::newRow("group without anything")
            << groupWith("null") << group << int(ConversationKind::Group) << group << QStringList();
        QTest::newRow("members a real list")
            << groupWith(R"({"members":["8:live:anna",{"id":"8:bob","role":"User"},7]})") << group
            << int(ConversationKind::Group) << QStringLiteral("live:anna, bob") << two;
        QTest::newRow("members garbage")
            << groupWith("{\"members\":\"[\\\"8:a\\\", oops\"}") << group
            << int(ConversationKind::Group) << group << QStringList();
        QTest::newRow("members a number") << groupWith(R"({"members":5,"topic":7})") << group
                                          << int(ConversationKind::Group) << group << QStringList();
        QTest::newRow("properties a text")
            << groupWith(R"("x")") << group << int(ConversationKind::Group) << group
            << QStringList();
        QTest::newRow("bot") << conversationText({str("28:concierge"), {}, str("Concierge")})
                             << QStringLiteral("28:concierge") << int(ConversationKind::Bot)
                             << QStringLiteral("Concierge") << QStringList();
        QTest::newRow("other") << conversationText({str("48:notes")}) << QStringLiteral("48:notes")
                               << int(ConversationKind::Other) << QStringLiteral("48:notes")
                               << QStringList();
        // An id that starts with a byte-order mark is kept as written, and so is no "8:" id.
        const QString marked = QChar(0xFEFF) + QStringLiteral("8:bob");
        QTest::newRow("id after a byte-order mark")
            << conversationText({str("\xEF\xBB\xBF"
                                     "8:bob")})
            << marked << int(ConversationKind::Other) << marked << QStringList();
    }

    void conversationsKeepIdKindNameAndMembers()
    {
        QFETCH(QByteArray, conversation);
        QFETCH(QString, id);
        QFETCH(int, kind);
        QFETCH(QString, name);
        QFETCH(QStringList, members);
        ChatHistory history;
        QCOMPARE(parsed(exportOf(conversation), history).chats.size(), size_t(1));
        const HistoryChat& chat = history.chats[0];
        QCOMPARE(chat.id, id);
        QCOMPARE(int(chat.kind), kind);
        QCOMPARE(chat.name, name);
        QCOMPARE(chat.members, members);
        // Only one-to-one chats have a peer, and their partners are the contacts.
        const QString peer = kind == int(ConversationKind::OneToOne) ? id.mid(2) : QString();
        QCOMPARE(chat.peerHandle, peer);
        QCOMPARE(history.contacts, peer.isEmpty() ? QStringList() : QStringList{peer});
    }

    void messagesKeepTheirSenderAndSharedFile_data()
    {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("senderId");
        QTest::addColumn<bool>("hasFile");
        QTest::addColumn<QString>("objectId");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<qint64>("size");
        const QByteArray file =
            "<URIObject uri=\"https://api.asm.skype.com/v1/objects/0-weu-d3-abc\" type=\"File.1\">"
            "To view this file, go to: <a href=\"https://x.example/?a=1&amp;b=2\">link</a>"
            "<OriginalName v=\"notes &amp; plans.pdf\"></OriginalName><FileSize "
            "v=\"12345\"></FileSize></URIObject>";
        QTest::newRow("ordinary account")
            << QByteArray("Text") << QByteArray("8:live:anna") << QByteArray("hi")
            << QStringLiteral("live:anna") << false << QString() << QString() << qint64(-1);
        QTest::newRow("bot keeps its prefix")
            << QByteArray("Text") << QByteArray("28:concierge") << QByteArray("hi")
            << QStringLiteral("28:concierge") << false << QString() << QString() << qint64(-1);
        QTest::newRow("generic file")
            << QByteArray("RichText/Media_GenericFile") << QByteArray("8:bob") << file
            << QStringLiteral("bob") << true << QStringLiteral("0-weu-d3-abc")
            << QStringLiteral("notes & plans.pdf") << qint64(12345);
        QTest::newRow("uri object with text before it")
            << QByteArray("RichText/UriObject") << QByteArray("8:bob")
            << QByteArray("Sent a photo: " + file) << QStringLiteral("bob") << true
            << QStringLiteral("0-weu-d3-abc") << QStringLiteral("notes & plans.pdf")
            << qint64(12345);
        QTest::newRow("video, uri with slash and query")
            << QByteArray("RichText/Media_Video") << QByteArray("8:bob")
            << QByteArray("<URIObject uri=\"https://h/v1/objects/0-neu-d1-99/?v=1\"><OriginalName "
                          "v=\"clip.mp4\"/><FileSize v=\" 7 \"/></URIObject>")
            << QStringLiteral("bob") << true << QStringLiteral("0-neu-d1-99")
            << QStringLiteral("clip.mp4") << qint64(7);
        QTest::newRow("flaw after the name keeps what came before")
            << QByteArray("RichText/Media_GenericFile") << QByteArray("8:bob")
            << QByteArray("<URIObject uri=\"u/0-x\"><OriginalName v=\"a.txt\"/>&nbsp;<FileSize "
                          "v=\"9\"/></URIObject>")
            << QStringLiteral("bob") << true << QStringLiteral("0-x") << QStringLiteral("a.txt")
            << qint64(-1);
        QTest::newRow("size that is no number")
            << QByteArray("RichText/Media_GenericFile") << QByteArray("8:bob")
            << QByteArray("<URIObject uri=\"u/0-x\"><FileSize v=\"-5\"/></URIObject>")
            << QStringLiteral("bob") << true << QStringLiteral("0-x") << QString() << qint64(-1);
        QTest::newRow("file message without markup")
            << QByteArray("RichText/Media_GenericFile") << QByteArray("8:bob")
            << QByteArray("a file") << QStringLiteral("bob") << false << QString() << QString()
            << qint64(-1);
        QTest::newRow("text that quotes the markup")
            << QByteArray("Text") << QByteArray("8:bob") << file << QStringLiteral("bob") << false
            << QString() << QString() << qint64(-1);
    }

    void messagesKeepTheirSenderAndSharedFile()
    {
        QFETCH(QByteArray, type);
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, content);
        QFETCH(QString, senderId);
        QFETCH(bool, hasFile);
        QFETCH(QString, objectId);
        QFETCH(QString, fileName);
        QFETCH(qint64, size);
        QByteArray escaped = content;
        escaped.replace("\"", "\\\"");
        const test::JsonMessage first{.id = {},
                                      .time = str("2021-01-01T00:00:00Z"),
                                      .type = str(type),
                                      .from = str(from),
                                      .content = str(escaped)};
        test::JsonMessage second = first;
        second.time = str("2021-01-01T00:00:01Z");
        const QByteArray json = exportText({{str("8:bob"), {first, second}}});
        ChatHistory history;
        const auto& messages = parsed(json, history).chats.at(0).messages;
        QCOMPARE(messages.size(), size_t(2));
        // The second message reads as the first: nothing of the first one's markup (a flaw in
        // it included) carries over.
        for (const HistoryMessage& message : messages) {
            QCOMPARE(message.senderId, senderId);
            // Without a display name the sender is shown by its id, as before.
            QCOMPARE(message.senderDisplayName, senderId);
            // The body is what it always was: the plain text of text kinds, empty for the
            // others.
            QCOMPARE(message.body,
                     type.startsWith("RichText") || type == "Text" ? plain(content) : QString());
            QCOMPARE(bool(message.file), hasFile);
            if (hasFile) {
                QCOMPARE(message.file->objectId, objectId);
                QCOMPARE(message.file->fileName, fileName);
                QCOMPARE(message.file->size, size);
            }
        }
    }

    void badTextIsRepairedNotRefused_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("body");
        // Texts of the document that held bytes that are no UTF-8 (escapes are none).
        QTest::addColumn<int>("notUtf8");
        QTest::newRow("lone high surrogate at the end")
            << QByteArray("hello \\ud83d") << QStringLiteral("hello \ufffd") << 0;
        QTest::newRow("lone high surrogate before text")
            << QByteArray("a\\ud800x") << QStringLiteral("a\ufffdx") << 0;
        QTest::newRow("lone low surrogate")
            << QByteArray("\\ude00!") << QStringLiteral("\ufffd!") << 0;
        QTest::newRow("two high surrogates")
            << QByteArray("\\ud83d\\ud83d\\ude00") << QStringLiteral("\ufffd\U0001F600") << 0;
        QTest::newRow("high surrogate and an escape")
            << QByteArray("\\ud83d\\n\\u00e9\\\"") << QStringLiteral("\ufffd\n\u00e9\"") << 0;
        QTest::newRow("unknown escape") << QByteArray("a\\qb") << QStringLiteral("a\ufffdb") << 0;
        QTest::newRow("short unicode escape")
            << QByteArray("\\ud83d\\u12") << QStringLiteral("\ufffd\ufffd12") << 0;
        QTest::newRow("bytes that are no UTF-8")
            << QByteArray("caf\xe9 \xff ok") << QStringLiteral("caf\ufffd \ufffd ok") << 1;
        QTest::newRow("cut multi-byte sequence")
            << QByteArray("\xe2\x82 x") << QStringLiteral("\ufffd\ufffd x") << 1;
        QTest::newRow("bad bytes around an escaped quote")
            << QByteArray("\xff \\\" \xfe") << QStringLiteral("\ufffd \" \ufffd") << 1;
        QTest::newRow("bad byte before an escaped backslash at the end")
            << QByteArray("\xc3\\\\") << QStringLiteral("\ufffd\\") << 1;
    }

    void badTextIsRepairedNotRefused()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, body);
        QFETCH(int, notUtf8);
        const test::JsonMessage bad{.id = {},
                                    .time = str("2021-01-01T00:00:00Z"),
                                    .displayName = str("Ann \\ud83d"),
                                    .content = str(content)};
        const QByteArray json = exportText(
            {{str("8:a"), {bad, textAt(str("2021-01-01T00:00:01Z"), "\"content\":\"next\"")}}});
        ChatHistory history;
        const auto& messages = parsed(json, history).chats.at(0).messages;
        QCOMPARE(messages.size(), size_t(2));
        QCOMPARE(messages[0].body, body);
        QCOMPARE(messages[0].senderDisplayName, QStringLiteral("Ann \ufffd"));
        QCOMPARE(messages[1].body, QStringLiteral("next"));
        QCOMPARE(history.skippedMessages, qsizetype(0));
        QCOMPARE(history.notUtf8Texts, qsizetype(notUtf8));
        // Read as one document, or in windows of a few bytes, the same texts are counted.
        for (size_t window : {size_t(0), size_t(7)})
            QCOMPARE(parseExportJsonInWindows(json, QStringLiteral("m.json"), window).notUtf8Texts,
                     qsizetype(notUtf8));
    }

    void messagesWithoutAPossibleTimeAreLeftOut_data()
    {
        QTest::addColumn<QByteArray>("time");
        QTest::addColumn<QString>("reason"); // empty: the message is kept
        QTest::newRow("first possible") << QByteArray("\"1970-01-01T00:00:00Z\"") << QString();
        QTest::newRow("last possible") << QByteArray("\"9999-12-31T23:59:59.999Z\"") << QString();
        QTest::newRow("30 February")
            << QByteArray("\"2020-02-30T10:00:00Z\"")
            << QStringLiteral("whose time \"2020-02-30T10:00:00Z\" is no possible date and time");
        QTest::newRow("29 February of no leap year")
            << QByteArray("\"2021-02-29T10:00:00Z\"")
            << QStringLiteral("is no possible date and time");
        QTest::newRow("before 1970") << QByteArray("\"1969-12-31T23:59:59.999Z\"")
                                     << QStringLiteral("is outside the years 1970 to 9999");
        QTest::newRow("year 0") << QByteArray("\"0000-01-01T00:00:00Z\"")
                                << QStringLiteral("outside the years");
        QTest::newRow("1970 by its offset only")
            << QByteArray("\"1970-01-01T00:30:00+01:00\"") << QStringLiteral("outside the years");
        QTest::newRow("five-digit year")
            << QByteArray("\"10000-01-01T00:00:00Z\"") << QStringLiteral("no possible date");
        QTest::newRow("no date at all")
            << QByteArray("\"yesterday\"") << QStringLiteral("\"yesterday\" is no possible");
        QTest::newRow("empty") << QByteArray("\"\"") << QStringLiteral("which has no time");
        QTest::newRow("null") << QByteArray("null") << QStringLiteral("which has no time");
    }

    void messagesWithoutAPossibleTimeAreLeftOut()
    {
        QFETCH(QByteArray, time);
        QFETCH(QString, reason);
        // The conversation's id comes after its messages: the place is still told by it.
        const test::JsonMessage first = textAt(str("2021-01-01T00:00:00Z"));
        const QByteArray bad = jsonText({.id = str("1617"), .time = time, .content = str("bad")});
        const QByteArray after = messageAt(str("2021-01-01T00:00:02Z"), "\"content\":\"after\"");
        const QByteArray json = exportOf(conversationText({str("8:a"), {first}})
                                         + ",{\"MessageList\":[" + jsonText(first) + ',' + bad + ','
                                         + after + "],\"id\":\"19:g@thread.skype\"}");
        ChatHistory history;
        parsed(json, history);
        QCOMPARE(history.chats.size(), size_t(2));
        const auto& messages = history.chats[1].messages;
        if (reason.isEmpty()) {
            QCOMPARE(messages.size(), size_t(3));
            QCOMPARE(history.skippedMessages, qsizetype(0));
            QCOMPARE(history.firstSkipped, QString());
            return;
        }
        QCOMPARE(messages.size(), size_t(2));
        QCOMPARE(messages[1].body, QStringLiteral("after"));
        QCOMPARE(history.skippedMessages, qsizetype(1));
        QVERIFY2(history.firstSkipped.startsWith(QStringLiteral(
                     "message 2 of conversation \"19:g@thread.skype\" (message id \"1617\"), ")),
                 qPrintable(history.firstSkipped));
        QVERIFY2(history.firstSkipped.contains(reason), qPrintable(history.firstSkipped));
    }

    void theFixtureMapsEveryNewField()
    {
        const ChatHistory history =
            parseExportJson(readFixture("export_varied.json"), QStringLiteral("messages.json"));
        QCOMPARE(history.contacts, QStringList{QStringLiteral("live:anna")});
        QCOMPARE(history.chats.size(), size_t(5));
        QStringList names;
        for (const HistoryChat& chat : history.chats)
            names << chat.name;
        QCOMPARE(names, QStringList({QStringLiteral("Anna Kowalska"),
                                     QStringLiteral("Trip to Krak\u00f3w"),
                                     QStringLiteral("live:anna, Bob B"),
                                     QStringLiteral("Concierge"), QStringLiteral("48:notes")}));
        // Feb 30, year 999 and 1969 are left out; the first of them is told.
        QCOMPARE(history.skippedMessages, qsizetype(3));
        QCOMPARE(history.firstSkipped,
                 QStringLiteral(
                     "message 2 of conversation \"8:live:anna\" (message id \"1002\"), whose time "
                     "\"2020-02-30T10:00:00Z\" is no possible date and time"));
        QCOMPARE(history.messageCount(), qsizetype(6));
        const auto& anna = history.chats[0].messages;
        QCOMPARE(anna.size(), size_t(3));
        QCOMPARE(anna[0].file->objectId, QStringLiteral("0-weu-d3-7f1e2c"));
        QCOMPARE(anna[0].file->fileName, QStringLiteral("Budget & plan 2023.xlsx"));
        QCOMPARE(anna[0].file->size, qint64(48213));
        QCOMPARE(anna[1].body, QStringLiteral("hello \ufffd"));
        QCOMPARE(anna[1].senderId, QStringLiteral("me.myself"));
        QVERIFY(!anna[1].file);
        QCOMPARE(anna[2].file->objectId, QStringLiteral("0-neu-d1-99aa"));
        QCOMPARE(anna[2].file->size, qint64(1048576));
        QCOMPARE(history.chats[1].members.size(), 3);
        QCOMPARE(history.chats[3].messages[0].senderId, QStringLiteral("28:concierge"));
        QCOMPARE(history.chats[4].messages.size(), size_t(0));
    }

    // Each sender id has one name over the whole history: the latest display name it used,
    // else a name the history gives it otherwise, else its handle.
    void everyPersonHasOneName_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("senderId");
        QTest::addColumn<QString>("name");
        const test::JsonMessage named =
            said("2021-01-01T00:00:00Z", "8:me.myself", "\"Me Myself\"");
        const test::JsonMessage unnamed = said("2021-01-02T00:00:00Z", "8:me.myself", "null");
        const QByteArray anna = str("8:anna"), group = str("19:g@thread.skype");
        QTest::newRow("a message without a name, after a named one")
            << exportText({{anna, {named, unnamed}}}) << u"me.myself"_s << u"Me Myself"_s;
        QTest::newRow("the same, asked with the 8: of the id")
            << exportText({{anna, {unnamed, named}}}) << u"8:me.myself"_s << u"Me Myself"_s;
        QTest::newRow("the latest name over every chat, whatever the file order")
            << exportText({{anna, {said("2022-05-01T00:00:00Z", "8:anna", "\"Anna New\"")}},
                           {group, {said("2021-05-01T00:00:00Z", "8:anna", "\"Anna Old\"")}}})
            << u"anna"_s << u"Anna New"_s;
        QTest::newRow("a name that is only the id does not count")
            << exportText({{group,
                            {said("2021-05-01T00:00:00Z", "8:live:bob", "\"Bob\""),
                             said("2022-05-01T00:00:00Z", "8:live:bob", "\"live:bob\"")}}})
            << u"live:bob"_s << u"Bob"_s;
        QTest::newRow("never named: the handle")
            << exportText({{group, {said("2021-05-01T00:00:00Z", "8:live:bob", "null")}}})
            << u"live:bob"_s << u"live:bob"_s;
        QTest::newRow("a partner without messages: the chat's name")
            << exportText({{str("8:carol"), {}, str("Carol C")}}) << u"carol"_s << u"Carol C"_s;
        QTest::newRow("the partner's latest name before the chat's")
            << exportText({{str("8:carol"),
                            {said("2021-05-01T00:00:00Z", "8:carol", "\"Caroline\"")},
                            str("Carol C")}})
            << u"carol"_s << u"Caroline"_s;
        QTest::newRow("a member without messages: the handle") << exportText(
            {{group, {}, {}, "\"threadProperties\":{\"members\":\"[\\\"8:live:dan\\\"]\"}"}})
                                                               << u"live:dan"_s << u"live:dan"_s;
        QTest::newRow("a bot never named: its handle") << exportText(
            {{str("28:concierge"), {said("2021-05-01T00:00:00Z", "28:concierge", "null")}}})
                                                       << u"28:concierge"_s << u"concierge"_s;
    }

    void everyPersonHasOneName()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, senderId);
        QFETCH(QString, name);
        for (const size_t window : {size_t(0), size_t(64)}) {
            ChatHistory history =
                parseExportJsonInWindows(json, QStringLiteral("messages.json"), window);
            indexPeople(history);
            QCOMPARE(personName(history, senderId), name);
        }
    }

    // The export names its own user; ids are compared as messages name their sender.
    void theExportsOwnUserIsKnown_data()
    {
        QTest::addColumn<QByteArray>("userId");
        QTest::addColumn<QString>("senderId");
        QTest::addColumn<bool>("own");
        QTest::newRow("ordinary account") << QByteArray("8:me.myself") << u"me.myself"_s << true;
        QTest::newRow("with its 8:") << QByteArray("8:me.myself") << u"8:me.myself"_s << true;
        QTest::newRow("live account") << QByteArray("8:live:me") << u"live:me"_s << true;
        QTest::newRow("somebody else") << QByteArray("8:live:me") << u"live:anna"_s << false;
        QTest::newRow("no user named") << QByteArray() << u"me.myself"_s << false;
    }

    void theExportsOwnUserIsKnown()
    {
        QFETCH(QByteArray, userId);
        QFETCH(QString, senderId);
        QFETCH(bool, own);
        const QByteArray user = userId.isEmpty() ? QByteArray() : ",\"userId\":\"" + userId + "\"";
        // The user named after the conversations is read too.
        const QByteArray json = "{\"conversations\":[{\"id\":\"8:anna\",\"MessageList\":["
                                + messageAt("\"2021-01-01T00:00:00Z\"") + "]}]" + user + "}";
        for (const size_t window : {size_t(0), size_t(32)}) {
            const ChatHistory history =
                parseExportJsonInWindows(json, QStringLiteral("messages.json"), window);
            QCOMPARE(isOwnUser(history, senderId), own);
        }
    }

    // A group's member count, listed or stated ("membercount").
    void groupsKeepTheirMemberCount_data()
    {
        QTest::addColumn<QByteArray>("properties");
        QTest::addColumn<qsizetype>("count");
        QTest::addColumn<qsizetype>("listed");
        QTest::newRow("stated only")
            << QByteArray("{\"membercount\":5,\"topic\":\"Team\"}") << qsizetype(5) << qsizetype(0);
        QTest::newRow("stated and listed")
            << QByteArray("{\"membercount\":2,\"members\":\"[\\\"8:a\\\",\\\"8:b\\\"]\"}")
            << qsizetype(2) << qsizetype(2);
        QTest::newRow("no count") << QByteArray("{\"membercount\":\"5\"}") << qsizetype(0)
                                  << qsizetype(0);
        QTest::newRow("below zero")
            << QByteArray("{\"membercount\":-1}") << qsizetype(0) << qsizetype(0);
        QTest::newRow("not whole")
            << QByteArray("{\"membercount\":2.5}") << qsizetype(0) << qsizetype(0);
    }

    void groupsKeepTheirMemberCount()
    {
        QFETCH(QByteArray, properties);
        QFETCH(qsizetype, count);
        QFETCH(qsizetype, listed);
        const QByteArray json =
            exportText({{str("19:g@thread.skype"), {}, {}, R"("threadProperties":)" + properties}});
        for (const size_t window : {size_t(0), size_t(16)}) {
            const ChatHistory history =
                parseExportJsonInWindows(json, QStringLiteral("messages.json"), window);
            QCOMPARE(history.chats.size(), size_t(1));
            QCOMPARE(history.chats[0].memberCount, count);
            QCOMPARE(history.chats[0].members.size(), listed);
        }
    }

    // The name each chat is shown by: a bot's name, chats of one name told apart.
    void chatsAreShownByDistinctNames_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QStringList>("names");
        const QByteArray topic = R"("threadProperties":{"topic":"Team"})";
        const test::JsonConversation team{str("19:a@thread.skype"), {}, {}, topic};
        const test::JsonConversation team2{str("19:b@thread.skype"), {}, {}, topic};
        const QByteArray bot = str("28:concierge");
        QTest::newRow("two groups named Team")
            << exportText({team, team2}) << QStringList{u"Team"_s, u"Team (2)"_s};
        QTest::newRow("a number another chat has is skipped")
            << exportText({team, team2, {str("19:c@thread.skype"), {}, str("Team (2)")}})
            << QStringList{u"Team"_s, u"Team (3)"_s, u"Team (2)"_s};
        QTest::newRow("a bot by its name")
            << exportText({{bot, {}, str("Concierge")}}) << QStringList{u"Concierge"_s};
        QTest::newRow("a bot named by its messages") << exportText(
            {{bot, {said("2021-01-01T00:00:00Z", "8:concierge", "\"Concierge\"")}, "null"}})
                                                     << QStringList{u"Concierge"_s};
        QTest::newRow("a bot never named")
            << exportText({test::JsonConversation{bot}}) << QStringList{u"concierge"_s};
        QTest::newRow("a partner by their latest name") << exportText(
            {{str("8:anna"), {said("2021-01-01T00:00:00Z", "8:anna", "\"Anna K\"")}, str("Anna")}})
                                                        << QStringList{u"Anna K"_s};
    }

    void chatsAreShownByDistinctNames()
    {
        QFETCH(QByteArray, json);
        QFETCH(QStringList, names);
        ChatHistory history = parseExportJson(json, QStringLiteral("messages.json"));
        indexPeople(history);
        QStringList shown;
        for (size_t i = 0; i < history.chats.size(); ++i)
            shown << chatShownName(history, i);
        QCOMPARE(shown, names);
    }

    void sendersShareOneString()
    {
        const ChatHistory history = parseExportJson(exportJson, QStringLiteral("messages.json"));
        const auto& anna = history.chats[0].messages;
        QVERIFY(anna[2].senderDisplayName.isSharedWith(anna[3].senderDisplayName));
    }

    void markupBecomesPlainText_data()
    {
        QTest::addColumn<QByteArray>("markup");
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << QByteArray("just text") << QStringLiteral("just text");
        QTest::newRow("tags keep inner text")
            << QByteArray("<b>a</b><i>b</i><s>c</s>") << QStringLiteral("abc");
        QTest::newRow("attributes with > inside quotes")
            << QByteArray("<a href=\"x>y\" title='1>2'>go</a>") << QStringLiteral("go");
        QTest::newRow("self-closing") << QByteArray("a<br/>b") << QStringLiteral("ab");
        QTest::newRow("emoticon keeps its text")
            << QByteArray("<ss type=\"smile\">:)</ss>") << QStringLiteral(":)");
        QTest::newRow("edit marker dropped")
            << QByteArray("fixed<e_m ts=\"1\" a=\"x\" t=\"61\"></e_m>") << QStringLiteral("fixed");
        QTest::newRow("self-closing edit marker")
            << QByteArray("fixed<e_m ts=\"1\"/>!") << QStringLiteral("fixed!");
        QTest::newRow("xml entities")
            << QByteArray("&lt;&gt;&amp;&quot;&apos;") << QStringLiteral("<>&\"'");
        QTest::newRow("html entities")
            << QByteArray("a&nbsp;b&hellip;&euro;") << QStringLiteral("a\u00a0b\u2026\u20ac");
        QTest::newRow("numeric references")
            << QByteArray("&#39;&#x1F600;&#X41;") << QStringLiteral("'\U0001F600A");
        QTest::newRow("double-escaped stays once decoded")
            << QByteArray("&amp;lt;") << QStringLiteral("&lt;");
        QTest::newRow("unknown entity kept")
            << QByteArray("&bogus; &amp") << QStringLiteral("&bogus; &amp");
        QTest::newRow("invalid code points kept")
            << QByteArray("&#0;&#xD800;&#x110000;&#99999999999;")
            << QStringLiteral("&#0;&#xD800;&#x110000;&#99999999999;");
        QTest::newRow("lone angle brackets")
            << QByteArray("a < b > c <3 <") << QStringLiteral("a < b > c <3 <");
        QTest::newRow("unterminated tag")
            << QByteArray("x <b unterminated") << QStringLiteral("x <b unterminated");
        QTest::newRow("unterminated quote")
            << QByteArray("<a href=\"x>y") << QStringLiteral("<a href=\"x>y");
        QTest::newRow("comment dropped")
            << QByteArray("a<!-- <b>no</b> -->b") << QStringLiteral("ab");
        QTest::newRow("cdata kept")
            << QByteArray("<![CDATA[<b>&amp;</b>]]>") << QStringLiteral("<b>&amp;</b>");
        QTest::newRow("nested quote")
            << QByteArray("<quote author=\"a\"><legacyquote>[1] a: </legacyquote>hi</quote>ok")
            << QStringLiteral("[1] a: hiok");
    }

    void markupBecomesPlainText()
    {
        QFETCH(QByteArray, markup);
        QFETCH(QString, text);
        QCOMPARE(plain(markup), text);
        QCOMPARE(mayHoldMarkup(std::string_view(markup.constData(), size_t(markup.size()))),
                 markup.contains('<') || markup.contains('&'));
    }

    void timestamps_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("epoch") << QStringLiteral("1970-01-01T00:00:00Z") << true << qint64(0);
        QTest::newRow("one digit")
            << QStringLiteral("1970-01-01T00:00:00.5Z") << true << qint64(500);
        QTest::newRow("two digits")
            << QStringLiteral("1970-01-01T00:00:00.05Z") << true << qint64(50);
        QTest::newRow("three digits")
            << QStringLiteral("2021-03-04T05:06:07.890Z") << true << qint64(1614834367890);
        QTest::newRow("more digits cut")
            << QStringLiteral("2021-03-04T05:06:07.8909Z") << true << qint64(1614834367890);
        QTest::newRow("offset") << QStringLiteral("2021-03-04T07:06:07.890+02:00") << true
                                << qint64(1614834367890);
        QTest::newRow("leap day") << QStringLiteral("2020-02-29T12:00:00Z") << true
                                  << qint64(1582977600000);
        QTest::newRow("before epoch")
            << QStringLiteral("1969-12-31T23:59:59Z") << true << qint64(-1000);
        QTest::newRow("no zone") << QStringLiteral("2021-03-04T05:06:07") << false << qint64(0);
        QTest::newRow("no day 30 in February")
            << QStringLiteral("2021-02-30T05:06:07Z") << false << qint64(0);
        QTest::newRow("hour 24") << QStringLiteral("2021-03-04T24:00:00Z") << false << qint64(0);
        QTest::newRow("empty fraction")
            << QStringLiteral("2021-03-04T05:06:07.Z") << false << qint64(0);
        QTest::newRow("trailing text")
            << QStringLiteral("2021-03-04T05:06:07Zx") << false << qint64(0);
        QTest::newRow("letters") << QStringLiteral("2021-0a-04T05:06:07Z") << false << qint64(0);
        QTest::newRow("short") << QStringLiteral("2021-03-04") << false << qint64(0);
        QTest::newRow("empty") << QString() << false << qint64(0);
    }

    void timestamps()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(qint64, expected);
        const QByteArray utf8 = text.toUtf8();
        qint64 value = 0;
        QCOMPARE(
            parseIsoTimestampMs(std::string_view(utf8.constData(), size_t(utf8.size())), value),
            valid);
        if (valid)
            QCOMPARE(value, expected);
    }

    void badJsonFailsWithTheReason_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("reason");
        const QByteArray message = jsonText(
            {.time = str("2021-03-04T05:06:07Z"), .from = str("8:a"), .content = str("x")});
        QTest::newRow("empty") << QByteArray() << QStringLiteral("no JSON");
        QTest::newRow("blank") << QByteArray("   \n") << QStringLiteral("no JSON");
        QTest::newRow("truncated")
            << exportJson.left(exportJson.size() / 2) << QStringLiteral("not valid JSON");
        QTest::newRow("truncated in a string")
            << QByteArray("{\"conversations\":[{\"id\":\"8:a") << QStringLiteral("not valid JSON");
        QTest::newRow("garbage") << QByteArray("hello") << QStringLiteral("not a JSON object");
        QTest::newRow("not an object")
            << QByteArray("[1,2]") << QStringLiteral("not a JSON object");
        QTest::newRow("no conversations")
            << QByteArray("{\"userId\":\"8:x\"}") << QStringLiteral("no \"conversations\"");
        QTest::newRow("conversations not a list")
            << QByteArray("{\"conversations\":5}")
            << QStringLiteral("\"conversations\" is not a list");
        QTest::newRow("conversation not an object")
            << QByteArray("{\"conversations\":[true]}") << QStringLiteral("a list of objects");
        QTest::newRow("no id") << QByteArray("{\"conversations\":[{\"MessageList\":[]}]}")
                               << QStringLiteral("conversation 1 has no \"id\"");
        QTest::newRow("id a number")
            << QByteArray("{\"conversations\":[{\"id\":8,\"MessageList\":[]}]}")
            << QStringLiteral("\"id\" is not a text");
        QTest::newRow("no message list") << QByteArray("{\"conversations\":[{\"id\":\"8:a\"}]}")
                                         << QStringLiteral("no \"MessageList\"");
        QTest::newRow("message list an object")
            << QByteArray("{\"conversations\":[{\"id\":\"8:a\",\"MessageList\":{}}]}")
            << QStringLiteral("\"MessageList\" is not a list");
        QTest::newRow("content a number")
            << QByteArray("{\"conversations\":[{\"id\":\"8:a\",\"MessageList\":[" + message
                          + ",{\"originalarrivaltime\":\"2021-03-04T05:06:07Z\",\"content\":5}]}]}")
            << QStringLiteral("conversation 1, message 2: \"content\" is not a text");
        QTest::newRow("absurd nesting")
            << QByteArray("{\"conversations\":") + QByteArray(100000, '[') + QByteArray(100000, ']')
                   + "}"
            << QStringLiteral("a list of objects");
        QTest::newRow("absurd nesting left open")
            << QByteArray("{\"conversations\":[{\"id\":\"8:a\",\"properties\":")
                   + QByteArray(100000, '[')
            << QStringLiteral("not valid JSON");
        QTest::newRow("second document")
            << QByteArray("{\"conversations\":[]} {\"x\":1}")
            << QStringLiteral(
                   ": unexpected text after the JSON document at byte 22: \"{\"x\":1}\".");
        QTest::newRow("text after the document")
            << QByteArray("{\"conversations\":[]}\n\n  and then some words that go on and on\n")
            << QStringLiteral("unexpected text after the JSON document at byte 25: \"and then some "
                              "words that\u2026\"");
    }

    void badJsonFailsWithTheReason()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, reason);
        const QString description =
            failureOf([&] { parseExportJson(json, QStringLiteral("/tmp/some messages.json")); });
        QVERIFY2(description.contains(reason), qPrintable(description));
        QVERIFY2(description.contains(QStringLiteral("\"/tmp/some messages.json\" cannot be read")),
                 qPrintable(description));
    }

    void deepNestingInIgnoredFieldsIsSkipped()
    {
        const QByteArray json = QByteArray("{\"conversations\":[{\"id\":\"8:a\",\"properties\":")
                                + QByteArray(100000, '[') + QByteArray(100000, ']')
                                + QByteArray(",\"MessageList\":[]}]}");
        QCOMPARE(parseExportJson(json, QStringLiteral("deep.json")).contacts,
                 QStringList{QStringLiteral("a")});
    }

    void readsTheTarAndThePlainFileAlike()
    {
        QTemporaryDir dir;
        const QString tar = dir.filePath(QStringLiteral("live_1_export.tar"));
        QVERIFY(test::writeTar(tar, {{QStringLiteral("media/"), QByteArray()},
                                     {QStringLiteral("media/photo.jpg"), QByteArray(5000, 'j')},
                                     {QStringLiteral("messages.json"), exportJson},
                                     {QStringLiteral("endpoints.json"), QByteArray("{}")}}));
        const QString json = dir.filePath(QStringLiteral("messages.json"));
        QVERIFY(test::writeBytes(json, exportJson));
        const ChatHistory fromTar = readExportArchive(tar);
        const ChatHistory fromJson = readExportJson(json);
        QCOMPARE(fromTar.contacts, fromJson.contacts);
        QCOMPARE(fromTar.messageCount(), qsizetype(7));
        QCOMPARE(fromJson.messageCount(), qsizetype(7));
        QCOMPARE(fromTar.chats[0].messages[2].body, fromJson.chats[0].messages[2].body);
    }

    // A file large enough that the reader releases the pages it has parsed while it goes on:
    // read in place, as a file of its own and from a tar (where messages.json starts off a
    // page boundary), it gives the very history parsed from memory.
    void largeFilesReadInPlaceAsFromMemory()
    {
        std::vector<test::JsonConversation> conversations;
        for (int c = 0; c < 60; ++c) {
            conversations.push_back({str("8:c" + QByteArray::number(c))});
            for (int m = 0; m < 700; ++m) {
                const int n = c * 1000 + m;
                QByteArray body = "Nachricht " + QByteArray::number(n) + " Καλημέρα 明天见 😀 ";
                body += QByteArray(n % 500, char('a' + n % 26));
                if (n % 17 == 0)
                    body = "<b>bold</b> &amp; " + body;
                const QByteArray minute = QByteArray::number(10 + (n * 7919) % 50);
                conversations.back().messages.push_back(
                    {.id = str(QByteArray::number(n)),
                     .time = str("2021-03-04T05:" + minute + ":00.000Z"),
                     .displayName = str("Sender " + QByteArray::number(n % 7)),
                     .type = str("RichText"),
                     .from = str("8:s" + QByteArray::number(n % 7)),
                     .content = str(body)});
            }
        }
        const QByteArray json = exportText(conversations);
        QVERIFY(json.size() > (12 << 20));
        QTemporaryDir dir;
        const QString tar = dir.filePath(QStringLiteral("export.tar"));
        QVERIFY(test::writeTar(tar, {{QStringLiteral("notes.txt"), QByteArray(700, 'n')},
                                     {QStringLiteral("messages.json"), json}}));
        const QString file = dir.filePath(QStringLiteral("messages.json"));
        QVERIFY(test::writeBytes(file, json));
        const ChatHistory expected = parseExportJson(json, QStringLiteral("messages.json"));
        QCOMPARE(expected.messageCount(), qsizetype(60 * 700));
        for (const ChatHistory& read : {readExportJson(file), readExportArchive(tar)})
            QCOMPARE(test::dump(read), test::dump(expected));
    }

    // A mapped page that reads as zeros while the file keeps its size and time was lost to a
    // failed read of the disk, not cut off: the reader then names the system's error.
    void aFailedReadOfAMappedPageIsNoCut_data()
    {
        QTest::addColumn<bool>("sizeAndTimeKept");
        QTest::newRow("cut short") << false;
        QTest::newRow("size and time as before") << true;
    }

    void aFailedReadOfAMappedPageIsNoCut()
    {
        QFETCH(bool, sizeAndTimeKept);
        QTemporaryDir dir;
        const QByteArray path = dir.filePath(QStringLiteral("messages.json")).toLocal8Bit();
        const off_t size = 3 * sysconf(_SC_PAGESIZE);
        QVERIFY(test::writeBytes(QString::fromLocal8Bit(path), QByteArray(size, ' ')));
        struct stat before = {};
        QCOMPARE(::stat(path.constData(), &before), 0);
        MappedFile map(QString::fromLocal8Bit(path));
        QVERIFY(map.valid());
        QCOMPARE(::truncate(path.constData(), 0), 0);
        QCOMPARE(static_cast<const volatile char*>(map.data())[size - 1], '\0');
        if (sizeAndTimeKept) {
            QCOMPARE(::truncate(path.constData(), size), 0);
            const timespec times[2] = {before.st_atim, before.st_mtim};
            QCOMPARE(::utimensat(AT_FDCWD, path.constData(), times, 0), 0);
        }
        QVERIFY(map.truncated());
        QCOMPARE(map.readFailed(), sizeAndTimeKept);
    }

    void failuresNameTheFileTheUserGave()
    {
        QTemporaryDir dir;
        const QByteArray noId = "{\"conversations\":[{\"MessageList\":[]}]}";
        const QString json = dir.filePath(QStringLiteral("history.json"));
        QVERIFY(test::writeBytes(json, noId));
        const QString fromJson = failureOf([&] { readExportJson(json); });
        QCOMPARE(
            fromJson,
            QStringLiteral("The chat history \"%1\" cannot be read: conversation 1 has no \"id\".")
                .arg(QDir::toNativeSeparators(json)));

        const QString tar = dir.filePath(QStringLiteral("old.tar"));
        QVERIFY(test::writeExportTar(tar, noId));
        QVERIFY(failureOf([&] { readExportArchive(tar); })
                    .endsWith(QStringLiteral(
                        "\" cannot be read: in its messages.json, conversation 1 has no \"id\".")));
        QVERIFY(test::writeExportTar(tar, "{\"conversations\":[]} x"));
        QVERIFY(failureOf([&] { readExportArchive(tar); })
                    .endsWith(QStringLiteral("unexpected text after the JSON document at byte 22 "
                                             "of its messages.json: \"x\".")));
    }

    void tarsInEveryCompressionUnpackedHereAreRead_data()
    {
        QTest::addColumn<QByteArray>("filter");
        for (const char* filter : {"", "gzip", "bzip2", "xz", "zstd", "lz4"})
            QTest::newRow(*filter ? filter : "none") << QByteArray(filter);
    }

    void tarsInEveryCompressionUnpackedHereAreRead()
    {
        QFETCH(QByteArray, filter);
        QTemporaryDir dir;
        const QString tar = dir.filePath(QStringLiteral("export.tar"));
        QVERIFY(test::writeExportTar(tar, exportJson, filter.constData()));
        QCOMPARE(readExportArchive(tar).messageCount(), qsizetype(7));
    }

    void theLastCopyOfMessagesJsonCounts()
    {
        QTemporaryDir dir;
        const QByteArray first = exportText({test::JsonConversation{str("8:first")}});
        const QByteArray last = exportText({test::JsonConversation{str("8:last")}});
        const QString tar = dir.filePath(QStringLiteral("appended.tar"));
        QVERIFY(test::writeTarEntries(tar, {{QStringLiteral("messages.json"), first},
                                            {QStringLiteral("media/a.jpg"), QByteArray(700, 'j')},
                                            {QStringLiteral("./messages.json"), last}}));
        QCOMPARE(readExportArchive(tar).contacts, QStringList{QStringLiteral("last")});

        // A link replaced by a file is read; a file replaced by a link is not.
        QVERIFY(test::writeTarEntries(
            tar, {{QStringLiteral("messages.json"), {}, QStringLiteral("/etc/passwd")},
                  {QStringLiteral("messages.json"), last}}));
        QCOMPARE(readExportArchive(tar).contacts, QStringList{QStringLiteral("last")});
        QVERIFY(test::writeTarEntries(
            tar, {{QStringLiteral("messages.json"), first},
                  {QStringLiteral("messages.json"), {}, QStringLiteral("other.json")},
                  {QStringLiteral("other.json"), last}}));
        const QString description = failureOf([&] { readExportArchive(tar); });
        QVERIFY2(description.endsWith(QStringLiteral(
                     "its messages.json is a link, and links in an export are not followed.")),
                 qPrintable(description));
    }

    // Compressions that libarchive leaves to an outside program must never start one: the file
    // decides the compression, and PATH decides which program would run.
    void compressionNeedingAProgramIsRefusedWithoutStartingIt_data()
    {
        QTest::addColumn<QByteArray>("magic");
        QTest::addColumn<bool>("inGzip"); // the stream is gzip-compressed once more
        QTest::addColumn<QString>("reason");
        const QByteArray lzop("\x89LZO\x00\r\n\x1a\n\x10\x30\x20\xa0\x09\x40\x01", 16);
        QTest::newRow("lzop") << lzop << false
                              << QStringLiteral(
                                     "it is compressed with lzop, which is not unpacked here");
        QTest::newRow("lrzip") << QByteArray("LRZI\x00\x06", 6) << false
                               << QStringLiteral(
                                      "it is compressed with lrzip, which is not unpacked here");
        QTest::newRow("grzip") << QByteArray("GRZipII\x00\x02\x04:)", 12) << false
                               << QStringLiteral(
                                      "it is compressed with grzip, which is not unpacked here");
        QTest::newRow("lzop inside gzip") << lzop << true << QStringLiteral("it is no tar archive");
    }

    void compressionNeedingAProgramIsRefusedWithoutStartingIt()
    {
        QFETCH(QByteArray, magic);
        QFETCH(bool, inGzip);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString marker = dir.filePath(QStringLiteral("started"));
        for (const char* name : {"lzop", "lrzip", "grzip"}) {
            const QString stub = dir.filePath(QLatin1String(name));
            QVERIFY(test::writeBytes(stub, "#!/bin/sh\necho \"$0 $*\" >> '"
                                               + QFile::encodeName(marker) + "'\ncat\n"));
            QVERIFY(QFile::setPermissions(stub, QFile::permissions(stub) | QFile::ExeOwner));
        }
        QByteArray bytes = magic + QByteArray(1024 - magic.size(), '\0');
        bytes.replace(257, 5, "ustar");
        const QString tar = dir.filePath(QStringLiteral("export.tar"));
        QVERIFY(inGzip ? test::writeCompressed(tar, bytes, "gzip") : test::writeBytes(tar, bytes));

        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(dir.path()) + ':' + path);
        const QString description = failureOf([&] { readExportArchive(tar); });
        qputenv("PATH", path);
        QVERIFY2(!QFile::exists(marker), "an outside program was started");
        QVERIFY2(description.contains(reason), qPrintable(description));
    }

    void symlinkedMessagesJsonIsNotFollowed()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("real.json"));
        QVERIFY(test::writeBytes(target, exportJson));
        const QString tar = dir.filePath(QStringLiteral("linked.tar"));
        QVERIFY(test::writeTarEntries(tar, {{QStringLiteral("messages.json"), {}, target}}));
        const QString description = failureOf([&] { readExportArchive(tar); });
        QVERIFY2(description.contains(QStringLiteral(
                     "its messages.json is a link, and links in an export are not followed")),
                 qPrintable(description));
    }

    void badArchivesFailWithTheReason()
    {
        QTemporaryDir dir;
        const QString noJson = dir.filePath(QStringLiteral("a.tar"));
        QVERIFY(
            test::writeTar(noJson, {{QStringLiteral("media/photo.jpg"), QByteArray(100, 'j')}}));
        QVERIFY(failureOf([&] {
                    readExportArchive(noJson);
                }).contains(QStringLiteral("holds no messages.json")));

        const QString full = dir.filePath(QStringLiteral("b.tar"));
        QVERIFY(test::writeExportTar(full, exportJson));
        QFile file(full);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const QString cut = dir.filePath(QStringLiteral("c.tar"));
        QVERIFY(test::writeBytes(cut, bytes.left(512 + exportJson.size() / 2)));
        QVERIFY(failureOf([&] {
                    readExportArchive(cut);
                }).contains(QStringLiteral("\"") + cut + QStringLiteral("\" cannot be read")));

        const QString text = dir.filePath(QStringLiteral("d.tar"));
        QVERIFY(
            test::writeBytes(text, QByteArray("this is no archive at all, just a line of text\n")));
        QVERIFY(!failureOf([&] { readExportArchive(text); }).isEmpty());

        QVERIFY(failureOf([&] {
                    readExportArchive(dir.filePath(QStringLiteral("missing.tar")));
                }).contains(QStringLiteral("missing.tar")));
        QVERIFY(failureOf([&] {
                    readExportJson(dir.filePath(QStringLiteral("missing.json")));
                }).contains(QStringLiteral("missing.json")));
    }
};

QTEST_GUILESS_MAIN(ExportReaderTest)
#include "test_export_reader.moc"
