// The archive of a small made-up export: every link resolves inside it, hostile texts stay
// text, months split into parts, conversation.txt is the window's copy format, shared files
// copied, missing or left out, and a stopped archive leaves nothing.
#include "archive/archive_folder.h"
#include "archive/archive_writer.h"
#include "archive_links.h"
#include "chat/history_loader.h"
#include "chat/message_text.h"
#include "export_builder.h"
#include "history_builder.h"
#include "history_files.h"

#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace velmoran;
using namespace velmoran::test;
using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray Png = QByteArray("\x89PNG\r\n\x1A\n", 8) + QByteArray(32, '\0');

QString fileMessage(const QString& objectId, const QString& name, const char* type = "File.1")
{
    return QStringLiteral("<URIObject uri=\"https://api.example/v1/objects/%1\" type=\"%3\">"
                          "<OriginalName v=\"%2\"/><FileSize v=\"1200\"/></URIObject>")
        .arg(objectId, name.toHtmlEscaped(), QLatin1String(type));
}

// Anna's chat holds the hostile texts, a quote, links and files; the group a hostile name.
std::vector<ExportConversation> madeUpConversations()
{
    const QString anna = QStringLiteral("8:live:anna");
    const QString me = QStringLiteral("8:me.myself");
    ExportConversation one{anna, QStringLiteral("Anna"), {}};
    auto add = [&](const QString& from, const QString& time, const QString& content,
                   const QString& type = QStringLiteral("RichText")) {
        one.messages.push_back({from, from == anna ? QStringLiteral("Anna") : QStringLiteral("Me"),
                                QStringLiteral("2024-11-05T") + time + QStringLiteral(".000Z"),
                                content, type});
    };
    add(anna, u"09:00:00"_s, u"&lt;script&gt;alert(1)&lt;/script&gt;"_s);
    add(me, u"09:01:00"_s, u"&lt;img src=x onerror=alert(1)&gt;"_s);
    add(anna, u"09:02:00"_s, u"see https://example.org/a?b=1&amp;c=2 or javascript:alert(1)"_s);
    add(me, u"09:03:00"_s,
        u"<quote author=\"live:anna\" authorname=\"Anna\" timestamp=\"1730797200\">"
        "old words</quote>I agree"_s);
    add(anna, u"09:04:00"_s, fileMessage(u"0-weu-d1-evil"_s, u"../../evil.html"_s),
        u"RichText/Media_GenericFile"_s);
    add(anna, u"09:05:00"_s, fileMessage(u"0-weu-d1-pic"_s, u"photo"_s, "Picture.1"),
        u"RichText/UriObject"_s);
    add(anna, u"09:06:00"_s, fileMessage(u"0-weu-d1-gone"_s, u"lost.pdf"_s),
        u"RichText/Media_GenericFile"_s);
    ExportConversation group{
        u"19:team@thread.skype"_s, {}, {}, {anna, me, u"8:eve"_s}, u"Team \"<b>\" & 'q'"_s};
    group.messages.push_back({u"8:eve"_s, u"Eve \"<i>\" 'x' <b onclick=alert(1)>"_s,
                              u"2024-12-01T10:00:00.000Z"_s, u"hello"_s});
    return {one, group};
}

ChatHistory loadExport(const QString& folder, const std::vector<ExportConversation>& conversations,
                       const std::vector<std::pair<QString, QByteArray>>& media = {})
{
    std::vector<std::pair<QString, QByteArray>> members{
        {u"messages.json"_s, exportJson(u"8:me.myself"_s, conversations)}};
    members.insert(members.end(), media.begin(), media.end());
    const QString tar = folder + u"/export.tar"_s;
    if (!writeTar(tar, members))
        qFatal("cannot write the export");
    return readHistoryFile(tar);
}

} // namespace

class TestArchiveWriter : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void linksStayInside();
    void hostileTextsStayText_data();
    void hostileTextsStayText();
    void noActiveMarkup();
    void sharedFiles_data();
    void sharedFiles();
    void conversationTextIsTheCopyFormat();
    void monthsSplit_data();
    void monthsSplit();
    void indexSplits();
    void stoppedArchiveLeavesNothing();

private:
    QTemporaryDir m_dir;
    ChatHistory m_history;
    QString m_archive;
    QString m_pages; // every page's text
};

void TestArchiveWriter::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_history = loadExport(m_dir.path(), madeUpConversations(),
                           {{u"media/0-weu-d1-evil.1.html"_s, "<script>alert(1)</script>"},
                            {u"media/0-weu-d1-pic"_s, Png}});
    m_archive = m_dir.filePath(u"archive"_s);
    QVERIFY(QDir().mkdir(m_archive));
    const auto summary = writeArchive(m_history, m_archive, {});
    QVERIFY(summary);
    QCOMPARE(summary->conversations, 2);
    QCOMPARE(summary->messages, 8);
    QCOMPARE(summary->files, 2);
    for (const QString& page : filesUnder(m_archive, u"*.html"_s))
        m_pages += readText(page);
}

void TestArchiveWriter::linksStayInside()
{
    int checked = 0;
    QCOMPARE(archiveLinkFaults(m_archive, &checked), QStringList());
    QVERIFY(checked > 20);
    // The quote leads to the quoted message.
    QVERIFY(m_pages.contains(u"<a href=\"2024-11.html#m0\">"_s));
}

void TestArchiveWriter::hostileTextsStayText_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("escaped");
    QTest::newRow("script body") << u"<script>alert(1)</script>"_s
                                 << u"&lt;script&gt;alert(1)&lt;/script&gt;"_s;
    QTest::newRow("image body") << u"<img src=x onerror=alert(1)>"_s
                                << u"&lt;img src=x onerror=alert(1)&gt;"_s;
    QTest::newRow("sender name") << u"Eve \"<i>\" 'x' <b onclick=alert(1)>"_s
                                 << u"Eve &quot;&lt;i&gt;&quot; &#39;x&#39; &lt;b "
                                    "onclick=alert(1)&gt;"_s;
    QTest::newRow("group topic") << u"Team \"<b>\" & 'q'"_s
                                 << u"Team &quot;&lt;b&gt;&quot; &amp; &#39;q&#39;"_s;
    QTest::newRow("file name") << u"../../evil.html"_s << u"../../evil.html"_s;
    QTest::newRow("javascript link") << u"href=\"javascript:"_s << u"or javascript:alert(1)"_s;
}

void TestArchiveWriter::hostileTextsStayText()
{
    QFETCH(QString, raw);
    QFETCH(QString, escaped);
    QVERIFY2(m_pages.contains(escaped), qPrintable(escaped));
    if (raw != escaped)
        QVERIFY2(!m_pages.contains(raw), qPrintable(raw));
}

void TestArchiveWriter::noActiveMarkup()
{
    // Every element and attribute on every page is one the program writes.
    static const QRegularExpression tag(u"<([a-zA-Z][a-zA-Z0-9]*)([^>]*)>"_s);
    static const QRegularExpression attribute(u"\\s([a-zA-Z-]+)(=\"[^\"<>]*\")?"_s);
    static const QStringList elements =
        u"html head meta title link body nav a h1 h2 p main "
        "article b span time blockquote figure img figcaption "
        "table thead tbody tr th td svg g path rect text "
        "script form input button noscript section div"_s.split(u' ');
    static const QStringList attributes =
        u"charset name content http-equiv rel href dir class "
        "id datetime title src alt loading viewBox role "
        "aria-label x y width height d stroke-width "
        "nonce action method type placeholder hidden"_s.split(u' ');
    for (const auto& match : tag.globalMatch(m_pages)) {
        QVERIFY2(elements.contains(match.captured(1)), qPrintable(match.captured(0)));
        for (const auto& a : attribute.globalMatch(match.captured(2)))
            QVERIFY2(attributes.contains(a.captured(1)), qPrintable(match.captured(0)));
    }
    // One script in the whole archive: the search of index.html, from the archive's own files.
    QCOMPARE(m_pages.count(u"<script"_s), 1);
    QVERIFY(readText(m_archive + u"/index.html"_s).contains(u"<script src=\"search/search.js\""_s));
    QVERIFY(!m_pages.contains(u"href=\"javascript"_s));
    QVERIFY(!m_pages.contains(u"src=\"data"_s));
}

void TestArchiveWriter::sharedFiles_data()
{
    QTest::addColumn<bool>("media");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("mediaFiles");
    QTest::newRow("copied") << true
                            << QStringList{u"<a href=\"../media/f000001.bin\" dir=\"auto\">"
                                           "../../evil.html (1.17 KiB)</a>"_s,
                                           u"<img src=\"../media/f000002.png\" alt=\"photo\" "
                                           "loading=\"lazy\">"_s,
                                           u"lost.pdf (1.17 KiB)</span> \u2014 not in the export"_s}
                            << QStringList{u"f000001.bin"_s, u"f000002.png"_s};
    QTest::newRow("left out") << false
                              << QStringList{u"photo (1.17 KiB)</span> \u2014 not included"_s,
                                             u"lost.pdf (1.17 KiB)</span> \u2014 not included"_s}
                              << QStringList{};
}

void TestArchiveWriter::sharedFiles()
{
    QFETCH(bool, media);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, mediaFiles);
    QTemporaryDir out;
    ArchiveOptions options;
    options.media = media;
    QVERIFY(writeArchive(m_history, out.path(), options));
    const QString page = readText(out.filePath(u"c0001/2024-11.html"_s));
    for (const QString& text : shown)
        QVERIFY2(page.contains(text), qPrintable(text));
    QCOMPARE(QDir(out.filePath(u"media"_s)).entryList(QDir::Files), mediaFiles);
    if (media)
        QCOMPARE(readText(out.filePath(u"media/f000001.bin"_s)), u"<script>alert(1)</script>"_s);
}

void TestArchiveWriter::conversationTextIsTheCopyFormat()
{
    for (size_t chat = 0; chat < m_history.chats.size(); ++chat) {
        QString expected;
        for (const HistoryMessage& message : m_history.chats[chat].messages)
            expected += messageCopyLine(m_history, message) + u'\n';
        const QString folder = QStringLiteral("/c%1/").arg(chat + 1, 4, 10, QLatin1Char('0'));
        QCOMPARE(readText(m_archive + folder + u"conversation.txt"_s), expected);
    }
}

void TestArchiveWriter::monthsSplit_data()
{
    QTest::addColumn<int>("messages");
    QTest::addColumn<int>("bodySize");
    QTest::addColumn<int>("pages");
    QTest::newRow("2,000 on one page") << 2000 << 0 << 1;
    QTest::newRow("2,001 in two parts") << 2001 << 0 << 2;
    QTest::newRow("1.5 MB in two parts") << 300 << 5000 << 2;
}

void TestArchiveWriter::monthsSplit()
{
    QFETCH(int, messages);
    QFETCH(int, bodySize);
    QFETCH(int, pages);
    QTemporaryDir dir;
    const ChatHistory history = loadExport(
        dir.path(), {steadyConversation(u"8:live:steady"_s, messages, u"2024-01-10T00:00:00Z"_s,
                                        u"words "_s, bodySize)});
    const QString out = dir.filePath(u"out"_s);
    QVERIFY(QDir().mkdir(out));
    QVERIFY(writeArchive(history, out, {}));
    // In part order: "2024-01.html", "2024-01-2.html", …
    QStringList files = filesUnder(out + u"/c0001"_s, u"2024-01*.html"_s);
    std::stable_sort(files.begin(), files.end(),
                     [](const QString& a, const QString& b) { return a.size() < b.size(); });
    QCOMPARE(files.size(), pages);
    int total = 0;
    for (const QString& page : files) {
        const qint64 size = QFileInfo(page).size();
        const QString text = readText(page);
        const int held = int(text.count(u"<article"_s));
        QVERIFY(size <= BytesPerPage && held <= MessagesPerPage);
        // The messages go in batches, each closed, of at most fifty.
        const QStringList batches = text.split(u"<div class=\"batch\">"_s).mid(1);
        QCOMPARE(text.count(u"</div>"_s), batches.size());
        for (const QString& batch : batches)
            QVERIFY(batch.count(u"<article"_s) <= 50 && batch.contains(u"</div>"_s));
        // Every part but the last is full, by messages or by bytes.
        if (page != files.last())
            QVERIFY2(held == MessagesPerPage || size > BytesPerPage - 2 * (bodySize + 400),
                     qPrintable(page));
        total += held;
    }
    QCOMPARE(total, messages);
}

void TestArchiveWriter::indexSplits()
{
    // 1,001 conversations of one message each: the index goes on to a second page.
    std::vector<ExportConversation> many;
    for (int i = 0; i < ConversationsPerIndexPage + 1; ++i)
        many.push_back(
            steadyConversation(u"8:live:p%1"_s.arg(i), 1, u"2024-01-10T00:00:00Z"_s, u"hi"_s));
    QTemporaryDir dir;
    const ChatHistory history = loadExport(dir.path(), many);
    const QString out = dir.filePath(u"out"_s);
    QVERIFY(QDir().mkdir(out));
    QVERIFY(writeArchive(history, out, {}));
    const QString first = readText(out + u"/index.html"_s);
    const QString second = readText(out + u"/index-2.html"_s);
    QCOMPARE(first.count(u"<tr><td>"_s), ConversationsPerIndexPage);
    QCOMPARE(second.count(u"<tr><td>"_s), 1);
    QVERIFY(first.contains(u"<a href=\"index-2.html\" rel=\"next\">"_s));
    QVERIFY(second.contains(u"<a href=\"index.html\" rel=\"prev\">"_s));
}

void TestArchiveWriter::stoppedArchiveLeavesNothing()
{
    // Forty conversations: over a hundred files to remove.
    std::vector<test::ChatData> chats;
    for (int i = 0; i < 40; ++i)
        chats.push_back({u"p%1"_s.arg(i), {{1'600'000'000'000 + i, u"p"_s, u"P"_s, u"hi"_s}}});
    const ChatHistory history = test::historyOf(chats);
    QTemporaryDir dir;
    const QString target = dir.filePath(u"out"_s);
    int paced = 0;
    {
        ArchiveFolder folder(target, {}, [&] { ++paced; });
        const QString temporary = folder.begin();
        QVERIFY(QFileInfo(temporary).isDir());
        QVERIFY(writeArchive(history, temporary, {},
                             [](qint64 done, qint64 total) { return done < total; })
                == std::nullopt);
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
    // Removing what was written let a window's events run now and then.
    QVERIFY(paced > 0);

    // An earlier archive replaced: removed whole once the new one stands, at the same pace.
    for (const int round : {1, 2}) {
        paced = 0;
        ArchiveFolder folder(target, {}, [&] { ++paced; });
        QCOMPARE(folder.kind(),
                 round == 1 ? ArchiveFolder::Kind::New : ArchiveFolder::Kind::Earlier);
        QVERIFY(writeArchive(history, folder.begin(), {}));
        folder.commit();
        QVERIFY(round == 1 ? paced == 0 : paced > 0);
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{u"out"_s});
}

QTEST_GUILESS_MAIN(TestArchiveWriter)
#include "test_archive_writer.moc"
