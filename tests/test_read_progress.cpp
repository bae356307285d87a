#include "chat/read_progress.h"

#include <QTest>

using namespace velmoran;

// ProgressScale: a part's fractions placed on the whole's scale, never falling.
class TestReadProgress : public QObject {
    Q_OBJECT

private slots:
    void placesAndNeverFalls_data()
    {
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<QList<double>>("told");
        QTest::addColumn<QList<double>>("levels");
        QTest::addColumn<QList<bool>>("rose");

        QTest::newRow("whole") << 0.0 << 1.0 << QList<double>{0, 0.25, 0.25, 1}
                               << QList<double>{0, 0.25, 0.25, 1}
                               << QList<bool>{false, true, false, true};
        QTest::newRow("first half") << 0.0 << 0.5 << QList<double>{0.5, 1}
                                    << QList<double>{0.25, 0.5} << QList<bool>{true, true};
        QTest::newRow("second half")
            << 0.5 << 1.0 << QList<double>{0, 0.5, 1} << QList<double>{0.5, 0.75, 1}
            << QList<bool>{false, true, true};
        QTest::newRow("falling is ignored")
            << 0.3 << 1.0 << QList<double>{0.5, 0.2, 0.5} << QList<double>{0.65, 0.65, 0.65}
            << QList<bool>{true, false, false};
        QTest::newRow("clamped") << 0.0 << 0.5 << QList<double>{-1, 2, 3}
                                 << QList<double>{0, 0.5, 0.5} << QList<bool>{false, true, false};
    }

    void placesAndNeverFalls()
    {
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(QList<double>, told);
        QFETCH(QList<double>, levels);
        QFETCH(QList<bool>, rose);
        ProgressScale scale(from, to);
        QCOMPARE(scale.level(), from);
        for (qsizetype i = 0; i < told.size(); ++i) {
            QCOMPARE(scale.raise(told[i]), rose[i]);
            QCOMPARE(scale.level(), levels[i]);
        }
    }

    // Parts measured in units of a whole (files by their size): the level carries over.
    void partsOfAWhole()
    {
        ProgressScale scale;
        scale.setPart(0, 30, 40);
        QVERIFY(scale.raise(0.5));
        QCOMPARE(scale.level(), 15.0 / 40);
        QCOMPARE(scale.place(1), 30.0 / 40);
        scale.setPart(30, 10, 40);
        QVERIFY(scale.raise(0));
        QCOMPARE(scale.level(), 30.0 / 40);
        // An earlier part told again stays below what was reached.
        scale.setPart(0, 30, 40);
        QVERIFY(!scale.raise(0.9));
        QCOMPARE(scale.level(), 30.0 / 40);
        scale.setPart(30, 10, 40);
        QVERIFY(scale.raise(1));
        QCOMPARE(scale.level(), 1.0);
    }
};

QTEST_GUILESS_MAIN(TestReadProgress)
#include "test_read_progress.moc"
