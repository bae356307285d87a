#include "core/application_title.h"
#include "core/dialogs.h"
#include "core/error_report.h"
#include "core/guarded_routine.h"
#include "fake_platform.h"

#include <QTest>

#include <stdexcept>

using namespace velmoran;
using velmoran::test::FakePlatform;

class FailureReportTest : public QObject {
    Q_OBJECT

private slots:
    void reportTextIsExact()
    {
        const QString label =
            routineLabel(QStringLiteral("Form1"), QStringLiteral("PushButton2_Click"));
        QCOMPARE(label, QStringLiteral("in Velmoran2021/08/31.Form1.PushButton2_Click "));
        QCOMPARE(errorReportText(QStringLiteral("Object required"), label, 104),
                 QStringLiteral("Object required\r\nin Velmoran2021/08/31.Form1.PushButton2_Click "
                                "at line 104\r\rPlease email screenshot of this message to "
                                "support@velmoran.org"));
    }

    void twoFailuresGiveTwoReportsAndTheRoutineRunsToItsEnd()
    {
        FakePlatform fake;
        DialogErrorReporter reporter(fake.dialogs);
        GuardedRoutine routine(reporter, routineLabel(QStringLiteral("Main"), QStringLiteral("R")));
        QStringList ran;
        routine.step(100, [&] {
            ran << QStringLiteral("100");
            throw Failure(QStringLiteral("first"));
        });
        routine.step(102, [&] { ran << QStringLiteral("102"); });
        routine.step(104, [&] { throw std::runtime_error("second"); });
        routine.step(106, [&] { ran << QStringLiteral("106"); });

        QCOMPARE(ran, (QStringList{QStringLiteral("100"), QStringLiteral("102"),
                                   QStringLiteral("106")}));
        const QStringList reports = fake.dialogs.errorReports();
        QCOMPARE(reports.size(), 2);
        QVERIFY(reports[0].startsWith(
            QStringLiteral("first\r\nin Velmoran2021/08/31.Main.R at line 100\r\r")));
        QVERIFY(reports[1].startsWith(
            QStringLiteral("second\r\nin Velmoran2021/08/31.Main.R at line 104\r\r")));
    }

    void failedTestRunsTheGuardedBranch()
    {
        FakePlatform fake;
        DialogErrorReporter reporter(fake.dialogs);
        GuardedRoutine routine(reporter, QStringLiteral("label "));
        QVERIFY(routine.test(104, []() -> bool { throw Failure(QStringLiteral("boom")); }));
        QVERIFY(!routine.test(106, [] { return false; }));
        QVERIFY(routine.test(108, [] { return true; }));
        QCOMPARE(fake.dialogs.errorReports().size(), 1);
        QVERIFY(fake.dialogs.errorReports()[0].contains(QStringLiteral("at line 104")));
    }

    void failedLoopHeadRunsTheBodyOnce()
    {
        FakePlatform fake;
        DialogErrorReporter reporter(fake.dialogs);
        GuardedRoutine routine(reporter, QStringLiteral("label "));
        int passes = 0;
        const int bound =
            routine.loopBound(118, []() -> int { throw Failure(QStringLiteral("no count")); });
        for (int i = 1; i <= bound; ++i)
            ++passes;
        QCOMPARE(passes, 1);
        QCOMPARE(routine.loopBound(118, [] { return 7; }), 7);
        QCOMPARE(routine.value(
                     120, []() -> QString { throw Failure(QStringLiteral("x")); },
                     QStringLiteral("fallback")),
                 QStringLiteral("fallback"));
        QCOMPARE(fake.dialogs.errorReports().size(), 2);
    }

    void programClosingIsNotAFailure()
    {
        FakePlatform fake;
        DialogErrorReporter reporter(fake.dialogs);
        GuardedRoutine routine(reporter, QStringLiteral("label "));
        bool unwound = false;
        try {
            routine.step(100, [] { throw ProgramClosing{}; });
        } catch (const ProgramClosing&) {
            unwound = true;
        }
        QVERIFY(unwound);
        QVERIFY(fake.dialogs.shown.isEmpty());
    }

    void failureWhileShowingTheReportIsNotReportedAgain()
    {
        FakePlatform fake;
        int shown = 0;
        fake.dialogs.onShow = [&](const auto&) {
            ++shown;
            throw Failure(QStringLiteral("the report itself failed"));
        };
        DialogErrorReporter reporter(fake.dialogs);
        GuardedRoutine routine(reporter, QStringLiteral("label "));
        bool after = false;
        routine.step(100, [] { throw Failure(QStringLiteral("first")); });
        routine.step(102, [&] { after = true; });
        QCOMPARE(shown, 1);
        QVERIFY(after);
    }

    void applicationTitleIsCutBeforeTheLastBlank_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("title");
        QTest::newRow("product name")
            << QStringLiteral("Velmoran Software") << QStringLiteral("Velmoran");
        QTest::newRow("cut at least once") << QStringLiteral("A B C") << QStringLiteral("A B");
        QTest::newRow("cut until 40 or less")
            << QStringLiteral("Aaaaaaaaaa Bbbbbbbbbb Cccccccccc Dddddddddd Eeeeeeeeee")
            << QStringLiteral("Aaaaaaaaaa Bbbbbbbbbb Cccccccccc");
        QTest::newRow("no blank") << QStringLiteral("Velmoran") << QStringLiteral("Velmoran");
    }
    void applicationTitleIsCutBeforeTheLastBlank()
    {
        QFETCH(QString, product);
        QFETCH(QString, title);
        QCOMPARE(applicationTitleFromProductName(product), title);
    }
};

QTEST_GUILESS_MAIN(FailureReportTest)
#include "test_failure_report.moc"
