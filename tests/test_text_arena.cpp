#include "chat/body_markup.h"
#include "chat/export_reader.h"
#include "chat/history_text.h"

#include <QTest>

#include <string>
#include <vector>

using namespace velmoran;

namespace {

// Checks a text from the arena against what QString::fromUtf8 makes of the same bytes (given
// as a pointer and a size, as the readers hold them), including the null a QString's data
// ends in.
void compareWithFromUtf8(const QString& text, const QByteArray& utf8)
{
    const QString expected = QString::fromUtf8(utf8.constData(), utf8.size());
    QCOMPARE(text, expected);
    QCOMPARE(text.size(), expected.size());
    QCOMPARE(text.isNull(), expected.isNull());
    QCOMPARE(text.utf16()[text.size()], u'\0');
}

std::string_view viewOf(const QByteArray& bytes)
{
    return std::string_view(bytes.constData(), size_t(bytes.size()));
}

// A text of the given length made of a few scripts, different for each seed.
QByteArray mixedText(int length, int seed)
{
    static const char* const pieces[] = {"ok ", "Привет ", "明天见 ", "😀", "שלום ", "\xc3\xa9"};
    QByteArray text;
    for (int i = 0; text.size() < length; ++i)
        text += pieces[(i + seed) % 6];
    return text;
}

} // namespace

class TextArenaTest : public QObject {
    Q_OBJECT

private slots:
    void textsReadAsFromUtf8_data()
    {
        QTest::addColumn<QByteArray>("utf8");
        QTest::newRow("ASCII") << QByteArray("The meeting moved to 3 pm");
        QTest::newRow("non-ASCII") << QByteArray("Καλημέρα 明天见 😀 شكرا €");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("embedded null") << QByteArray("a\0b", 3);
        QTest::newRow("bytes that are no UTF-8") << QByteArray("a\xff\xfe b \xc3(c");
        QTest::newRow("sequence cut at the end") << QByteArray("abc \xe6\x98");
        QTest::newRow("lone continuation byte first") << QByteArray("\x80xyz");
        QTest::newRow("leading byte order mark") << QByteArray("\xef\xbb\xbfhello");
        QTest::newRow("encoded surrogate") << QByteArray("x\xed\xa0\x80y");
        QTest::newRow("larger than a block") << mixedText(3 << 20, 1);
    }

    void textsReadAsFromUtf8()
    {
        QFETCH(QByteArray, utf8);
        TextArena arena;
        // Something before it, so it does not start a block.
        const QString before = arena.add("before");
        const QString text = arena.add(viewOf(utf8));
        const QString after = arena.add("after");
        compareWithFromUtf8(text, utf8);
        QCOMPARE(before, QStringLiteral("before"));
        QCOMPARE(after, QStringLiteral("after"));
    }

    // Many texts across many blocks keep their own characters, and a text cut in the middle
    // of a character does not run on into the next.
    void manyTextsKeepTheirContent()
    {
        TextArena arena;
        std::vector<QByteArray> written;
        std::vector<QString> texts;
        for (int i = 0; i < 20000; ++i) {
            QByteArray utf8 = mixedText((i * 37) % 700, i);
            if (i % 11 == 0)
                utf8 += "\xe2\x82"; // the start of a character, cut short
            if (i % 13 == 0)
                utf8.clear();
            if (i == 5000)
                utf8 = mixedText(1 << 21, i); // a block of its own between others
            written.push_back(utf8);
            texts.push_back(arena.add(viewOf(utf8)));
        }
        for (size_t i = 0; i < written.size(); ++i)
            compareWithFromUtf8(texts[i], written[i]);
    }

    // The room of texts no longer held is written over by the next ones; a text still held
    // keeps its room and its content.
    void takenBackRoomIsReusedOnlyWhenNoTextHoldsIt()
    {
        TextArena arena;
        const QString first = arena.add("first");
        const QChar* const room = first.constData() + first.size() + 1;
        TextArena::Mark mark = arena.mark();
        QString dropped = arena.add("dropped");
        QCOMPARE(dropped.constData(), room);
        dropped = QString();
        arena.takeBack(mark);
        mark = arena.mark();
        const QString held = arena.add("held");
        QCOMPARE(held.constData(), room);
        arena.takeBack(mark);
        const QString next = arena.add("next");
        QVERIFY(next.constData() != room);
        QCOMPARE(held, QStringLiteral("held"));
        QCOMPARE(next, QStringLiteral("next"));
        QCOMPARE(first, QStringLiteral("first"));
        // A text that took a new block: nothing to take back in the block of the mark.
        mark = arena.mark();
        QString large = arena.add(std::string(1 << 20, 'x'));
        large = QString();
        arena.takeBack(mark);
        QCOMPARE(arena.add("after"), QStringLiteral("after"));
        QCOMPARE(held, QStringLiteral("held"));
    }

    // Texts outlive their arena; a changed text gets a buffer of its own and leaves its
    // neighbours as they were, also when it is the last one left of its block.
    void textsAreOrdinaryStrings()
    {
        QString first, second, third;
        {
            TextArena arena;
            first = arena.add("first");
            second = arena.add("second");
            third = arena.add("thïrd");
        }
        QString copy = second;
        copy += QStringLiteral(" changed");
        copy.prepend(QStringLiteral(">"));
        QCOMPARE(copy, QStringLiteral(">second changed"));
        QCOMPARE(first, QStringLiteral("first"));
        QCOMPARE(second, QStringLiteral("second"));
        QCOMPARE(third, QStringLiteral("thïrd"));
        first.clear();
        third = QString();
        copy.clear();
        second.append(QStringLiteral(" alone"));
        second[0] = u'S';
        QCOMPARE(second, QStringLiteral("Second alone"));
        second.squeeze();
        QCOMPARE(second, QStringLiteral("Second alone"));
        QCOMPARE(second.utf16()[second.size()], u'\0');
    }

    void plainBodiesComeFromTheMarkup()
    {
        TextArena arena;
        std::string scratch;
        const QByteArray markup = "<b>bold</b> &amp; <a href=\"x\">link</a> 😀";
        std::string expected;
        appendPlainText(viewOf(markup), expected);
        QCOMPARE(plainBody(viewOf(markup), scratch, arena), QString::fromStdString(expected));
        QCOMPARE(plainBody("no markup", scratch, arena), QStringLiteral("no markup"));
    }

    // The export reader keeps every body, in order, when a history spans many blocks: a
    // message's body is never another's.
    void exportBodiesStayInPlaceAcrossBlocks()
    {
        QByteArray messages;
        std::vector<QString> expected;
        for (int i = 0; i < 3000; ++i) {
            const QByteArray body =
                i == 1234    ? mixedText(1 << 20, i)
                : i % 9 == 0 ? QByteArray()
                             : mixedText((i * 53) % 900, i) + " #" + QByteArray::number(i);
            if (!messages.isEmpty())
                messages += ',';
            messages += "{\"id\":\"" + QByteArray::number(i)
                        + "\",\"displayName\":\"Ånna\",\"from\":\"8:anna\",\"originalarrivaltime\":"
                          "\"2020-01-01T00:00:00.000Z\",\"messagetype\":\"Text\",\"content\":\""
                        + body + "\"}";
            expected.push_back(QString::fromUtf8(body));
        }
        const QByteArray json =
            "{\"conversations\":[{\"id\":\"8:anna\",\"MessageList\":[" + messages + "]}]}";
        const ChatHistory history = parseExportJson(json, QStringLiteral("messages.json"));
        QCOMPARE(history.chats.size(), size_t(1));
        const auto& read = history.chats[0].messages;
        QCOMPARE(read.size(), expected.size());
        for (size_t i = 0; i < read.size(); ++i) {
            QCOMPARE(read[i].body, expected[i]);
            QCOMPARE(read[i].senderDisplayName, QStringLiteral("Ånna"));
        }
    }
};

QTEST_GUILESS_MAIN(TextArenaTest)
#include "test_text_arena.moc"
