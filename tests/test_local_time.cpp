// Local time from UTC: the offsets read once over a span agree with the zone at every moment,
// across summer-time changes both ways, in zones of odd offsets, long ago and far ahead; local
// days round down before 1970.
#include "core/local_time.h"
#include "support/local_zone.h"

#include <QDateTime>
#include <QTimeZone>
#include <QtTest>

using namespace velmoran;

class TestLocalTime : public QObject {
    Q_OBJECT

private slots:
    void offsetsAgreeWithTheZone_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("from"); // UTC, ISO
        QTest::addColumn<QString>("to");
        QTest::newRow("Berlin, spring and autumn")
            << QByteArray("Europe/Berlin") << "2024-03-30T00:00:00"
            << "2024-10-28T00:00:00";
        QTest::newRow("New York, a year") << QByteArray("America/New_York") << "2023-01-01T00:00:00"
                                          << "2024-01-01T00:00:00";
        QTest::newRow("Lord Howe, half-hour summer time")
            << QByteArray("Australia/Lord_Howe") << "2024-03-01T00:00:00"
            << "2024-11-01T00:00:00";
        QTest::newRow("Kathmandu, +5:45") << QByteArray("Asia/Kathmandu") << "1985-06-01T00:00:00"
                                          << "1987-06-01T00:00:00";
        QTest::newRow("Berlin, far ahead") << QByteArray("Europe/Berlin") << "2090-01-01T00:00:00"
                                           << "2091-01-01T00:00:00";
        QTest::newRow("Berlin, before 1970") << QByteArray("Europe/Berlin") << "1960-01-01T00:00:00"
                                             << "1961-01-01T00:00:00";
    }
    void offsetsAgreeWithTheZone()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, from);
        QFETCH(QString, to);
        const test::LocalZone local(zone);
        const qint64 fromMs = QDateTime::fromString(from, Qt::ISODate).toMSecsSinceEpoch();
        const qint64 toMs = QDateTime::fromString(to, Qt::ISODate).toMSecsSinceEpoch();
        QVERIFY(fromMs < toMs);
        LocalOffsets offsets(fromMs, toMs);
        const QTimeZone tz(zone);
        int changes = 0;
        qint64 last = offsets.offsetMs(fromMs);
        // Every quarter hour, and both sides of each change found.
        for (qint64 t = fromMs; t <= toMs; t += 15 * 60 * 1000) {
            const qint64 expected =
                qint64(tz.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(t, Qt::UTC))) * 1000;
            QCOMPARE(offsets.offsetMs(t), expected);
            QCOMPARE(qint64(localOffsetSeconds(t)) * 1000, expected);
            QCOMPARE(offsets.localDay(t), floorDiv(t + expected, MsPerDay));
            changes += offsets.offsetMs(t) != last;
            last = offsets.offsetMs(t);
        }
        // Looked up backwards too.
        QCOMPARE(offsets.offsetMs(fromMs),
                 qint64(tz.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(fromMs, Qt::UTC))) * 1000);
        if (!from.startsWith(QLatin1String("1960")))
            QVERIFY(changes >= 1);
    }

    void floorDivRoundsDown()
    {
        QCOMPARE(floorDiv(-1, 1000), -1);
        QCOMPARE(floorDiv(-1000, 1000), -1);
        QCOMPARE(floorDiv(-1001, 1000), -2);
        QCOMPARE(floorDiv(999, 1000), 0);
        QCOMPARE(floorDiv(-MsPerDay - 1, MsPerDay), -2);
    }
};

QTEST_GUILESS_MAIN(TestLocalTime)
#include "test_local_time.moc"
