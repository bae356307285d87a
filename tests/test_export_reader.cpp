#include "chat/body_markup.h"
#include "chat/export_reader.h"
#include "core/failure.h"
#include "history_files.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace velmoran;
using velmoran::test::failureOf;

namespace {

// A small export covering every kind of conversation and message the reader must map.
QByteArray readFixture(const char* name)
{
    QFile file(QStringLiteral(VELMORAN_TEST_DATA "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test fixture %s", name);
    return file.readAll();
}

const QByteArray exportJson = readFixture("export_small.json");

qint64 ms(const char* iso)
{
    qint64 value = 0;
    if (!parseIsoTimestampMs(iso, value))
        qFatal("bad test timestamp %s", iso);
    return value;
}

QString plain(const QByteArray& markup)
{
    std::string out;
    appendPlainText(std::string_view(markup.constData(), size_t(markup.size())), out);
    return QString::fromStdString(out);
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
        QCOMPARE(anna[0].timestampMs, ms("2021-03-04T05:06:07Z"));
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
        const ChatHistory history = parseExportJson(
            "{\"conversations\":[{\"id\":\"8:a\",\"MessageList\":["
            "{\"originalarrivaltime\":\"2021-03-04T05:06:07Z\",\"messagetype\":\"Text\",\"from\":\"8:a\"},"
            "{\"originalarrivaltime\":\"2021-03-04T05:06:08Z\",\"messagetype\":\"RichText\",\"content\":null}]}]}",
            QStringLiteral("messages.json"));
        QCOMPARE(history.chats[0].messages.size(), size_t(2));
        QCOMPARE(history.chats[0].messages[0].body, QString());
        QCOMPARE(history.chats[0].messages[1].body, QString());
        // No name and no sender id: the sender is empty rather than made up.
        QCOMPARE(history.chats[0].messages[1].senderDisplayName, QString());
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
        QTest::newRow("tags keep inner text") << QByteArray("<b>a</b><i>b</i><s>c</s>") << QStringLiteral("abc");
        QTest::newRow("attributes with > inside quotes")
            << QByteArray("<a href=\"x>y\" title='1>2'>go</a>") << QStringLiteral("go");
        QTest::newRow("self-closing") << QByteArray("a<br/>b") << QStringLiteral("ab");
        QTest::newRow("emoticon keeps its text") << QByteArray("<ss type=\"smile\">:)</ss>") << QStringLiteral(":)");
        QTest::newRow("edit marker dropped")
            << QByteArray("fixed<e_m ts=\"1\" a=\"x\" t=\"61\"></e_m>") << QStringLiteral("fixed");
        QTest::newRow("self-closing edit marker") << QByteArray("fixed<e_m ts=\"1\"/>!") << QStringLiteral("fixed!");
        QTest::newRow("xml entities") << QByteArray("&lt;&gt;&amp;&quot;&apos;") << QStringLiteral("<>&\"'");
        QTest::newRow("html entities") << QByteArray("a&nbsp;b&hellip;&euro;") << QStringLiteral("a\u00a0b\u2026\u20ac");
        QTest::newRow("numeric references") << QByteArray("&#39;&#x1F600;&#X41;") << QStringLiteral("'\U0001F600A");
        QTest::newRow("double-escaped stays once decoded") << QByteArray("&amp;lt;") << QStringLiteral("&lt;");
        QTest::newRow("unknown entity kept") << QByteArray("&bogus; &amp") << QStringLiteral("&bogus; &amp");
        QTest::newRow("invalid code points kept")
            << QByteArray("&#0;&#xD800;&#x110000;&#99999999999;") << QStringLiteral("&#0;&#xD800;&#x110000;&#99999999999;");
        QTest::newRow("lone angle brackets") << QByteArray("a < b > c <3 <") << QStringLiteral("a < b > c <3 <");
        QTest::newRow("unterminated tag") << QByteArray("x <b unterminated") << QStringLiteral("x <b unterminated");
        QTest::newRow("unterminated quote") << QByteArray("<a href=\"x>y") << QStringLiteral("<a href=\"x>y");
        QTest::newRow("comment dropped") << QByteArray("a<!-- <b>no</b> -->b") << QStringLiteral("ab");
        QTest::newRow("cdata kept") << QByteArray("<![CDATA[<b>&amp;</b>]]>") << QStringLiteral("<b>&amp;</b>");
        QTest::newRow("nested quote") << QByteArray("<quote author=\"a\"><legacyquote>[1] a: </legacyquote>hi</quote>ok")
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
        QTest::newRow("one digit") << QStringLiteral("1970-01-01T00:00:00.5Z") << true << qint64(500);
        QTest::newRow("two digits") << QStringLiteral("1970-01-01T00:00:00.05Z") << true << qint64(50);
        QTest::newRow("three digits") << QStringLiteral("2021-03-04T05:06:07.890Z") << true << qint64(1614834367890);
        QTest::newRow("more digits cut") << QStringLiteral("2021-03-04T05:06:07.8909Z") << true << qint64(1614834367890);
        QTest::newRow("offset") << QStringLiteral("2021-03-04T07:06:07.890+02:00") << true << qint64(1614834367890);
        QTest::newRow("leap day") << QStringLiteral("2020-02-29T12:00:00Z") << true << qint64(1582977600000);
        QTest::newRow("before epoch") << QStringLiteral("1969-12-31T23:59:59Z") << true << qint64(-1000);
        QTest::newRow("no zone") << QStringLiteral("2021-03-04T05:06:07") << false << qint64(0);
        QTest::newRow("no day 30 in February") << QStringLiteral("2021-02-30T05:06:07Z") << false << qint64(0);
        QTest::newRow("hour 24") << QStringLiteral("2021-03-04T24:00:00Z") << false << qint64(0);
        QTest::newRow("empty fraction") << QStringLiteral("2021-03-04T05:06:07.Z") << false << qint64(0);
        QTest::newRow("trailing text") << QStringLiteral("2021-03-04T05:06:07Zx") << false << qint64(0);
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
        QCOMPARE(parseIsoTimestampMs(std::string_view(utf8.constData(), size_t(utf8.size())), value), valid);
        if (valid)
            QCOMPARE(value, expected);
    }

    void badJsonFailsWithTheReason_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("reason");
        const QByteArray message = "{\"id\":\"1\",\"originalarrivaltime\":\"2021-03-04T05:06:07Z\",\"messagetype\":\"Text\",\"content\":\"x\",\"from\":\"8:a\"}";
        QTest::newRow("empty") << QByteArray() << QStringLiteral("no JSON");
        QTest::newRow("blank") << QByteArray("   \n") << QStringLiteral("no JSON");
        QTest::newRow("truncated") << exportJson.left(exportJson.size() / 2) << QStringLiteral("not valid JSON");
        QTest::newRow("truncated in a string") << QByteArray("{\"conversations\":[{\"id\":\"8:a") << QStringLiteral("not valid JSON");
        QTest::newRow("garbage") << QByteArray("hello") << QStringLiteral("not a JSON object");
        QTest::newRow("not an object") << QByteArray("[1,2]") << QStringLiteral("not a JSON object");
        QTest::newRow("no conversations") << QByteArray("{\"userId\":\"8:x\"}") << QStringLiteral("no \"conversations\"");
        QTest::newRow("conversations not a list") << QByteArray("{\"conversations\":5}")
                                                  << QStringLiteral("\"conversations\" is not a list");
        QTest::newRow("conversation not an object") << QByteArray("{\"conversations\":[true]}")
                                                    << QStringLiteral("a list of objects");
        QTest::newRow("no id") << QByteArray("{\"conversations\":[{\"MessageList\":[]}]}") << QStringLiteral("conversation 1 has no \"id\"");
        QTest::newRow("id a number") << QByteArray("{\"conversations\":[{\"id\":8,\"MessageList\":[]}]}")
                                     << QStringLiteral("\"id\" is not a text");
        QTest::newRow("no message list") << QByteArray("{\"conversations\":[{\"id\":\"8:a\"}]}") << QStringLiteral("no \"MessageList\"");
        QTest::newRow("message list an object") << QByteArray("{\"conversations\":[{\"id\":\"8:a\",\"MessageList\":{}}]}")
                                                << QStringLiteral("\"MessageList\" is not a list");
        QTest::newRow("content a number")
            << QByteArray("{\"conversations\":[{\"id\":\"8:a\",\"MessageList\":[" + message + ",{\"originalarrivaltime\":\"2021-03-04T05:06:07Z\",\"content\":5}]}]}")
            << QStringLiteral("conversation 1, message 2: \"content\" is not a text");
        QTest::newRow("no arrival time") << QByteArray("{\"conversations\":[{\"id\":\"8:a\",\"MessageList\":[{\"content\":\"x\"}]}]}")
                                         << QStringLiteral("message 1 has no \"originalarrivaltime\"");
        QTest::newRow("bad arrival time") << QByteArray("{\"conversations\":[{\"id\":\"8:a\",\"MessageList\":[{\"originalarrivaltime\":\"yesterday\"}]}]}")
                                          << QStringLiteral("\"yesterday\" is no date and time");
        QTest::newRow("absurd nesting") << QByteArray("{\"conversations\":") + QByteArray(100000, '[') + QByteArray(100000, ']') + "}"
                                        << QStringLiteral("a list of objects");
        QTest::newRow("absurd nesting left open") << QByteArray("{\"conversations\":[{\"id\":\"8:a\",\"properties\":") + QByteArray(100000, '[')
                                                  << QStringLiteral("not valid JSON");
        QTest::newRow("invalid utf-8") << QByteArray("{\"conversations\":[{\"id\":\"8:\xff\xfe\",\"MessageList\":[]}]}")
                                       << QStringLiteral("not valid UTF-8");
        QTest::newRow("lone surrogate escape")
            << QByteArray("{\"conversations\":[{\"id\":\"8:a\",\"MessageList\":[{\"originalarrivaltime\":\"2021-03-04T05:06:07Z\",\"messagetype\":\"Text\",\"content\":\"\\ud800x\"}]}]}")
            << QStringLiteral("not valid JSON");
        QTest::newRow("second document") << QByteArray("{\"conversations\":[]} {\"x\":1}") << QStringLiteral("goes on after its end");
    }

    void badJsonFailsWithTheReason()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, reason);
        const QString description = failureOf([&] { parseExportJson(json, QStringLiteral("/tmp/some messages.json")); });
        QVERIFY2(description.contains(reason), qPrintable(description));
        QVERIFY2(description.contains(QStringLiteral("\"/tmp/some messages.json\" cannot be read")), qPrintable(description));
    }

    void deepNestingInIgnoredFieldsIsSkipped()
    {
        const QByteArray json = QByteArray("{\"conversations\":[{\"id\":\"8:a\",\"properties\":") + QByteArray(100000, '[')
                                + QByteArray(100000, ']') + QByteArray(",\"MessageList\":[]}]}");
        QCOMPARE(parseExportJson(json, QStringLiteral("deep.json")).contacts, QStringList{QStringLiteral("a")});
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

    void badArchivesFailWithTheReason()
    {
        QTemporaryDir dir;
        const QString noJson = dir.filePath(QStringLiteral("a.tar"));
        QVERIFY(test::writeTar(noJson, {{QStringLiteral("media/photo.jpg"), QByteArray(100, 'j')}}));
        QVERIFY(failureOf([&] { readExportArchive(noJson); }).contains(QStringLiteral("holds no messages.json")));

        const QString full = dir.filePath(QStringLiteral("b.tar"));
        QVERIFY(test::writeTar(full, {{QStringLiteral("messages.json"), exportJson}}));
        QFile file(full);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const QString cut = dir.filePath(QStringLiteral("c.tar"));
        QVERIFY(test::writeBytes(cut, bytes.left(512 + exportJson.size() / 2)));
        QVERIFY(failureOf([&] { readExportArchive(cut); }).contains(QStringLiteral("\"") + cut + QStringLiteral("\" cannot be read")));

        const QString text = dir.filePath(QStringLiteral("d.tar"));
        QVERIFY(test::writeBytes(text, QByteArray("this is no archive at all, just a line of text\n")));
        QVERIFY(!failureOf([&] { readExportArchive(text); }).isEmpty());

        QVERIFY(failureOf([&] { readExportArchive(dir.filePath(QStringLiteral("missing.tar"))); }).contains(QStringLiteral("missing.tar")));
        QVERIFY(failureOf([&] { readExportJson(dir.filePath(QStringLiteral("missing.json"))); }).contains(QStringLiteral("missing.json")));
    }
};

QTEST_GUILESS_MAIN(ExportReaderTest)
#include "test_export_reader.moc"
