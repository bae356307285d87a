// The archive's statistics: every count stats.html and a conversation's index draw equals the
// count made from the history itself (per month, per person, per weekday and hour in a fixed
// zone with summer time), for the whole history and for chosen conversations and spans; a
// hostile name stays text; the page stays small however many conversations there are.
#include "archive/archive_writer.h"
#include "archive/svg_charts.h"
#include "chat/history_loader.h"
#include "chat/message_text.h"
#include "chat/person_names.h"
#include "export_builder.h"
#include "history_files.h"
#include "local_zone.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace velmoran;
using namespace velmoran::test;
using namespace Qt::Literals::StringLiterals;

namespace {

using Counts = QMap<QString, qint64>;

const QString Hostile = u"Eve <b onclick=\"alert(1)\"> & 'x'"_s;

QString utcText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

// Three conversations over three years at uneven hours, four senders (one of them the user).
std::vector<ExportConversation> conversations()
{
    const QStringList ids{u"8:live:anna"_s, u"8:me.myself"_s, u"8:eve"_s, u"8:bob"_s};
    const QStringList names{u"Anna"_s, u"Me"_s, Hostile, u"Bob"_s};
    std::vector<ExportConversation> made{{ids[0], u"Anna"_s, {}},
                                         {u"19:team@thread.skype"_s, {}, {}, ids, Hostile},
                                         {ids[3], u"Bob"_s, {}}};
    qint64 ms = QDateTime(QDate(2022, 2, 27), QTime(23, 30), Qt::UTC).toMSecsSinceEpoch();
    for (int i = 0; i < 900; ++i) {
        // 29 h 17 min apart, so every weekday and hour comes round; the busiest conversation first.
        ms += (29 * 60 + 17) * 60'000LL + (i % 5) * 1000;
        ExportConversation& to = made[size_t(i % 6 < 3 ? 0 : i % 6 < 5 ? 1 : 2)];
        const int sender = to.id == ids[0] ? i % 2 : to.id == ids[3] ? 3 - 2 * (i % 2) : i % 4;
        to.messages.push_back({ids[sender], names[sender], utcText(ms), u"hello %1"_s.arg(i)});
    }
    return made;
}

ChatHistory loadExport(const QString& folder, const std::vector<ExportConversation>& made)
{
    const QString tar = folder + u"/export.tar"_s;
    if (!writeTar(tar, {{u"messages.json"_s, exportJson(u"8:me.myself"_s, made)}}))
        qFatal("cannot write the export");
    return readHistoryFile(tar);
}

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The svg whose aria-label starts with label.
QString chart(const QString& page, const QString& label)
{
    for (qsizetype from = page.indexOf(u"<svg "_s); from >= 0;
         from = page.indexOf(u"<svg "_s, from + 1)) {
        const QString svg = page.mid(from, page.indexOf(u"</svg>"_s, from) - from);
        if (svg.contains(u"aria-label=\""_s + label))
            return svg;
    }
    return {};
}

// Each bar's or cell's title in an svg: its label and count.
Counts titles(const QString& svg)
{
    static const QRegularExpression title(u"<title>([^<]*): ([0-9,.]+) messages?(, |</)"_s);
    Counts counts;
    for (const auto& match : title.globalMatch(svg)) {
        QString label = match.captured(1);
        label.replace(u"&lt;"_s, u"<"_s).replace(u"&gt;"_s, u">"_s).replace(u"&quot;"_s, u"\""_s);
        label.replace(u"&#39;"_s, u"'"_s).replace(u"&amp;"_s, u"&"_s);
        counts[label] += match.captured(2).remove(QRegularExpression(u"\\D"_s)).toLongLong();
    }
    return counts;
}

} // namespace

class TestArchiveStats : public QObject {
    Q_OBJECT
private slots:
    void countsAreTheHistorys_data();
    void countsAreTheHistorys();
    void pageStaysSmall();
};

void TestArchiveStats::countsAreTheHistorys_data()
{
    QTest::addColumn<QList<int>>("chats");
    QTest::addColumn<QString>("since");
    QTest::addColumn<QString>("until");
    QTest::newRow("whole history") << QList<int>{} << QString() << QString();
    QTest::newRow("one conversation") << QList<int>{1} << QString() << QString();
    QTest::newRow("a span of two")
        << QList<int>{0, 2} << u"2022-10-30T01:30:00Z"_s << u"2023-03-26T02:00:00Z"_s;
}

void TestArchiveStats::countsAreTheHistorys()
{
    QFETCH(QList<int>, chats);
    QFETCH(QString, since);
    QFETCH(QString, until);
    const LocalZone zone("Europe/Berlin");
    QTemporaryDir dir;
    const ChatHistory history = loadExport(dir.path(), conversations());
    ArchiveOptions options;
    for (const int chat : chats)
        options.chats.push_back(size_t(chat));
    if (!since.isEmpty())
        options.sinceMs = QDateTime::fromString(since, Qt::ISODate).toMSecsSinceEpoch();
    if (!until.isEmpty())
        options.untilMs = QDateTime::fromString(until, Qt::ISODate).toMSecsSinceEpoch();
    const QString out = dir.filePath(u"out"_s);
    QVERIFY(QDir().mkdir(out));
    QVERIFY(writeArchive(history, out, options));
    const QString page = readText(out + u"/stats.html"_s);

    // The counts made here from the history, in local time.
    const QLocale locale;
    Counts months, people, hours;
    for (int day = 1; day <= 7; ++day) {
        for (int hour = 0; hour < 24; ++hour)
            hours[u"%1 %2:00\u2013%3:00"_s.arg(locale.dayName(day))
                      .arg(hour, 2, 10, QLatin1Char('0'))
                      .arg(hour + 1, 2, 10, QLatin1Char('0'))] = 0;
    }
    qint64 total = 0;
    for (size_t chat = 0; chat < history.chats.size(); ++chat) {
        if (!chats.isEmpty() && !chats.contains(int(chat)))
            continue;
        Counts conversationMonths;
        for (const HistoryMessage& message : history.chats[chat].messages) {
            if ((options.sinceMs && message.timestampMs < *options.sinceMs)
                || (options.untilMs && message.timestampMs >= *options.untilMs))
                continue;
            const QDateTime local = QDateTime::fromMSecsSinceEpoch(message.timestampMs);
            const QString month = monthText(monthNumber(local.date().year(), local.date().month()));
            ++months[month];
            ++conversationMonths[month];
            const QString name = senderShownName(history, message);
            ++people[isOwnUser(history, message.senderId) ? name + u" (you)"_s : name];
            ++hours[u"%1 %2:00\u2013%3:00"_s.arg(locale.dayName(local.date().dayOfWeek()))
                        .arg(local.time().hour(), 2, 10, QLatin1Char('0'))
                        .arg(local.time().hour() + 1, 2, 10, QLatin1Char('0'))];
            ++total;
        }
        // The conversation's index draws its months above the list of them.
        const QString index =
            readText(out + u"/c%1/index.html"_s.arg(chat + 1, 4, 10, QChar(u'0')));
        const qsizetype svg = index.indexOf(u"<svg"_s);
        QVERIFY(svg > 0 && svg < index.indexOf(u"<table class=\"months\">"_s));
        QCOMPARE(titles(index), conversationMonths);
    }
    QVERIFY(total > 50);
    QCOMPARE(titles(chart(page, u"Messages per month"_s)), months);
    QCOMPARE(titles(chart(page, u"The "_s)), people);
    QCOMPARE(titles(chart(page, u"Messages by weekday"_s)), hours);
    QVERIFY(page.contains(messagesText(total) + u" in "_s));
    // The hostile name is text wherever it is shown, never markup.
    if (people.contains(Hostile) || chats.contains(1)) {
        QVERIFY(page.contains(u"Eve &lt;b onclick=&quot;alert(1)&quot;&gt; &amp; &#39;x&#39;"_s));
        QVERIFY(!page.contains(u"<b "_s));
    }
}

void TestArchiveStats::pageStaysSmall()
{
    // 5,000 conversations; the busiest twenty hold a message every month for 40 years.
    std::vector<ExportConversation> many;
    const qint64 start = QDateTime(QDate(2004, 1, 15), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch();
    for (int i = 0; i < 5000; ++i) {
        const QString id = u"8:live:p%1"_s.arg(i);
        ExportConversation c{id, u"Person %1"_s.arg(i), {}};
        const int months = i < 20 ? 480 - i : 1;
        for (int m = 0; m < months; ++m)
            c.messages.push_back({id, u"Person %1"_s.arg(i),
                                  utcText(start + (m * 30LL + i % 28) * 86'400'000LL), u"hi"_s});
        many.push_back(std::move(c));
    }
    QTemporaryDir dir;
    const ChatHistory history = loadExport(dir.path(), many);
    const QString out = dir.filePath(u"out"_s);
    QVERIFY(QDir().mkdir(out));
    QVERIFY(writeArchive(history, out, {}));
    const QString page = readText(out + u"/stats.html"_s);
    QVERIFY2(QFileInfo(out + u"/stats.html"_s).size() <= 300'000,
             qPrintable(QString::number(QFileInfo(out + u"/stats.html"_s).size())));
    // Only the busiest are drawn, the busiest first, each linked to its conversation; the rest
    // are counted.
    const qsizetype charts = page.count(u"<p class=\"chart-name\"><a href=\"c"_s);
    QVERIFY2(charts >= 3 && charts <= 12, qPrintable(QString::number(charts)));
    QVERIFY(page.indexOf(u"<a href=\"c0001/index.html\""_s)
            < page.indexOf(u"<a href=\"c0002/index.html\""_s));
    QVERIFY(page.contains(u"<a href=\"c%1/index.html\""_s.arg(charts, 4, 10, QChar(u'0'))));
    QVERIFY(!page.contains(u"<a href=\"c%1/index.html\""_s.arg(charts + 1, 4, 10, QChar(u'0'))));
    QVERIFY(page.contains(QLocale().toString(5000 - charts) + u" more conversations"_s));
    QVERIFY(readText(out + u"/index.html"_s).contains(u"<a href=\"stats.html\">"_s));
}

QTEST_GUILESS_MAIN(TestArchiveStats)
#include "test_archive_stats.moc"
