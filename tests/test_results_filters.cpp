#include "app/results_filters.h"
#include "app/results_model.h"
#include "app/results_removal_lock.h"
#include "core/failure.h"
#include "window_harness.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace velmoran;
using velmoran::test::ShownDialog;
using velmoran::test::WindowHarness;

namespace {

// One results row per contact, the contact also echoed in the value so a value match can be
// told from a contact match.
void fillContacts(WindowHarness& f, const QStringList& contacts)
{
    for (const QString& contact : contacts)
        f.window.results().append(contact, MessageField::Body, QStringLiteral("says ") + contact);
}

} // namespace

class ResultsFiltersTest : public QObject {
    Q_OBJECT

private slots:
    void filtersSelectByContactOnly_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<QStringList>("contacts");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("remaining");

        const QStringList five = {QStringLiteral("ann"), QStringLiteral("bob1"),
                                  QStringLiteral("bob2"), QStringLiteral("carl"),
                                  QStringLiteral("bob3")};
        QTest::newRow("containing removes rows 2, 3 and 5, keeping order")
            << 17 << five << QStringLiteral("bob")
            << QStringList{QStringLiteral("ann"), QStringLiteral("carl")};
        QTest::newRow("not containing keeps only the matches")
            << 11 << five << QStringLiteral("bob")
            << QStringList{QStringLiteral("bob1"), QStringLiteral("bob2"), QStringLiteral("bob3")};
        QTest::newRow("capitals select small letters")
            << 17 << QStringList{QStringLiteral("alice"), QStringLiteral("Bob")}
            << QStringLiteral("ALI") << QStringList{QStringLiteral("Bob")};
        QTest::newRow("capitals kept by not containing")
            << 11 << QStringList{QStringLiteral("alice"), QStringLiteral("Bob")}
            << QStringLiteral("ALI") << QStringList{QStringLiteral("alice")};
        QTest::newRow("non-ASCII letters compare in lower case")
            << 17 << QStringList{QStringLiteral("ÉMILE"), QStringLiteral("zoe")}
            << QStringLiteral("émi") << QStringList{QStringLiteral("zoe")};
        QTest::newRow("text only in the value is not a match (containing keeps)")
            << 17 << QStringList{QStringLiteral("alice")} << QStringLiteral("says")
            << QStringList{QStringLiteral("alice")};
        QTest::newRow("text only in the value is not a match (not containing removes)")
            << 11 << QStringList{QStringLiteral("alice")} << QStringLiteral("says")
            << QStringList{};
        QTest::newRow("empty contact kept by containing")
            << 17 << QStringList{QString(), QStringLiteral("x")} << QStringLiteral("x")
            << QStringList{QString()};
        QTest::newRow("empty contact removed by not containing")
            << 11 << QStringList{QString(), QStringLiteral("x")} << QStringLiteral("x")
            << QStringList{QStringLiteral("x")};
        QTest::newRow("blanks are a text of their own")
            << 17
            << QStringList{QStringLiteral("a  b"), QStringLiteral("a b"), QStringLiteral("ab")}
            << QStringLiteral("  ") << QStringList{QStringLiteral("a b"), QStringLiteral("ab")};
        QTest::newRow("answer is not trimmed")
            << 17 << QStringList{QStringLiteral("bob"), QStringLiteral("bob ")}
            << QStringLiteral("bob ") << QStringList{QStringLiteral("bob")};
        QTest::newRow("not containing a text nobody has empties the list")
            << 11 << five << QStringLiteral("zzz") << QStringList{};
        QTest::newRow("containing on an empty list")
            << 17 << QStringList{} << QStringLiteral("a") << QStringList{};
        QTest::newRow("not containing on an empty list")
            << 11 << QStringList{} << QStringLiteral("a") << QStringList{};
    }
    void filtersSelectByContactOnly()
    {
        QFETCH(int, button);
        QFETCH(QStringList, contacts);
        QFETCH(QString, answer);
        QFETCH(QStringList, remaining);

        WindowHarness f;
        fillContacts(f, contacts);
        f.fake.dialogs.answerInput(answer);
        f.press(button);

        QCOMPARE(f.resultContacts(), remaining);
        QCOMPARE(f.window.results().rowCount(), int(remaining.size()));
        // The prompt, and nothing else shown: no count, no message.
        QCOMPARE(f.fake.dialogs.shown.size(), 1);
        QCOMPARE(f.fake.dialogs.shown[0].kind, ShownDialog::InputBox);
        QCOMPARE(f.fake.dialogs.shown[0].text,
                 button == 17 ? QStringLiteral("Remove entries containing: ")
                              : QStringLiteral("Remove entries not containing: "));
        QCOMPARE(f.window.mousePointer().value(), int(MousePointer::Default));
        QCOMPARE(f.window.progress().text(), QStringLiteral("Progress Bar"));
    }

    void cancelChangesNothing_data()
    {
        QTest::addColumn<int>("button");
        QTest::newRow("containing") << 17;
        QTest::newRow("not containing") << 11;
    }
    void cancelChangesNothing()
    {
        QFETCH(int, button);
        WindowHarness f;
        fillContacts(f, {QStringLiteral("alice"), QStringLiteral("bob")});
        f.window.mousePointer().set(MousePointer::Custom);
        // No scripted answer: the input box is cancelled, which answers "".
        f.press(button);
        QCOMPARE(f.resultContacts(), (QStringList{QStringLiteral("alice"), QStringLiteral("bob")}));
        QCOMPARE(f.window.mousePointer().value(), int(MousePointer::Custom));
        QCOMPARE(f.fake.dialogs.shown.size(), 1);
    }

    void otherRemovalsWaitWhileAFilterRuns()
    {
        WindowHarness f;
        fillContacts(f, {QStringLiteral("alice"), QStringLiteral("bob"), QStringLiteral("alice2"),
                         QStringLiteral("carl")});
        int pointerDuringScan = -1;
        bool removalButtonsEnabled = true;
        bool lockAllowed = true;
        // Runs inside the filter's first yield: tries every other removal and appends a row
        // that the running scan must not look at.
        QTimer::singleShot(0, &f.window, [&] {
            pointerDuringScan = f.window.mousePointer().value();
            removalButtonsEnabled = f.window.button(6)->isEnabled()
                                    || f.window.button(11)->isEnabled()
                                    || f.window.button(17)->isEnabled();
            lockAllowed = f.window.resultsRemoval().removalAllowed();
            f.fake.dialogs.answerInput(QStringLiteral("bob"));
            f.press(6);
            f.press(11);
            // Even a call that bypasses the disabled buttons changes nothing.
            f.window.runCommand([&] { f.window.button(6)->clicked(); });
            f.window.results().append(QStringLiteral("alice3"), MessageField::Body,
                                      QStringLiteral("late"));
        });
        f.fake.dialogs.answerInput(QStringLiteral("ALICE"));
        f.press(17);

        QCOMPARE(pointerDuringScan, int(MousePointer::Hourglass));
        QVERIFY(!removalButtonsEnabled);
        QVERIFY(!lockAllowed);
        // Only the filter's own prompt was shown; the row appended during the scan stays.
        QCOMPARE(f.fake.dialogs.shown.size(), 1);
        QCOMPARE(f.resultContacts(), (QStringList{QStringLiteral("bob"), QStringLiteral("carl"),
                                                  QStringLiteral("alice3")}));
        QVERIFY(f.window.button(6)->isEnabled());
        QVERIFY(f.window.button(11)->isEnabled());
        QVERIFY(f.window.button(17)->isEnabled());
        QVERIFY(f.window.resultsRemoval().removalAllowed());
        QCOMPARE(f.window.mousePointer().value(), int(MousePointer::Default));

        // Once the filter has ended, Clear Results works again.
        f.press(6);
        QCOMPARE(f.window.results().size(), 0);
    }

    void closingDuringAFilterReleasesTheLock()
    {
        WindowHarness f;
        fillContacts(f, {QStringLiteral("alice"), QStringLiteral("bob")});
        QTimer::singleShot(0, &f.window, [&] { f.window.close(); });
        f.fake.dialogs.answerInput(QStringLiteral("alice"));
        f.press(17);
        // The filter was unwound before its removal.
        QCOMPARE(f.window.results().size(), 2);
        QVERIFY(f.window.resultsRemoval().removalAllowed());
    }

    void clearResultsEmptiesSilently()
    {
        WindowHarness f;
        fillContacts(f, {QStringLiteral("alice"), QStringLiteral("bob")});
        f.press(6);
        QCOMPARE(f.window.results().size(), 0);
        QCOMPARE(f.window.results().rowCount(), 0);
        QCOMPARE(f.window.results().columnCount(), 3);
        f.press(6);
        QVERIFY(f.fake.dialogs.shown.isEmpty());
    }

    void removingPositionsTellsTheViewWhatWentAway_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QList<int>>("positions");
        QTest::addColumn<int>("removalSignals");
        QTest::addColumn<int>("resets");
        QTest::newRow("one run") << 6 << QList<int>{2, 3, 4} << 1 << 0;
        QTest::newRow("runs from the last up") << 6 << QList<int>{1, 3, 4, 6} << 3 << 0;
        QList<int> scattered;
        for (int p = 1; p <= 400; p += 2)
            scattered << p;
        QTest::newRow("many scattered runs reset once") << 400 << scattered << 0 << 1;
        QTest::newRow("nothing") << 3 << QList<int>{} << 0 << 0;
    }
    void removingPositionsTellsTheViewWhatWentAway()
    {
        QFETCH(int, rows);
        QFETCH(QList<int>, positions);
        QFETCH(int, removalSignals);
        QFETCH(int, resets);

        ResultsModel model;
        model.addColumn(QStringLiteral("Contact"));
        QStringList expected;
        for (int r = 1; r <= rows; ++r) {
            model.append(QString::number(r), MessageField::Body, QString());
            if (!positions.contains(r))
                expected << QString::number(r);
        }
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        model.removePositions(std::vector<qsizetype>(positions.begin(), positions.end()));

        QStringList remaining;
        for (qsizetype r = 1; r <= model.size(); ++r)
            remaining << model.contact(r);
        QCOMPARE(remaining, expected);
        QCOMPARE(model.rowCount(), int(expected.size()));
        QCOMPARE(int(removed.size()), removalSignals);
        QCOMPARE(int(reset.size()), resets);
        // Runs are removed from the highest position down.
        for (qsizetype i = 1; i < removed.size(); ++i)
            QVERIFY(removed[i][1].toInt() < removed[i - 1][1].toInt());
    }

    void badPositionsRemoveNothing_data()
    {
        QTest::addColumn<QList<int>>("positions");
        QTest::newRow("past the end") << QList<int>{1, 4};
        QTest::newRow("zero") << QList<int>{0, 1};
        QTest::newRow("falling") << QList<int>{2, 1};
        QTest::newRow("twice") << QList<int>{2, 2};
    }
    void badPositionsRemoveNothing()
    {
        QFETCH(QList<int>, positions);
        ResultsModel model;
        for (int r = 1; r <= 3; ++r)
            model.append(QString::number(r), MessageField::Body, QString());
        bool failed = false;
        try {
            model.removePositions(std::vector<qsizetype>(positions.begin(), positions.end()));
        } catch (const Failure&) {
            failed = true;
        }
        QVERIFY(failed);
        QCOMPARE(model.size(), 3);
    }
};

QTEST_MAIN(ResultsFiltersTest)
#include "test_results_filters.moc"
