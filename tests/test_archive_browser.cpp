// The archive of a small made-up export opened from disk in headless Chromium: its pages
// render, the search of index.html finds words across conversations and links each hit to its
// message, hostile texts stay text and no code of theirs runs, every link stays inside.
// Skipped where no chromium is on the PATH.
#include "archive/archive_writer.h"
#include "archive_links.h"
#include "chat/history_loader.h"
#include "export_builder.h"
#include "history_files.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace velmoran;
using namespace velmoran::test;
using namespace Qt::Literals::StringLiterals;

namespace {

// Anna's chat (c0001) and the team's (c0002); message n of each has the anchor mn.
std::vector<ExportConversation> conversations()
{
    const QString anna = u"8:live:anna"_s;
    const QString me = u"8:me.myself"_s;
    ExportConversation one{anna, u"Anna"_s, {}};
    const QStringList bodies{
        u"Meet at the lighthouse tomorrow"_s,
        u"&lt;script&gt;alert(1)&lt;/script&gt;"_s,
        u"&lt;img src=x onerror=alert(1)&gt; and \"&gt;&lt;svg onload=alert(1)&gt;"_s,
        u"see javascript:alert(1) now"_s,
        u"before\u2028after &lt;/script&gt; linebreak"_s,
        u"明天见"_s,
        // The hit past the snippet's start, after characters outside the BMP.
        u"😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀 far zebrafish"_s,
    };
    for (qsizetype i = 0; i < bodies.size(); ++i)
        one.messages.push_back({i % 2 ? me : anna, i % 2 ? u"Me"_s : u"Anna"_s,
                                u"2024-11-05T09:%1:00.000Z"_s.arg(i, 2, 10, QLatin1Char('0')),
                                bodies[i]});
    ExportConversation team{
        u"19:team@thread.skype"_s, {}, {}, {anna, me}, u"Team <script>alert(1)</script>"_s};
    team.messages.push_back({u"8:eve"_s, u"Eve <img src=x onerror=alert(1)>"_s,
                             u"2024-12-01T10:00:00.000Z"_s, u"The Lighthouse keeper"_s});
    team.messages.push_back({me, u"Me"_s, u"2024-12-01T10:01:00.000Z"_s, u"nothing to see"_s});
    return {one, team};
}

bool hasChromium()
{
    return !QStandardPaths::findExecutable(u"chromium"_s).isEmpty();
}

} // namespace

class TestArchiveBrowser : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void pagesRender_data();
    void pagesRender();
    void searchFinds_data();
    void searchFinds();
    void nothingRuns_data();
    void nothingRuns();
    void linksStayInside();

private:
    // Runs headless Chromium on a page of the archive (path and query); answers its stdout.
    QString chromium(const QString& page, const QStringList& arguments);
    QString dom(const QString& page);

    QTemporaryDir m_dir;
    QString m_archive;
};

void TestArchiveBrowser::initTestCase()
{
    if (!hasChromium())
        QSKIP("chromium is not on the PATH (tools/setup-debian installs it)");
    QVERIFY(m_dir.isValid());
    const QString tar = m_dir.filePath(u"export.tar"_s);
    QVERIFY(writeTar(tar, {{u"messages.json"_s, exportJson(u"8:me.myself"_s, conversations())}}));
    m_archive = m_dir.filePath(u"archive"_s);
    QVERIFY(QDir().mkdir(m_archive));
    QVERIFY(writeArchive(readHistoryFile(tar), m_archive, {}));
}

QString TestArchiveBrowser::chromium(const QString& page, const QStringList& arguments)
{
    const QString path = page.section(u'?', 0, 0);
    QUrl url = QUrl::fromLocalFile(m_archive + u'/' + path);
    if (page.contains(u'?'))
        url.setQuery(page.section(u'?', 1), QUrl::DecodedMode);
    QProcess process;
    process.start(u"chromium"_s, QStringList{u"--headless"_s, u"--no-sandbox"_s, u"--disable-gpu"_s,
                                             u"--no-first-run"_s,
                                             u"--user-data-dir="_s + m_dir.filePath(u"profile"_s)}
                                     + arguments + QStringList{url.toString(QUrl::FullyEncoded)});
    if (!process.waitForFinished(120'000) || process.exitCode() != 0)
        qWarning("chromium: %s", process.readAllStandardError().right(2000).constData());
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString TestArchiveBrowser::dom(const QString& page)
{
    return chromium(page, {u"--virtual-time-budget=10000"_s, u"--dump-dom"_s});
}

void TestArchiveBrowser::pagesRender_data()
{
    QTest::addColumn<QString>("page");
    QTest::newRow("index with a search") << u"index.html?q=lighthouse"_s;
    QTest::newRow("month") << u"c0001/2024-11.html"_s;
}

void TestArchiveBrowser::pagesRender()
{
    QFETCH(QString, page);
    const QString png = m_dir.filePath(u"shot.png"_s);
    QFile::remove(png);
    chromium(page, {u"--window-size=900,700"_s, u"--hide-scrollbars"_s,
                    u"--virtual-time-budget=10000"_s, u"--screenshot="_s + png});
    const QImage image(png);
    QVERIFY2(!image.isNull(), qPrintable(png));
    // Text drawn: many pixels other than the background's.
    const QRgb background = image.pixel(0, 0);
    int drawn = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            drawn += image.pixel(x, y) != background;
    }
    QVERIFY2(drawn > 2000, qPrintable(QString::number(drawn)));
}

void TestArchiveBrowser::searchFinds_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("links"); // in the order shown
    const QString lighthouse = u"c0001/2024-11.html#m0"_s;
    const QString keeper = u"c0002/2024-12.html#m0"_s;
    const QString cjk = u"c0001/2024-11.html#m5"_s;
    // The team spoke last, so its conversation comes first.
    QTest::newRow("two conversations") << u"lighthouse"_s << QStringList{keeper, lighthouse};
    QTest::newRow("word start, any case") << u"LIGH"_s << QStringList{keeper, lighthouse};
    QTest::newRow("every word") << u"lighthouse Keeper"_s << QStringList{keeper};
    QTest::newRow("not inside a word") << u"ighthouse"_s << QStringList{};
    QTest::newRow("absent") << u"walrus"_s << QStringList{};
    QTest::newRow("characters in a row") << u"明天见"_s << QStringList{cjk};
    QTest::newRow("a pair") << u"天见"_s << QStringList{cjk};
    QTest::newRow("characters not neighbours") << u"明见"_s << QStringList{};
    QTest::newRow("after U+2028 and </script>")
        << u"linebreak"_s << QStringList{u"c0001/2024-11.html#m4"_s};
    QTest::newRow("past emoji") << u"zebra"_s << QStringList{u"c0001/2024-11.html#m6"_s};
}

void TestArchiveBrowser::searchFinds()
{
    QFETCH(QString, query);
    QFETCH(QStringList, links);
    const QString page = dom(u"index.html?q="_s + query);
    QVERIFY2(page.contains(u"data-first-results-ms="_s), qPrintable(page.right(3000)));
    static const QRegularExpression hit(u"<li><a href=\"([^\"]*)\">"_s);
    QStringList found;
    for (const auto& match : hit.globalMatch(page))
        found << match.captured(1);
    QCOMPARE(found, links);
    // Each link leads to a message holding the words.
    for (const QString& link : found) {
        const QString target = readText(m_archive + u'/' + link.section(u'#', 0, 0));
        const qsizetype at = target.indexOf(u"id=\""_s + link.section(u'#', 1) + u'"');
        QVERIFY2(at >= 0, qPrintable(link));
        const QString article = target.mid(at, target.indexOf(u"</article>"_s, at) - at);
        for (const QString& word : query.split(u' '))
            QVERIFY2(article.contains(word, Qt::CaseInsensitive), qPrintable(link));
    }
    QVERIFY(page.contains(found.isEmpty() ? u"No message holds"_s : u"<mark>"_s));
    // The list of conversations, held back while searching, shows again.
    QVERIFY(!page.contains(u"class=\"searching\""_s));
    QVERIFY(page.contains(u"<table>"_s));
}

void TestArchiveBrowser::nothingRuns_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("shownAsText");
    QTest::newRow("search for alert")
        << u"index.html?q=alert"_s
        << QStringList{u"&lt;script&gt;<mark>alert</mark>(1)&lt;/script&gt;"_s,
                       u"&lt;img src=x onerror=<mark>alert</mark>(1)&gt; and "
                       "\"&gt;&lt;svg onload=<mark>alert</mark>(1)&gt;"_s,
                       u"javascript:<mark>alert</mark>(1)"_s,
                       u"Team &lt;script&gt;alert(1)&lt;/script&gt;"_s};
    QTest::newRow("search for a hostile text")
        << u"index.html?q=<img src=x onerror=alert(1)>"_s
        << QStringList{u"&lt;<mark>img</mark> <mark>src</mark>=<mark>x</mark>"_s};
    QTest::newRow("month page") << u"c0001/2024-11.html"_s
                                << QStringList{u"&lt;script&gt;alert(1)&lt;/script&gt;"_s,
                                               u"see javascript:alert(1) now"_s};
}

void TestArchiveBrowser::nothingRuns()
{
    QFETCH(QString, page);
    QFETCH(QStringList, shownAsText);
    const QString text = dom(page);
    QVERIFY2(text.contains(u"</body>"_s), qPrintable(text.right(2000)));
    for (const QString& shown : shownAsText)
        QVERIFY2(text.contains(shown), qPrintable(shown));
    // Scripts: only the archive's own, from search/, and on index.html only.
    static const QRegularExpression script(u"<script\\b([^>]*)>"_s);
    int scripts = 0;
    for (const auto& match : script.globalMatch(text)) {
        QVERIFY2(match.captured(1).contains(QRegularExpression(u"^ src=\"search/\\w+\\.js\""_s)),
                 qPrintable(match.captured(0)));
        ++scripts;
    }
    QCOMPARE(scripts > 0, page.startsWith(u"index.html"_s));
    static const QRegularExpression tag(u"<(\\w+)([^>]*)>"_s);
    static const QRegularExpression active(
        u"\\son\\w+\\s*=|(href|src|action)\\s*=\\s*\"\\s*(javascript|data):"_s,
        QRegularExpression::CaseInsensitiveOption);
    for (const auto& match : tag.globalMatch(text)) {
        QVERIFY2(!match.captured(2).contains(active), qPrintable(match.captured(0)));
        QVERIFY2(match.captured(1) != u"svg"_s && match.captured(1) != u"iframe"_s
                     && match.captured(1) != u"object"_s,
                 qPrintable(match.captured(0)));
    }
}

void TestArchiveBrowser::linksStayInside()
{
    int checked = 0;
    QCOMPARE(archiveLinkFaults(m_archive, &checked), QStringList());
    // The links the search made, as from index.html.
    const QString index = m_archive + u"/index.html"_s;
    QCOMPARE(pageLinkFaults(m_archive, index, dom(u"index.html?q=alert"_s), &checked),
             QStringList());
    QVERIFY(checked > 30);
}

QTEST_GUILESS_MAIN(TestArchiveBrowser)
#include "test_archive_browser.moc"
