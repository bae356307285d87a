#include "local_zone.h"
#include "search/search_pattern.h"
#include "search/timestamp_text.h"

#include <QDateTime>
#include <QTest>

#include <ctime>
#include <limits>

using namespace velmoran;

namespace {

using test::LocalZone;

qint64 utcMs(const char* isoText)
{
    return QDateTime::fromString(QString::fromLatin1(isoText), Qt::ISODateWithMs)
        .toMSecsSinceEpoch();
}

} // namespace

class TimestampTextTest : public QObject {
    Q_OBJECT

private slots:
    void formatsInTheLocalesGeneralDateFormat_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("utc");
        QTest::addColumn<QString>("text");
        QTest::newRow("C, UTC") << "C" << QByteArray("UTC") << "2021-06-07T08:09:10Z"
                                << "7 Jun 2021 08:09:10";
        QTest::newRow("midnight: date alone") << "C" << QByteArray("UTC") << "2021-06-07T00:00:00Z"
                                              << "7 Jun 2021";
        QTest::newRow("a millisecond past midnight")
            << "C" << QByteArray("UTC") << "2021-06-07T00:00:00.001Z"
            << "7 Jun 2021 00:00:00";
        QTest::newRow("US, local time")
            << "en_US" << QByteArray("America/New_York") << "2021-06-07T03:09:10Z"
            << "6/6/21 11:09:10 PM";
        QTest::newRow("German, local midnight")
            << "de_DE" << QByteArray("Europe/Berlin") << "2021-06-06T22:00:00Z"
            << "07.06.21";
        QTest::newRow("German, winter")
            << "de_DE" << QByteArray("Europe/Berlin") << "2021-01-06T22:00:00Z"
            << "06.01.21 23:00:00";
    }
    void formatsInTheLocalesGeneralDateFormat()
    {
        QFETCH(QString, locale);
        QFETCH(QByteArray, zone);
        QFETCH(QString, utc);
        QFETCH(QString, text);
        LocalZone local(zone);
        TimestampText timestamps{QLocale(locale)};
        const qint64 ms = utcMs(utc.toLatin1().constData());
        QCOMPARE(timestamps.format(ms), text);
        QCOMPARE(timestamps.view(ms), text);
        QCOMPARE(timestamps.formatUncached(ms), text);
    }

    // The cached texts equal the locale's own, across days on which the offset changes, in
    // zones with half-hour offsets and where a change skips midnight.
    void cachedTextsEqualTheLocales_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("from");
        QTest::newRow("Berlin spring") << QByteArray("Europe/Berlin") << "2021-03-27T00:00:00Z";
        QTest::newRow("Berlin autumn") << QByteArray("Europe/Berlin") << "2021-10-30T00:00:00Z";
        QTest::newRow("Adelaide") << QByteArray("Australia/Adelaide") << "2021-04-02T00:00:00Z";
        QTest::newRow("Sao Paulo midnight change")
            << QByteArray("America/Sao_Paulo") << "2018-11-03T00:00:00Z";
        QTest::newRow("Kolkata") << QByteArray("Asia/Kolkata") << "2021-01-01T00:00:00Z";
        QTest::newRow("before 1970") << QByteArray("America/New_York") << "1969-12-30T00:00:00Z";
    }
    void cachedTextsEqualTheLocales()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, from);
        LocalZone local(zone);
        for (const char* name : {"en_US", "de_DE", "ja_JP", "ar_EG", "fa_IR", "ko_KR", "C"}) {
            TimestampText timestamps{QLocale(QString::fromLatin1(name))};
            // These formats are written without the locale's formatter, so it is that
            // writer that is compared here.
            QVERIFY2(timestamps.writesTimesItself(), name);
            const qint64 start = utcMs(from.toLatin1().constData());
            // Three days in steps of 7 min 13.5 s, then back over the same span, so both
            // freshly built and cached texts are compared; plus every whole quarter hour.
            for (int pass = 0; pass < 2; ++pass) {
                for (qint64 t = start; t < start + 3 * 86'400'000; t += 433'500)
                    QCOMPARE(timestamps.format(t), timestamps.formatUncached(t));
                for (qint64 t = start; t < start + 3 * 86'400'000; t += 900'000)
                    QCOMPARE(timestamps.view(t), timestamps.formatUncached(t));
            }
        }
    }

    // Any qint64 gives the locale's own text, however far from today: the caches must not
    // overflow while they work out the day and the local time around it.
    void extremeTimestampsGiveTheLocalesText_data()
    {
        QTest::addColumn<qint64>("ms");
        const qint64 min = std::numeric_limits<qint64>::min();
        const qint64 max = std::numeric_limits<qint64>::max();
        const qint64 day = 86'400'000;
        QTest::newRow("smallest") << min;
        QTest::newRow("smallest + 1") << min + 1;
        QTest::newRow("a day above the smallest") << min + day;
        QTest::newRow("two days above the smallest") << min + 2 * day;
        QTest::newRow("largest") << max;
        QTest::newRow("largest - 1") << max - 1;
        QTest::newRow("a day below the largest") << max - day;
        QTest::newRow("two days below the largest") << max - 2 * day;
        QTest::newRow("year 9999") << utcMs("9999-12-31T23:59:59.000Z");
    }
    void extremeTimestampsGiveTheLocalesText()
    {
        QFETCH(qint64, ms);
        for (const char* zone : {"Europe/Berlin", "Pacific/Kiritimati", "Pacific/Pago_Pago"}) {
            LocalZone local(zone);
            TimestampText timestamps{QLocale(QStringLiteral("en_US"))};
            const QString expected = timestamps.formatUncached(ms);
            QCOMPARE(timestamps.format(ms), expected);
            QCOMPARE(timestamps.view(ms), expected);
        }
    }

    // The cached offsets equal QDateTime's local time on every day of 150 years (to 2110, past
    // the 32-bit end of time_t), in zones with summer time, half-hour and negative summer
    // offsets, changes that skip midnight and zones whose rules changed over the years.
    void localOffsetsEqualQDateTimesOverTheYears()
    {
        for (const char* zone :
             {"Europe/Berlin", "America/St_Johns", "Australia/Lord_Howe", "America/Sao_Paulo",
              "Europe/Dublin", "Africa/Casablanca", "Asia/Kathmandu", "Pacific/Apia"}) {
            LocalZone local(zone);
            TimestampText timestamps{QLocale(QStringLiteral("en_US"))};
            const qint64 start = utcMs("1960-01-01T00:00:00Z");
            const qint64 end = utcMs("2110-01-01T00:00:00Z");
            // A little under a day each step, so the time of day moves through the whole day.
            for (qint64 t = start; t < end; t += 86'400'000 - 3'607'001) {
                const QString expected = timestamps.formatUncached(t);
                if (timestamps.view(t) != expected)
                    QFAIL(qPrintable(QStringLiteral("%1 at %2: %3, not %4")
                                         .arg(QString::fromLatin1(zone))
                                         .arg(t)
                                         .arg(timestamps.view(t).toString(), expected)));
            }
        }
    }

    // contains() answers what testing the whole text answers, for texts with and without a
    // blank, either letter case, texts changed between calls (as the window's search box may
    // be), expressions, in locales with day halves and other digits and on days when the offset
    // changes.
    void containsAnswersAsTheWholeText()
    {
        const qint64 day = 86'400'000;
        for (const char* zone : {"UTC", "Europe/Berlin", "Australia/Lord_Howe"}) {
            LocalZone local(zone);
            for (const char* localeName : {"en_US", "de_DE", "ar_EG", "ja_JP", "C"}) {
                const QLocale locale{QString::fromLatin1(localeName)};
                TimestampText timestamps{locale};
                TimestampText reference{locale};
                std::vector<SearchPattern> patterns;
                for (const QString& text :
                     {QStringLiteral("1"), QStringLiteral(":3"), QStringLiteral("PM"),
                      QStringLiteral("pm"), QStringLiteral("/21"), QStringLiteral("21 1"),
                      QStringLiteral("3 "), QStringLiteral(" "), QString(), QStringLiteral("Mar"),
                      QStringLiteral("0:0"),
                      locale.toString(QDate(2021, 3, 28), QLocale::ShortFormat), locale.pmText(),
                      locale.toString(7), QStringLiteral("x")})
                    patterns.emplace_back(text);
                patterns.push_back(SearchPattern::regularExpression(QStringLiteral("1 \\d")));
                patterns.push_back(SearchPattern::regularExpression(QStringLiteral("^2")));
                // Around the spring change of 2021 (Europe and Lord Howe differ by weeks, so
                // both springs and the plain days between are met), at midnight, a millisecond
                // after and in steps that revisit seconds already worked out.
                const qint64 starts[] = {utcMs("2021-03-26T00:00:00Z"),
                                         utcMs("2021-10-01T00:00:00Z")};
                int asked = 0;
                for (qint64 from : starts) {
                    for (qint64 t = from; t < from + 4 * day; t += 1'799'999) {
                        for (const qint64 at : {t, t - t % day, t - t % day + 1}) {
                            // The pattern and the case change from one call to the next.
                            const SearchPattern& pattern =
                                patterns[size_t(asked) % patterns.size()];
                            const Qt::CaseSensitivity cs =
                                asked % 3 == 0 ? Qt::CaseInsensitive : Qt::CaseSensitive;
                            ++asked;
                            const bool expected = pattern.matches(reference.formatUncached(at), cs);
                            if (timestamps.contains(at, pattern, cs) != expected)
                                QFAIL(qPrintable(QStringLiteral("%1 %2 \"%3\" %4 at %5: %6")
                                                     .arg(QString::fromLatin1(zone),
                                                          QString::fromLatin1(localeName),
                                                          pattern.text())
                                                     .arg(int(cs))
                                                     .arg(reference.formatUncached(at))
                                                     .arg(expected ? QStringLiteral("missed")
                                                                   : QStringLiteral("found"))));
                        }
                    }
                }
                // And one pattern asked many times over, so the caches are used, not rebuilt.
                for (const SearchPattern& pattern : patterns) {
                    for (qint64 t = starts[0]; t < starts[0] + 3 * day; t += 61'001) {
                        const bool expected =
                            pattern.matches(reference.formatUncached(t), Qt::CaseInsensitive);
                        QCOMPARE(timestamps.contains(t, pattern, Qt::CaseInsensitive), expected);
                    }
                }
            }
        }
    }

    void zoneNameIsLeftOut_data()
    {
        QTest::addColumn<QString>("locale");
        for (const char* name : {"C", "en_US", "de_DE", "ja_JP", "fa_IR", "ar_EG", "ko_KR"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void zoneNameIsLeftOut()
    {
        QFETCH(QString, locale);
        const QString format = longTimeFormatWithoutZone(QLocale(locale));
        QVERIFY(!format.isEmpty());
        QVERIFY2(!format.contains(u't') && !format.contains(u"()") && format == format.trimmed(),
                 qPrintable(format));
    }
};

QTEST_MAIN(TimestampTextTest)
#include "test_timestamp_text.moc"
