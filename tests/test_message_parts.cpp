#include "chat/body_markup.h"
#include "chat/export_reader.h"
#include "chat/history_loader.h"
#include "chat/legacy_db_reader.h"
#include "chat/message_parts.h"
#include "history_builder.h"
#include "history_files.h"
#include "local_zone.h"
#include "one_message.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <string>

using namespace velmoran;
using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(velmoran::MessageKind)

namespace {

QString plainOf(const QString& markup)
{
    const QByteArray utf8 = markup.toUtf8();
    std::string plain;
    appendPlainText(std::string_view(utf8.constData(), size_t(utf8.size())), plain);
    return QString::fromUtf8(plain.data(), qsizetype(plain.size()));
}

// The written texts of the links found in text.
QStringList linkTexts(const QString& text)
{
    QStringList found;
    for (const TextLink& link : findLinks(text)) {
        found << text.mid(link.start, link.length);
        if (link.url.toString() != found.last())
            found.last() += QStringLiteral(" -> ") + link.url.toString();
    }
    return found;
}

const HistoryMessage* onlyMessage(const ChatHistory& history)
{
    if (history.chats.size() != 1 || history.chats[0].messages.size() != 1)
        return nullptr;
    return &history.chats[0].messages[0];
}

const QString quoteMarkup = QStringLiteral(
    "<quote author=\"me.myself\" authorname=\"Me Myself\" timestamp=\"1730797200\">"
    "<legacyquote>[1730797200] Me Myself: </legacyquote>see you at 10\nby the &lt;gate&gt;"
    "<legacyquote>\n\n&lt;&lt;&lt; </legacyquote></quote>sounds good");
const QString quotePlain =
    QStringLiteral("> Me Myself, 2024-11-05 09:00: see you at 10\n> by the <gate>\nsounds good");

using K = MessageKind;

// One row of exportMessages: an export's message of type, content and properties.
void exportRow(const char* name, QAnyStringView type, QAnyStringView content, K kind,
               QAnyStringView plain, const QByteArray& properties = {})
{
    QTest::newRow(name) << type.toString() << content.toString() << properties << kind
                        << plain.toString();
}

// One row of legacyRows: a database's message; a null QVariant is NULL.
void legacyRow(const char* name, int type, const QVariant& body, const QVariant& identities,
               const QVariant& edited, K kind, QAnyStringView plain)
{
    QTest::newRow(name) << QVariant(type) << body << identities << edited << kind
                        << plain.toString();
}

// One row of hostileMarkup: a message by Anna of kind with markup and body.
void hostileRow(const char* name, K kind, const QString& markup, QAnyStringView body,
                QAnyStringView plain)
{
    QTest::newRow(name) << kind << markup << body.toString() << plain.toString();
}

} // namespace

class TestMessageParts : public QObject {
    Q_OBJECT

private slots:
    void exportMessages_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("content");
        QTest::addColumn<QByteArray>("properties");
        QTest::addColumn<MessageKind>("kind");
        QTest::addColumn<QString>("plain");

        const QString call = QStringLiteral("<partlist type=\"%1\" alt=\"\">%2</partlist>");
        const QString part = QStringLiteral(
            "<part identity=\"live:anna\"><name>Anna</name><duration>%1</duration></part>");
        const QString member = QStringLiteral(
            "<%1member><eventtime>1</eventtime><initiator>8:%2</initiator>%3</%1member>");
        const QString edited = QStringLiteral(R"({"edittime":"1600000000000"})");
        exportRow("text", "Text", "hello", K::Text, "hello");
        exportRow("rich text", "RichText", "<b>bold</b> &amp; <i>more</i>", K::Text, "bold & more");
        auto callRow = [&](const char* name, QStringView type, const QString& parts,
                           const char* plain) {
            exportRow(name, "Event/Call", call.arg(type, parts), K::Call, plain);
        };
        callRow("call, longest part counts", u"ended", part.arg(10) + part.arg(95), "Call, 2 min");
        callRow("call of hours", u"ended", part.arg(3725), "Call, 1 h 2 min");
        callRow("call of seconds", u"ended", part.arg(u"42.4"), "Call, 42 s");
        callRow("missed call", u"missed", QString(), "Missed call");
        callRow("call started", u"started", QString(), "Call started");
        callRow("call ended, no duration", u"ended", part.arg(u"soon"), "Call ended");
        exportRow("deleted", "RichText", "", K::Deleted, "This message was deleted",
                  R"({"deletetime":"1600"})");
        exportRow("deleted by an edit to nothing", "RichText", "", K::Deleted,
                  "This message was deleted", R"({"edittime":1600})");
        exportRow("empty, nothing told", "RichText", "", K::Text, "(no text)");
        exportRow(
            "edited, marker in the content", "RichText",
            "hello<e_m a=\"live:anna\" ts_ms=\"1600000000000\" ts=\"1600000000\" t=\"61\"></e_m>",
            K::Text, "hello (edited)");
        exportRow("edited, time in the properties", "RichText", "hello", K::Text, "hello (edited)",
                  R"({"edittime":"1600000000000","isserversidegenerated":true})");
        exportRow("other properties tell nothing", "RichText", "hello", K::Text, "hello",
                  R"({"urlpreviews":"[]","edittime":null})");
        exportRow("quote", "RichText", quoteMarkup, K::Text, quotePlain);
        exportRow("quote, edited", "RichText", quoteMarkup, K::Text, quotePlain + u" (edited)"_s,
                  edited.toUtf8());
        exportRow("members added", "ThreadActivity/AddMember",
                  member.arg(u"add", u"live:anna",
                             u"<target>8:bob</target><target>8:carl</target>"
                             "<target>8:dan</target>"),
                  K::MembersAdded, "Anna added bob, carl and dan");
        exportRow("member removed", "ThreadActivity/DeleteMember",
                  member.arg(u"delete", u"live:anna", u"<target>8:bob</target>"), K::MembersRemoved,
                  "Anna removed bob");
        exportRow("member left", "ThreadActivity/DeleteMember",
                  member.arg(u"delete", u"bob", u"<target>8:bob</target>"), K::MembersRemoved,
                  "bob left");
        exportRow("topic", "ThreadActivity/TopicUpdate",
                  "<topicupdate><eventtime>1</eventtime><initiator>8:live:anna</initiator>"
                  "<value>Trip &amp; plans</value></topicupdate>",
                  K::TopicChanged, "Anna changed the topic to \"Trip & plans\"");
        exportRow("file", "RichText/Media_GenericFile",
                  "<URIObject uri=\"https://api.example/v1/objects/0-weu-d3-7f\" type=\"File.1\">"
                  "To view this file, go to: <a href=\"https://x.example\">https://x.example</a>"
                  "<OriginalName v=\"Budget &amp; plan.xlsx\"/><FileSize v=\"48213\"/></URIObject>",
                  K::File, "File: Budget & plan.xlsx (47.1 KiB)");
        exportRow("picture", "RichText/UriObject",
                  "<URIObject type=\"Picture.1\" uri=\"https://media.example/objects/0-1\">"
                  "<OriginalName v=\"IMG_1.jpg\"/>To view this shared photo, go to: x</URIObject>",
                  K::Picture, "Picture: IMG_1.jpg");
        exportRow("video", "RichText/Media_Video",
                  "<URIObject uri=\"https://api.example/v1/objects/0-neu-d1-99aa/\" "
                  "type=\"Video.1/Message.1\"><OriginalName v=\"clip.mp4\"/><FileSize "
                  "v=\"1048576\"/></URIObject>",
                  K::File, "File: clip.mp4 (1.0 MiB)");
        exportRow("an event not described", "ThreadActivity/PictureUpdate",
                  "<pictureupdate><initiator>8:live:anna</initiator></pictureupdate>", K::Other,
                  "(no text)");
    }

    void exportMessages()
    {
        QFETCH(QString, type);
        QFETCH(QString, content);
        QFETCH(QByteArray, properties);
        QFETCH(MessageKind, kind);
        QFETCH(QString, plain);
        const test::LocalZone utc("UTC");
        const QByteArray json = test::exportWithOneMessage(type, content, properties);
        const ChatHistory history = parseExportJson(json, QStringLiteral("t"));
        const HistoryMessage* message = onlyMessage(history);
        QVERIFY(message);
        QCOMPARE(message->kind, kind);
        QCOMPARE(messagePlainText(*message), plain);
        // The plain-text copy of a quote's head is not kept twice.
        QVERIFY(!message->markup.contains(u"legacyquote"));
        // The body, which is searched and written, is what it always was.
        const bool text = type == u"Text" || type.startsWith(u"RichText");
        QCOMPARE(message->body, text ? plainOf(content) : QString());
        // Windowed reading keeps the same.
        const ChatHistory windowed =
            parseExportJsonInWindows(json, QStringLiteral("t"), 64, nullptr);
        QVERIFY(onlyMessage(windowed));
        QCOMPARE(onlyMessage(windowed)->kind, kind);
        QCOMPARE(onlyMessage(windowed)->markup, message->markup);
    }

    void legacyRows_data()
    {
        QTest::addColumn<QVariant>("type");
        QTest::addColumn<QVariant>("body");
        QTest::addColumn<QVariant>("identities");
        QTest::addColumn<QVariant>("edited");
        QTest::addColumn<MessageKind>("kind");
        QTest::addColumn<QString>("plain");

        const QVariant null, edited(1682935300);
        legacyRow("text", 61, u"hi &amp; bye"_s, null, null, K::Text, "hi & bye");
        legacyRow("edited", 61, u"hi"_s, null, edited, K::Text, "hi (edited)");
        legacyRow("deleted", 61, null, null, edited, K::Deleted, "This message was deleted");
        legacyRow("quote", 61, quoteMarkup, null, null, K::Text, quotePlain);
        legacyRow("call started, no markup", 30, null, null, null, K::Call, "Call started");
        legacyRow("call ended, no markup", 39, null, null, null, K::Call, "Call ended");
        legacyRow("call ended with its parts", 39,
                  u"<partlist type=\"ended\" alt=\"\"><part identity=\"live:anna\">"
                  "<duration>65</duration></part></partlist>"_s,
                  null, null, K::Call, "Call, 1 min");
        legacyRow("members added", 10, null, u"bob carl"_s, null, K::MembersAdded,
                  "Anna added bob and carl");
        legacyRow("member removed", 12, null, u"bob"_s, null, K::MembersRemoved,
                  "Anna removed bob");
        legacyRow("member left", 13, null, null, null, K::MembersRemoved, "Anna left");
        legacyRow("ids are escaped", 10, null, u"<b>&x"_s, null, K::MembersAdded,
                  "Anna added <b>&x");
        legacyRow("topic", 2, u"New &amp; topic"_s, null, null, K::TopicChanged,
                  "Anna changed the topic to \"New & topic\"");
        legacyRow("files", 68,
                  u"<files alt=\"\"><file size=\"2048\" index=\"0\" tid=\"1\">report.pdf</file>"
                  "<file size=\"10\" index=\"1\" tid=\"2\">a.txt</file></files>"_s,
                  null, null, K::File, "File: report.pdf (2.0 KiB)\nFile: a.txt (10 bytes)");
        legacyRow("picture", 201,
                  u"<URIObject type=\"Picture.1\" uri=\"https://m.example/objects/0-2\">"
                  "<OriginalName v=\"x.jpg\"/><FileSize v=\"5\"/></URIObject>"_s,
                  null, null, K::Picture, "Picture: x.jpg (5 bytes)");
        legacyRow("an event not described", 50, null, null, null, K::Other, "(no text)");
    }

    void legacyRows()
    {
        QFETCH(QVariant, type);
        QFETCH(QVariant, body);
        QFETCH(QVariant, identities);
        QFETCH(QVariant, edited);
        QFETCH(MessageKind, kind);
        QFETCH(QString, plain);
        const test::LocalZone utc("UTC");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("main.db"));
        QCOMPARE(test::writeDatabase(
                     path, test::legacyDatabaseWithOneMessage(type, body, identities, edited)),
                 QString());
        const ChatHistory history = readLegacyDatabase(path);
        const HistoryMessage* message = onlyMessage(history);
        QVERIFY(message);
        QCOMPARE(message->kind, kind);
        QCOMPARE(messagePlainText(*message), plain);
        QCOMPARE(message->body, plainOf(body.toString()));
    }

    void legacyTableWithoutTypes()
    {
        // The oldest tables have none of the columns that tell what a message is.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("main.db"));
        QCOMPARE(test::writeDatabase(
                     path,
                     "CREATE TABLE Contacts (skypename TEXT);"
                     "CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type INT);"
                     "CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INT, author TEXT,"
                     " from_dispname TEXT, timestamp INTEGER, body_xml TEXT);"
                     "INSERT INTO Conversations VALUES (1, 'anna', 1);"
                     "INSERT INTO Messages VALUES (1, 1, 'anna', 'Anna', 1600000000, 'hi'),"
                     " (2, 1, 'anna', 'Anna', 1600000001, NULL);"),
                 QString());
        const ChatHistory history = readLegacyDatabase(path);
        QCOMPARE(history.chats.size(), size_t(1));
        const std::vector<HistoryMessage>& messages = history.chats[0].messages;
        QCOMPARE(messages.size(), size_t(2));
        for (size_t i = 0; i < 2; ++i) {
            QCOMPARE(messages[i].kind, MessageKind::Text);
            QCOMPARE(messagePlainText(messages[i]), i == 0 ? u"hi"_s : u"(no text)"_s);
        }
    }

    void hostileMarkup_data()
    {
        QTest::addColumn<MessageKind>("kind");
        QTest::addColumn<QString>("markup");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("plain");

        const QString deep = QStringLiteral("<b>").repeated(100000) + QStringLiteral("x")
                             + QStringLiteral("</b>").repeated(100000);
        hostileRow("unclosed quote: the body", K::Text,
                   u"<quote author=\"a\" authorname=\"A\">abc"_s, "abc", "abc");
        hostileRow("deep nesting in a quote", K::Text,
                   u"<quote authorname=\"A\">"_s + deep + u"</quote>reply"_s, "xreply",
                   "> A: x\nreply");
        hostileRow("deep nesting, never closed", K::Text,
                   u"<quote>"_s + QStringLiteral("<b>").repeated(200000), "body", "body");
        hostileRow("unknown entity: the body", K::Text,
                   u"<quote authorname=\"A\">&bogus;</quote>r"_s, "&bogus;r", "&bogus;r");
        hostileRow("entities of bodies", K::Text,
                   u"<quote authorname=\"A\">a&nbsp;b&hellip;</quote>r"_s, "x",
                   u"> A: a\u00a0b\u2026\nr");
        hostileRow("entity definitions are refused", K::Text,
                   u"<!DOCTYPE m [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
                   "<quote authorname=\"A\">&b;</quote>"_s,
                   "body", "body");
        hostileRow("markup of a megabyte and more: the body", K::Text,
                   u"<quote authorname=\"A\">"_s + QString(1 << 20, u'a') + u"</quote>r"_s, "short",
                   "short");
        hostileRow("call, broken", K::Call, u"<partlist type=\"ended\"><duration>12"_s, "",
                   "Call ended");
        hostileRow("call, no markup", K::Call, QString(), "", "Call");
        const QString duration = u"<partlist type=\"ended\"><duration>%1</duration></partlist>"_s;
        hostileRow("call, huge duration", K::Call, duration.arg(u"1e300"), "", "Call ended");
        hostileRow("call, negative duration", K::Call, duration.arg(u"-5"), "", "Call ended");
        hostileRow("members, no markup", K::MembersAdded, QString(), "", "Anna added members");
        hostileRow("topic, broken", K::TopicChanged, u"<topicupdate><value>x"_s, "",
                   "Anna removed the topic");
        hostileRow("picture, no file, no markup", K::Picture, QString(), "", "Picture");
        hostileRow("edit marker, broken", K::Text, u"<e_m ts=\"1\""_s, "hello", "hello (edited)");
        hostileRow("quote time of another era", K::Text,
                   u"<quote authorname=\"A\" timestamp=\"99999999999999999\">q</quote>"_s, "q",
                   "> A: q");
    }

    void hostileMarkup()
    {
        QFETCH(MessageKind, kind);
        QFETCH(QString, markup);
        QFETCH(QString, body);
        QFETCH(QString, plain);
        HistoryMessage message =
            test::messageOf({qint64(0), u"live:anna"_s, u"Anna"_s, body, kind});
        message.markup = markup;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(messagePlainText(message), plain);
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    }

    void links_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("links");

        QTest::newRow("none") << "no link here: at all" << QStringList();
        QTest::newRow("https, sentence punctuation after")
            << "see https://a.example/p?q=1&r=2, ok."
            << QStringList{u"https://a.example/p?q=1&r=2"_s};
        QTest::newRow("http at the end")
            << "at http://a.example/x." << QStringList{u"http://a.example/x"_s};
        QTest::newRow("in parentheses")
            << "(see http://a.example/x)" << QStringList{u"http://a.example/x"_s};
        QTest::newRow("parentheses of the link")
            << "http://a.example/wiki/Foo_(bar)"
            << QStringList{u"http://a.example/wiki/Foo_(bar)"_s};
        QTest::newRow("mailto") << "write mailto:anna@example.com!"
                                << QStringList{u"mailto:anna@example.com"_s};
        QTest::newRow("letter case of the scheme")
            << "HTTPS://A.EXAMPLE/x"
            << QStringList{u"HTTPS://A.EXAMPLE/x -> https://a.example/x"_s};
        QTest::newRow("two") << "http://a.example and https://b.example/"
                             << QStringList{u"http://a.example"_s, u"https://b.example/"_s};
        QTest::newRow("schemes not allowed")
            << "javascript:alert(1) javascript://a.example/%0aalert(1) "
               "file:///etc/passwd data:text/html,<b> ftp://a.example"
            << QStringList();
        QTest::newRow("scheme inside a word") << "xhttp://a.example notmailto:a@b" << QStringList();
        QTest::newRow("no host") << "https:// http:/a.example http:" << QStringList();
        QTest::newRow("mailto without address")
            << "mailto: mailto:nobody mailto://a@b" << QStringList();
        QTest::newRow("ends at markup characters")
            << "<http://a.example/x>\"http://b.example\""
            << QStringList{u"http://a.example/x"_s, u"http://b.example"_s};
        // Texts made to take long, found in bounded time.
        QTest::newRow("schemes without end") << u"(http:"_s.repeated(200000) << QStringList();
        QTest::newRow("colons") << QString(1 << 20, u':') << QStringList();
        QTest::newRow("a link too long")
            << u"http://a.example/"_s + QString(5000, u'a') << QStringList();
        QTest::newRow("many links: the first 256")
            << u"http://a.example "_s.repeated(10000) << QStringList(256, u"http://a.example"_s);
    }

    void links()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, links);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(linkTexts(text), links);
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        const HistoryMessage message = test::messageOf({qint64(0), {}, {}, text});
        const std::vector<MessagePart> parts = decodeMessageParts(message);
        QCOMPARE(parts.size(), size_t(1));
        QCOMPARE(std::get<TextPart>(parts[0]).links.size(), size_t(links.size()));
    }

    void partsCarryTheirDetails()
    {
        HistoryMessage message = test::messageOf({qint64(0), {}, {}, u"ignored"_s});
        message.markup = quoteMarkup + u" at https://a.example<e_m ts=\"1600000000\"></e_m>"_s;
        const std::vector<MessagePart> parts = decodeMessageParts(message);
        QCOMPARE(parts.size(), size_t(3));
        const auto& quote = std::get<QuotePart>(parts[0]);
        QCOMPARE(quote.authorId + u'|' + quote.authorName, u"me.myself|Me Myself"_s);
        QCOMPARE(quote.timeMs, qint64(1730797200000));
        QCOMPARE(quote.text, QStringLiteral("see you at 10\nby the <gate>"));
        const auto& text = std::get<TextPart>(parts[1]);
        QCOMPARE(text.text, QStringLiteral("sounds good at https://a.example"));
        QCOMPARE(text.links.size(), size_t(1));
        QCOMPARE(text.links[0].start, qsizetype(15));
        QCOMPARE(text.links[0].url, QUrl(QStringLiteral("https://a.example")));
        QCOMPARE(std::get<EditedPart>(parts[2]).timeMs, qint64(1600000000000));

        HistoryMessage file = test::messageOf({qint64(0), {}, {}, {}, MessageKind::File});
        file.file =
            std::make_shared<const SharedFile>(SharedFile{u"0-weu-d3-7f"_s, u"a.pdf"_s, 12});
        const std::vector<MessagePart> sharedParts = decodeMessageParts(file);
        const auto& shared = std::get<FilePart>(sharedParts.at(0));
        QCOMPARE(shared.objectId + u'|' + shared.fileName, u"0-weu-d3-7f|a.pdf"_s);
        QCOMPARE(shared.size, qint64(12));
        QVERIFY(!shared.picture);

        HistoryMessage call = test::messageOf({qint64(0), {}, {}, {}, MessageKind::Call});
        call.markup = u"<partlist type=\"missed\"><part><duration>3</duration></part></partlist>"_s;
        const std::vector<MessagePart> callPartParts = decodeMessageParts(call);
        const auto& callPart = std::get<CallPart>(callPartParts.at(0));
        QCOMPARE(callPart.state, CallState::Missed);
        QCOMPARE(callPart.durationSeconds, qint64(3));
    }

    void namesComeFromTheView()
    {
        const ChatHistory history =
            parseExportJson(test::exportWithOneMessage(
                                u"ThreadActivity/AddMember"_s,
                                u"<addmember><initiator>8:live:anna</initiator>"
                                "<target>8:bob</target><target>8:carl</target></addmember>"_s),
                            QStringLiteral("t"));
        const HistoryMessage* message = onlyMessage(history);
        QVERIFY(message);
        const PersonName names = [](const QString& id) {
            return id == u"bob" ? u"Bob Builder"_s : id == u"live:anna" ? u"Anna K."_s : QString();
        };
        QCOMPARE(messagePlainText(*message, names),
                 QStringLiteral("Anna K. added Bob Builder and carl"));
        const std::vector<MessagePart> membersParts = decodeMessageParts(*message);
        const auto& members = std::get<MembersPart>(membersParts.at(0));
        QVERIFY(members.added);
        QCOMPARE(members.initiatorId, QStringLiteral("live:anna"));
        QCOMPARE(members.memberIds, (QStringList{u"bob"_s, u"carl"_s}));
    }

    void mergeKeepsWhatAMessageIs()
    {
        // The same call in two files: one tells only that there was a message, the other what it
        // was.
        auto historyWith = [](MessageKind kind, const QString& markup) {
            ChatHistory history = test::historyOf(
                {{u"anna"_s, {{1600000000000, u"anna"_s, u"Anna"_s, {}, kind}}, u"8:anna"_s}});
            history.chats[0].messages[0].markup = markup;
            return std::make_shared<const ChatHistory>(std::move(history));
        };
        const ChatHistoryPtr plain = historyWith(MessageKind::Text, QString());
        const ChatHistoryPtr described =
            historyWith(MessageKind::Call, u"<partlist type=\"missed\"/>"_s);
        for (const bool callFirst : {false, true}) {
            const ChatHistory merged =
                callFirst ? mergeHistories({described, plain}) : mergeHistories({plain, described});
            QCOMPARE(merged.chats.size(), size_t(1));
            QCOMPARE(merged.chats[0].messages.size(), size_t(1));
            QCOMPARE(merged.chats[0].messages[0].kind, MessageKind::Call);
            QCOMPARE(messagePlainText(merged.chats[0].messages[0]), QStringLiteral("Missed call"));
        }
    }
};

QTEST_GUILESS_MAIN(TestMessageParts)
#include "test_message_parts.moc"
