#include "chat/body_markup.h"
#include "chat/export_reader.h"
#include "chat/history_loader.h"
#include "chat/legacy_db_reader.h"
#include "chat/message_parts.h"
#include "history_files.h"
#include "local_zone.h"
#include "one_message.h"
#include "test_data.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <string>

using namespace velmoran;
using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(velmoran::MessageKind)

namespace {

QString plainOf(std::string_view markup)
{
    std::string plain;
    appendPlainText(markup, plain);
    return QString::fromUtf8(plain.data(), qsizetype(plain.size()));
}

// As the export reader reads a text: an escaped lone surrogate is U+FFFD.
QString plainOf(const QString& markup)
{
    QString repaired = markup;
    for (qsizetype i = 0; i < repaired.size(); ++i) {
        if (repaired[i].isHighSurrogate() && i + 1 < repaired.size()
            && repaired[i + 1].isLowSurrogate())
            ++i;
        else if (repaired[i].isSurrogate())
            repaired[i] = QChar::ReplacementCharacter;
    }
    const QByteArray utf8 = repaired.toUtf8();
    return plainOf(std::string_view(utf8.constData(), size_t(utf8.size())));
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

} // namespace

class TestMessageParts : public QObject {
    Q_OBJECT

private slots:
    void exportMessages_data();
    void exportMessages();
    void legacyRows_data();
    void legacyRows();
    void legacyTableWithoutTypes();
    void hostileMarkup_data();
    void hostileMarkup();
    void links_data();
    void links();
    void linksAreBounded_data();
    void linksAreBounded();
    void partsCarryTheirDetails();
    void namesComeFromTheView();
    void mergeKeepsWhatAMessageIs();
    void bodiesOfTestDataAreThePlainTextOfTheirContent();
};

void TestMessageParts::exportMessages_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("content");
    QTest::addColumn<QByteArray>("properties");
    QTest::addColumn<MessageKind>("kind");
    QTest::addColumn<QString>("plain");

    const QString call = QStringLiteral("<partlist type=\"%1\" alt=\"\">%2</partlist>");
    const QString part = QStringLiteral(
        "<part identity=\"live:anna\"><name>Anna</name><duration>%1</duration></part>");
    QTest::newRow("text") << "Text"
                          << "hello" << QByteArray() << MessageKind::Text << "hello";
    QTest::newRow("rich text") << "RichText"
                               << "<b>bold</b> &amp; <i>more</i>" << QByteArray()
                               << MessageKind::Text << "bold & more";
    QTest::newRow("call ended") << "Event/Call" << call.arg(u"ended", part.arg(2160))
                                << QByteArray() << MessageKind::Call << "Call, 36 min";
    QTest::newRow("call, longest part counts")
        << "Event/Call" << call.arg(u"ended", part.arg(10) + part.arg(95)) << QByteArray()
        << MessageKind::Call << "Call, 2 min";
    QTest::newRow("call of hours") << "Event/Call" << call.arg(u"ended", part.arg(3725))
                                   << QByteArray() << MessageKind::Call << "Call, 1 h 2 min";
    QTest::newRow("call of seconds") << "Event/Call" << call.arg(u"ended", part.arg(u"42.4"))
                                     << QByteArray() << MessageKind::Call << "Call, 42 s";
    QTest::newRow("missed call") << "Event/Call" << call.arg(u"missed", QString()) << QByteArray()
                                 << MessageKind::Call << "Missed call";
    QTest::newRow("call started") << "Event/Call" << call.arg(u"started", QString()) << QByteArray()
                                  << MessageKind::Call << "Call started";
    QTest::newRow("call ended, no duration")
        << "Event/Call" << call.arg(u"ended", part.arg(u"soon")) << QByteArray()
        << MessageKind::Call << "Call ended";
    QTest::newRow("deleted") << "RichText" << QString() << QByteArray(R"({"deletetime":"1600"})")
                             << MessageKind::Deleted << "This message was deleted";
    QTest::newRow("deleted by an edit to nothing")
        << "RichText" << QString() << QByteArray(R"({"edittime":1600})") << MessageKind::Deleted
        << "This message was deleted";
    QTest::newRow("empty, nothing told")
        << "RichText" << QString() << QByteArray() << MessageKind::Text << "(no text)";
    QTest::newRow("edited, marker in the content")
        << "RichText"
        << "hello<e_m a=\"live:anna\" ts_ms=\"1600000000000\" ts=\"1600000000\" t=\"61\"></e_m>"
        << QByteArray() << MessageKind::Text << "hello (edited)";
    QTest::newRow("edited, time in the properties")
        << "RichText"
        << "hello" << QByteArray(R"({"edittime":"1600000000000","isserversidegenerated":true})")
        << MessageKind::Text << "hello (edited)";
    QTest::newRow("other properties tell nothing")
        << "RichText"
        << "hello" << QByteArray(R"({"urlpreviews":"[]","edittime":null})") << MessageKind::Text
        << "hello";
    QTest::newRow("quote") << "RichText" << quoteMarkup << QByteArray() << MessageKind::Text
                           << quotePlain;
    QTest::newRow("quote, edited")
        << "RichText" << quoteMarkup << QByteArray(R"({"edittime":"1600000000000"})")
        << MessageKind::Text << quotePlain + u" (edited)"_s;
    QTest::newRow("member added")
        << "ThreadActivity/AddMember"
        << "<addmember><eventtime>1600000000000</eventtime><initiator>8:live:anna</initiator>"
           "<target>8:bob</target></addmember>"
        << QByteArray() << MessageKind::MembersAdded << "Anna added bob";
    QTest::newRow("members added")
        << "ThreadActivity/AddMember"
        << "<addmember><initiator>8:live:anna</initiator><target>8:bob</target>"
           "<target>8:carl</target><target>8:dan</target></addmember>"
        << QByteArray() << MessageKind::MembersAdded << "Anna added bob, carl and dan";
    QTest::newRow("member removed")
        << "ThreadActivity/DeleteMember"
        << "<deletemember><initiator>8:live:anna</initiator><target>8:bob</target></deletemember>"
        << QByteArray() << MessageKind::MembersRemoved << "Anna removed bob";
    QTest::newRow("member left")
        << "ThreadActivity/DeleteMember"
        << "<deletemember><initiator>8:bob</initiator><target>8:bob</target></deletemember>"
        << QByteArray() << MessageKind::MembersRemoved << "bob left";
    QTest::newRow("topic")
        << "ThreadActivity/TopicUpdate"
        << "<topicupdate><eventtime>1</eventtime><initiator>8:live:anna</initiator>"
           "<value>Trip &amp; plans</value></topicupdate>"
        << QByteArray() << MessageKind::TopicChanged
        << "Anna changed the topic to \"Trip & plans\"";
    QTest::newRow("file")
        << "RichText/Media_GenericFile"
        << "<URIObject uri=\"https://api.example/v1/objects/0-weu-d3-7f\" type=\"File.1\">"
           "To view this file, go to: <a href=\"https://x.example\">https://x.example</a>"
           "<OriginalName v=\"Budget &amp; plan.xlsx\"/><FileSize v=\"48213\"/></URIObject>"
        << QByteArray() << MessageKind::File << "File: Budget & plan.xlsx (47.1 KiB)";
    QTest::newRow("picture")
        << "RichText/UriObject"
        << "<URIObject type=\"Picture.1\" uri=\"https://media.example/objects/0-1\">"
           "<OriginalName v=\"IMG_1.jpg\"/>To view this shared photo, go to: x</URIObject>"
        << QByteArray() << MessageKind::Picture << "Picture: IMG_1.jpg";
    QTest::newRow("an event not described")
        << "ThreadActivity/PictureUpdate"
        << "<pictureupdate><initiator>8:live:anna</initiator></pictureupdate>" << QByteArray()
        << MessageKind::Other << "(no text)";
}

void TestMessageParts::exportMessages()
{
    QFETCH(QString, type);
    QFETCH(QString, content);
    QFETCH(QByteArray, properties);
    QFETCH(MessageKind, kind);
    QFETCH(QString, plain);
    const test::LocalZone utc("UTC");
    const ChatHistory history =
        parseExportJson(test::exportWithOneMessage(type, content, properties), QStringLiteral("t"));
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
    const ChatHistory windowed = parseExportJsonInWindows(
        test::exportWithOneMessage(type, content, properties), QStringLiteral("t"), 64, nullptr);
    QVERIFY(onlyMessage(windowed));
    QCOMPARE(onlyMessage(windowed)->kind, kind);
    QCOMPARE(onlyMessage(windowed)->markup, message->markup);
}

void TestMessageParts::legacyRows_data()
{
    QTest::addColumn<QVariant>("type");
    QTest::addColumn<QVariant>("body");
    QTest::addColumn<QVariant>("identities");
    QTest::addColumn<QVariant>("edited");
    QTest::addColumn<MessageKind>("kind");
    QTest::addColumn<QString>("plain");

    const QVariant null;
    QTest::newRow("text") << QVariant(61) << QVariant(u"hi &amp; bye"_s) << null << null
                          << MessageKind::Text << "hi & bye";
    QTest::newRow("edited") << QVariant(61) << QVariant(u"hi"_s) << null << QVariant(1682935300)
                            << MessageKind::Text << "hi (edited)";
    QTest::newRow("deleted") << QVariant(61) << null << null << QVariant(1682935300)
                             << MessageKind::Deleted << "This message was deleted";
    QTest::newRow("quote") << QVariant(61) << QVariant(quoteMarkup) << null << null
                           << MessageKind::Text << quotePlain;
    QTest::newRow("call started, no markup")
        << QVariant(30) << null << null << null << MessageKind::Call << "Call started";
    QTest::newRow("call ended, no markup")
        << QVariant(39) << null << null << null << MessageKind::Call << "Call ended";
    QTest::newRow("call ended with its parts")
        << QVariant(39)
        << QVariant(u"<partlist type=\"ended\" alt=\"\"><part identity=\"live:anna\">"
                    "<duration>65</duration></part></partlist>"_s)
        << null << null << MessageKind::Call << "Call, 1 min";
    QTest::newRow("members added") << QVariant(10) << null << QVariant(u"bob carl"_s) << null
                                   << MessageKind::MembersAdded << "Anna added bob and carl";
    QTest::newRow("member removed") << QVariant(12) << null << QVariant(u"bob"_s) << null
                                    << MessageKind::MembersRemoved << "Anna removed bob";
    QTest::newRow("member left") << QVariant(13) << null << null << null
                                 << MessageKind::MembersRemoved << "Anna left";
    QTest::newRow("ids are escaped") << QVariant(10) << null << QVariant(u"<b>&x"_s) << null
                                     << MessageKind::MembersAdded << "Anna added <b>&x";
    QTest::newRow("topic") << QVariant(2) << QVariant(u"New &amp; topic"_s) << null << null
                           << MessageKind::TopicChanged
                           << "Anna changed the topic to \"New & topic\"";
    QTest::newRow("files")
        << QVariant(68)
        << QVariant(u"<files alt=\"\"><file size=\"2048\" index=\"0\" tid=\"1\">report.pdf</file>"
                    "<file size=\"10\" index=\"1\" tid=\"2\">a.txt</file></files>"_s)
        << null << null << MessageKind::File
        << "File: report.pdf (2.0 KiB)\nFile: a.txt (10 bytes)";
    QTest::newRow("picture")
        << QVariant(201)
        << QVariant(u"<URIObject type=\"Picture.1\" uri=\"https://m.example/objects/0-2\">"
                    "<OriginalName v=\"x.jpg\"/><FileSize v=\"5\"/></URIObject>"_s)
        << null << null << MessageKind::Picture << "Picture: x.jpg (5 bytes)";
    QTest::newRow("an event not described")
        << QVariant(50) << null << null << null << MessageKind::Other << "(no text)";
}

void TestMessageParts::legacyRows()
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

void TestMessageParts::legacyTableWithoutTypes()
{
    // The oldest tables have none of the columns that tell what a message is.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("main.db"));
    QCOMPARE(test::writeDatabase(
                 path, "CREATE TABLE Contacts (skypename TEXT);"
                       "CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type "
                       "INTEGER);"
                       "CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER, author "
                       "TEXT, from_dispname TEXT, timestamp INTEGER, body_xml TEXT);"
                       "INSERT INTO Conversations VALUES (1, 'anna', 1);"
                       "INSERT INTO Messages VALUES (1, 1, 'anna', 'Anna', 1600000000, 'hi'),"
                       " (2, 1, 'anna', 'Anna', 1600000001, NULL);"),
             QString());
    const ChatHistory history = readLegacyDatabase(path);
    QCOMPARE(history.chats.size(), size_t(1));
    const std::vector<HistoryMessage>& messages = history.chats[0].messages;
    QCOMPARE(messages.size(), size_t(2));
    QCOMPARE(messages[0].kind, MessageKind::Text);
    QCOMPARE(messagePlainText(messages[0]), QStringLiteral("hi"));
    QCOMPARE(messages[1].kind, MessageKind::Text);
    QCOMPARE(messagePlainText(messages[1]), QStringLiteral("(no text)"));
}

void TestMessageParts::hostileMarkup_data()
{
    QTest::addColumn<MessageKind>("kind");
    QTest::addColumn<QString>("markup");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("plain");

    const QString deep = QStringLiteral("<b>").repeated(100000) + QStringLiteral("x")
                         + QStringLiteral("</b>").repeated(100000);
    QTest::newRow("unclosed quote: the body")
        << MessageKind::Text << "<quote author=\"a\" authorname=\"A\">abc"
        << "abc"
        << "abc";
    QTest::newRow("deep nesting in a quote")
        << MessageKind::Text << u"<quote authorname=\"A\">"_s + deep + u"</quote>reply"_s
        << "xreply"
        << "> A: x\nreply";
    QTest::newRow("deep nesting, never closed")
        << MessageKind::Text << u"<quote>"_s + QStringLiteral("<b>").repeated(200000) << "body"
        << "body";
    QTest::newRow("unknown entity: the body")
        << MessageKind::Text << "<quote authorname=\"A\">&bogus;</quote>r"
        << "&bogus;r"
        << "&bogus;r";
    QTest::newRow("entities of bodies")
        << MessageKind::Text << "<quote authorname=\"A\">a&nbsp;b&hellip;</quote>r"
        << "x"
        << "> A: a\u00a0b\u2026\nr";
    QTest::newRow("entity definitions are refused")
        << MessageKind::Text
        << "<!DOCTYPE m [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
           "<quote authorname=\"A\">&b;</quote>"
        << "body"
        << "body";
    QTest::newRow("markup of a megabyte and more: the body")
        << MessageKind::Text
        << u"<quote authorname=\"A\">"_s + QString(1 << 20, u'a') + u"</quote>r"_s << "short"
        << "short";
    QTest::newRow("call, broken") << MessageKind::Call << "<partlist type=\"ended\"><duration>12"
                                  << ""
                                  << "Call ended";
    QTest::newRow("call, no markup") << MessageKind::Call << ""
                                     << ""
                                     << "Call";
    QTest::newRow("call, huge duration")
        << MessageKind::Call << "<partlist type=\"ended\"><duration>1e300</duration></partlist>"
        << ""
        << "Call ended";
    QTest::newRow("call, negative duration")
        << MessageKind::Call << "<partlist type=\"ended\"><duration>-5</duration></partlist>"
        << ""
        << "Call ended";
    QTest::newRow("members, no markup") << MessageKind::MembersAdded << ""
                                        << ""
                                        << "Anna added members";
    QTest::newRow("topic, broken") << MessageKind::TopicChanged << "<topicupdate><value>x"
                                   << ""
                                   << "Anna removed the topic";
    QTest::newRow("picture, no file, no markup") << MessageKind::Picture << ""
                                                 << ""
                                                 << "Picture";
    QTest::newRow("edit marker, broken") << MessageKind::Text << "<e_m ts=\"1\""
                                         << "hello"
                                         << "hello (edited)";
    QTest::newRow("quote time of another era")
        << MessageKind::Text << "<quote authorname=\"A\" timestamp=\"99999999999999999\">q</quote>"
        << "q"
        << "> A: q";
}

void TestMessageParts::hostileMarkup()
{
    QFETCH(MessageKind, kind);
    QFETCH(QString, markup);
    QFETCH(QString, body);
    QFETCH(QString, plain);
    HistoryMessage message;
    message.senderId = QStringLiteral("live:anna");
    message.senderDisplayName = QStringLiteral("Anna");
    message.kind = kind;
    message.markup = markup;
    message.body = body;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(messagePlainText(message), plain);
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
}

void TestMessageParts::links_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("links");

    QTest::newRow("none") << "no link here: at all" << QStringList();
    QTest::newRow("https, sentence punctuation after")
        << "see https://a.example/p?q=1&r=2, ok." << QStringList{u"https://a.example/p?q=1&r=2"_s};
    QTest::newRow("http at the end")
        << "at http://a.example/x." << QStringList{u"http://a.example/x"_s};
    QTest::newRow("in parentheses")
        << "(see http://a.example/x)" << QStringList{u"http://a.example/x"_s};
    QTest::newRow("parentheses of the link")
        << "http://a.example/wiki/Foo_(bar)" << QStringList{u"http://a.example/wiki/Foo_(bar)"_s};
    QTest::newRow("mailto") << "write mailto:anna@example.com!"
                            << QStringList{u"mailto:anna@example.com"_s};
    QTest::newRow("letter case of the scheme")
        << "HTTPS://A.EXAMPLE/x" << QStringList{u"HTTPS://A.EXAMPLE/x -> https://a.example/x"_s};
    QTest::newRow("two") << "http://a.example and https://b.example/"
                         << QStringList{u"http://a.example"_s, u"https://b.example/"_s};
    QTest::newRow("javascript") << "javascript:alert(1) javascript://a.example/%0aalert(1)"
                                << QStringList();
    QTest::newRow("other schemes")
        << "file:///etc/passwd data:text/html,<b> ftp://a.example" << QStringList();
    QTest::newRow("scheme inside a word") << "xhttp://a.example notmailto:a@b" << QStringList();
    QTest::newRow("no host") << "https:// http:/a.example http:" << QStringList();
    QTest::newRow("mailto without address")
        << "mailto: mailto:nobody mailto://a@b" << QStringList();
    QTest::newRow("ends at markup characters")
        << "<http://a.example/x>\"http://b.example\""
        << QStringList{u"http://a.example/x"_s, u"http://b.example"_s};
}

void TestMessageParts::links()
{
    QFETCH(QString, text);
    QFETCH(QStringList, links);
    QCOMPARE(linkTexts(text), links);
    HistoryMessage message;
    message.body = text;
    const std::vector<MessagePart> parts = decodeMessageParts(message);
    QCOMPARE(parts.size(), size_t(1));
    QCOMPARE(std::get<TextPart>(parts[0]).links.size(), size_t(links.size()));
}

void TestMessageParts::linksAreBounded_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("links");
    QTest::newRow("schemes without end") << QStringLiteral("(http:").repeated(200000) << 0;
    QTest::newRow("colons") << QString(1 << 20, u':') << 0;
    QTest::newRow("a link too long")
        << QStringLiteral("http://a.example/") + QString(5000, u'a') << 0;
    QTest::newRow("many links") << QStringLiteral("http://a.example ").repeated(10000) << 256;
}

void TestMessageParts::linksAreBounded()
{
    QFETCH(QString, text);
    QFETCH(int, links);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(int(findLinks(text).size()), links);
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
}

void TestMessageParts::partsCarryTheirDetails()
{
    HistoryMessage message;
    message.body = QStringLiteral("ignored");
    message.markup =
        quoteMarkup + QStringLiteral(" at https://a.example<e_m ts=\"1600000000\"></e_m>");
    const std::vector<MessagePart> parts = decodeMessageParts(message);
    QCOMPARE(parts.size(), size_t(3));
    const auto& quote = std::get<QuotePart>(parts[0]);
    QCOMPARE(quote.authorId, QStringLiteral("me.myself"));
    QCOMPARE(quote.authorName, QStringLiteral("Me Myself"));
    QCOMPARE(quote.timeMs, qint64(1730797200000));
    QCOMPARE(quote.text, QStringLiteral("see you at 10\nby the <gate>"));
    const auto& text = std::get<TextPart>(parts[1]);
    QCOMPARE(text.text, QStringLiteral("sounds good at https://a.example"));
    QCOMPARE(text.links.size(), size_t(1));
    QCOMPARE(text.links[0].start, qsizetype(15));
    QCOMPARE(text.links[0].url, QUrl(QStringLiteral("https://a.example")));
    QCOMPARE(std::get<EditedPart>(parts[2]).timeMs, qint64(1600000000000));

    HistoryMessage file;
    file.kind = MessageKind::File;
    file.file = std::make_shared<const SharedFile>(
        SharedFile{QStringLiteral("0-weu-d3-7f"), QStringLiteral("a.pdf"), 12});
    const std::vector<MessagePart> fileParts = decodeMessageParts(file);
    QCOMPARE(fileParts.size(), size_t(1));
    const auto& shared = std::get<FilePart>(fileParts[0]);
    QCOMPARE(shared.objectId, QStringLiteral("0-weu-d3-7f"));
    QCOMPARE(shared.fileName, QStringLiteral("a.pdf"));
    QCOMPARE(shared.size, qint64(12));
    QVERIFY(!shared.picture);

    HistoryMessage call;
    call.kind = MessageKind::Call;
    call.markup = QStringLiteral("<partlist type=\"missed\"><part><duration>3</duration></part>"
                                 "</partlist>");
    const std::vector<MessagePart> callParts = decodeMessageParts(call);
    const auto& callPart = std::get<CallPart>(callParts.at(0));
    QCOMPARE(callPart.state, CallState::Missed);
    QCOMPARE(callPart.durationSeconds, qint64(3));
}

void TestMessageParts::namesComeFromTheView()
{
    const ChatHistory history = parseExportJson(
        test::exportWithOneMessage(QStringLiteral("ThreadActivity/AddMember"),
                                   QStringLiteral("<addmember><initiator>8:live:anna</initiator>"
                                                  "<target>8:bob</target><target>8:carl</target>"
                                                  "</addmember>")),
        QStringLiteral("t"));
    const HistoryMessage* message = onlyMessage(history);
    QVERIFY(message);
    const PersonName names = [](const QString& id) {
        return id == u"bob" ? QStringLiteral("Bob Builder") : QString();
    };
    QCOMPARE(messagePlainText(*message, names), QStringLiteral("Anna added Bob Builder and carl"));
    const std::vector<MessagePart> parts = decodeMessageParts(*message);
    const auto& members = std::get<MembersPart>(parts.at(0));
    QVERIFY(members.added);
    QCOMPARE(members.initiatorId, QStringLiteral("live:anna"));
    QCOMPARE(members.memberIds, (QStringList{u"bob"_s, u"carl"_s}));
}

void TestMessageParts::mergeKeepsWhatAMessageIs()
{
    // The same call in two files: one tells only that there was a message, the other what it was.
    auto historyWith = [](MessageKind kind, const QString& markup) {
        auto history = std::make_shared<ChatHistory>();
        HistoryChat chat;
        chat.peerHandle = QStringLiteral("anna");
        chat.id = QStringLiteral("8:anna");
        HistoryMessage message;
        message.timestampMs = 1600000000000;
        message.senderId = QStringLiteral("anna");
        message.senderDisplayName = QStringLiteral("Anna");
        message.kind = kind;
        message.markup = markup;
        chat.messages.push_back(message);
        history->contacts << chat.peerHandle;
        history->chats.push_back(chat);
        return ChatHistoryPtr(history);
    };
    const QString call = QStringLiteral("<partlist type=\"missed\"/>");
    for (const bool callFirst : {false, true}) {
        const ChatHistoryPtr plain = historyWith(MessageKind::Text, QString());
        const ChatHistoryPtr described = historyWith(MessageKind::Call, call);
        const ChatHistory merged =
            callFirst ? mergeHistories({described, plain}) : mergeHistories({plain, described});
        QCOMPARE(merged.chats.size(), size_t(1));
        QCOMPARE(merged.chats[0].messages.size(), size_t(1));
        QCOMPARE(merged.chats[0].messages[0].kind, MessageKind::Call);
        QCOMPARE(messagePlainText(merged.chats[0].messages[0]), QStringLiteral("Missed call"));
    }
}

void TestMessageParts::bodiesOfTestDataAreThePlainTextOfTheirContent()
{
    // Every message of every export in tests/data: its body is the plain text of its content
    // (text messages) or empty, whatever else the reader now keeps.
    const QStringList files =
        QDir(QStringLiteral(VELMORAN_TEST_DATA)).entryList({QStringLiteral("*.json")}, QDir::Files);
    QVERIFY(!files.isEmpty());
    for (const QString& file : files) {
        const QByteArray json = test::readFixture(file.toUtf8().constData());
        const ChatHistory history = parseExportJson(json, file);
        const QJsonArray conversations =
            QJsonDocument::fromJson(json).object().value(u"conversations").toArray();
        // By conversation id (an export may list one id twice).
        QHash<QString, QStringList> expected;
        qsizetype expectedCount = 0, readCount = 0;
        for (const QJsonValue& conversation : conversations) {
            QStringList& bodies = expected[conversation[u"id"].toString()];
            for (const QJsonValue& m : conversation[u"MessageList"].toArray()) {
                const QString type = m[u"messagetype"].toString();
                const bool text = type == u"Text" || type.startsWith(u"RichText");
                bodies << (text ? plainOf(m[u"content"].toString()) : QString());
                ++expectedCount;
            }
        }
        for (const HistoryChat& chat : history.chats) {
            for (const HistoryMessage& message : chat.messages) {
                ++readCount;
                QVERIFY2(expected[chat.id].removeOne(message.body),
                         qPrintable(file + u": "_s + message.body));
            }
        }
        QCOMPARE(readCount, expectedCount - history.skippedMessages);
    }
}

QTEST_GUILESS_MAIN(TestMessageParts)
#include "test_message_parts.moc"
