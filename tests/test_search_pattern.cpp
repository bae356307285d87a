// The search text tested against the bytes of a field before the field is made into text: a
// "no" from the bytes must never hide a match in the text.
#include "history_files.h"
#include "search/search_pattern.h"

#include <QRandomGenerator>
#include <QTest>

#include <string>

using namespace velmoran;

namespace {

// Pieces that fields and search texts are made of: ASCII in both cases, characters whose case
// folding is ASCII (Kelvin sign, long s) or changes length (sharp s, dotted capital I), final
// sigma, other scripts, an emoji, U+FFFD and a byte order mark, and bytes that are no UTF-8
// (cut sequences, a lone continuation byte, an encoded surrogate, an overlong form).
const std::string pieces[] = {
    "a",
    "A",
    "k",
    "K",
    "s",
    "S",
    "\xe2\x84\xaa",
    "\xc5\xbf",
    "ß",
    "ẞ",
    "İ",
    "i",
    "ı",
    "Σ",
    "ς",
    "σ",
    "é",
    "É",
    "明",
    "😀",
    "\xef\xbf\xbd",
    " ",
    "\xef\xbb\xbf",
    "\xe2\x82",
    "\x80",
    "\xed\xa0\x80",
    "\xc0\xaf",
    "\xf0\x9f",
    "1",
    ":",
};

std::string randomPieces(QRandomGenerator& random, int most)
{
    std::string text;
    const int count = int(random.bounded(most + 1));
    for (int i = 0; i < count; ++i)
        text += pieces[random.bounded(int(std::size(pieces)))];
    return text;
}

} // namespace

class SearchPatternTest : public QObject {
    Q_OBJECT

private slots:
    // Random fields and texts of those pieces, both letter cases: wherever the text of a field
    // matches, its bytes may match too.
    void bytesNeverHideAMatch()
    {
        QRandomGenerator random(20261209);
        int matches = 0;
        int turnedDown = 0;
        for (int round = 0; round < 3000; ++round) {
            const std::string searched = randomPieces(random, 3);
            const SearchPattern pattern(QString::fromUtf8(searched));
            for (int field = 0; field < 40; ++field) {
                const std::string bytes = randomPieces(random, 12);
                const QString text = QString::fromUtf8(bytes);
                for (const Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
                    const bool match = pattern.matches(text, cs);
                    const bool may = pattern.mayMatchUtf8(bytes, cs);
                    if (match && !may)
                        QFAIL(qPrintable(QStringLiteral("\"%1\" in \"%2\", case %3: hidden")
                                             .arg(pattern.text(), text)
                                             .arg(int(cs))));
                    matches += match;
                    turnedDown += !may;
                }
            }
        }
        // Both answers were met often: the bytes do turn fields down.
        QVERIFY(matches > 30000);
        QVERIFY(turnedDown > 30000);
    }

    void answersFromTheBytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<bool>("matchCase");
        QTest::addColumn<bool>("may");
        QTest::newRow("found") << "lot" << QByteArray("a lot") << true << true;
        QTest::newRow("not found") << "lot" << QByteArray("a Lot") << true << false;
        QTest::newRow("other case") << "LOT" << QByteArray("a lOt") << false << true;
        QTest::newRow("no such letters") << "xyz" << QByteArray("a lot") << false << false;
        QTest::newRow("Kelvin sign may fold to k")
            << "k" << QByteArray("\xe2\x84\xaa") << false << true;
        QTest::newRow("long s may fold to s") << "S" << QByteArray("\xc5\xbf") << false << true;
        QTest::newRow("beyond ASCII, case counts")
            << "Grüße" << QByteArray("viele Grüße") << true << true;
        QTest::newRow("beyond ASCII, case ignored: the text decides")
            << "GRÜSSE" << QByteArray("nothing alike") << false << true;
        QTest::newRow("empty field") << "a" << QByteArray() << true << false;
        QTest::newRow("empty text, empty field") << "" << QByteArray() << true << false;
        QTest::newRow("empty text") << "" << QByteArray("x") << true << true;
        QTest::newRow("replacement character: the text decides")
            << QString(QChar::ReplacementCharacter) << QByteArray("\xff") << true << true;
    }
    void answersFromTheBytes()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, field);
        QFETCH(bool, matchCase);
        QFETCH(bool, may);
        const SearchPattern pattern(text);
        const Qt::CaseSensitivity cs = matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
        QCOMPARE(pattern.mayMatchUtf8(field.toStdString(), cs), may);
        if (!may)
            QVERIFY(!pattern.matches(QString::fromUtf8(field), cs));
        // An expression is never answered from the bytes.
        QVERIFY(SearchPattern::regularExpression(QStringLiteral("zz")).mayMatchUtf8("a", cs));
    }

    // An expression that runs into a limit of the library is tried again with more room; what
    // that cannot settle either throws a failure naming the limit, never answers "no match".
    void expressionsNeverMissSilently_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("matchCase");
        QTest::addColumn<int>("answer"); // 1 a match, 0 none, -1 a failure
        const QString w20001 = QString(20000, u'w') + u'z';
        const QString w1000000 = QString(999'999, u'w') + u'z';
        QTest::newRow("repeated group, 20,001") << "(w|v)+z" << w20001 << true << 1;
        QTest::newRow("repeated group, 1,000,000") << "(w|v)+z" << w1000000 << true << 1;
        QTest::newRow("repeated group, case ignored") << "(W|V)+Z" << w1000000 << false << 1;
        QTest::newRow("backtracking the second try settles")
            << "(?:(a+)+$|!)" << QString(25, u'a') + u'!' << true << 1;
        QTest::newRow("backtracking without end")
            << "(?:(a+)+$|!)" << QString(20000, u'a') + u'!' << true << -1;
        QTest::newRow("lone surrogate")
            << "lunch" << QChar(0xD800) + QStringLiteral(" lunch") << true << 1;
        QTest::newRow("ordinary, case ignored") << "lunch|dinner"
                                                << "Lunch" << false << 1;
        QTest::newRow("ordinary, case counts") << "lunch|dinner"
                                               << "Lunch" << true << 0;
    }
    void expressionsNeverMissSilently()
    {
        QFETCH(QString, expression);
        QFETCH(QString, field);
        QFETCH(bool, matchCase);
        QFETCH(int, answer);
        const SearchPattern pattern = SearchPattern::regularExpression(expression);
        QVERIFY(pattern.isValid());
        bool matched = false;
        const QString failure = test::failureOf([&] {
            matched = pattern.matches(field, matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive);
        });
        QCOMPARE(failure.isEmpty() ? int(matched) : -1, answer);
        QVERIFY2(answer >= 0 || failure.contains(u"limit"), qPrintable(failure));
    }

    // Only characters of the basic plane fold to ASCII, so only those need looking for.
    void nothingBeyondTheBasicPlaneFoldsToAscii()
    {
        for (char32_t c = 0x10000; c <= 0x10FFFF; ++c)
            QVERIFY2(QChar::toCaseFolded(c) >= 0x80, qPrintable(QString::number(uint(c), 16)));
    }
};

QTEST_GUILESS_MAIN(SearchPatternTest)
#include "test_search_pattern.moc"
