// A message as the conversation window lays it out: whole and wrapped, each paragraph in its own
// direction, its parts read as written; the view that measures only the rows around what is
// shown and brings a match inside a long message into view; pictures' thumbnails.
#include "app/conversation_models.h"
#include "app/conversation_window.h"
#include "app/message_layout.h"
#include "app/message_view.h"
#include "app/thumbnails.h"
#include "chat/person_names.h"
#include "core/event_pump.h"
#include "support/fake_platform.h"
#include "support/history_builder.h"
#include "support/history_files.h"

#include <QBuffer>
#include <QMenu>
#include <QScrollBar>
#include <QtTest>

using namespace velmoran;
using namespace Qt::Literals::StringLiterals;

namespace {

HistoryMessage message(const QString& body, MessageKind kind = MessageKind::Text,
                       const QString& markup = {})
{
    HistoryMessage m = test::messageOf({1730797200000, u"live:anna"_s, u"Anna"_s, body, kind});
    m.markup = markup;
    return m;
}

const ChatHistory& people()
{
    static const ChatHistory history = [] {
        ChatHistory h;
        h.personNames.insert(u"me.myself"_s, u"Me Myself"_s);
        return h;
    }();
    return history;
}

QByteArray picture(QSize size, const char* format = "PNG")
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return data;
}

const QString longText = u"lorem ipsum dolor sit amet "_s.repeated(40) + u"needle"_s;

} // namespace

class TestMessageLayout : public QObject {
    Q_OBJECT

private slots:
    // Each paragraph wraps inside the width and starts on its own side: left for left-to-right
    // text, right for right-to-left text; a word longer than the width breaks anywhere.
    void wrapsAndAligns_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("minLines");
        QTest::addColumn<int>("paragraph"); // where the paragraph checked starts
        QTest::addColumn<bool>("rightToLeft");
        QTest::newRow("long latin") << longText << 5 << 0 << false;
        QTest::newRow("line breaks kept") << u"one\ntwo\n\nfour"_s << 4 << 4 << false;
        QTest::newRow("hebrew") << u"שלום לכולם, "_s.repeated(20) << 3 << 0 << true;
        QTest::newRow("hebrew after latin line") << u"Hi\nשלום לכולם"_s << 2 << 3 << true;
        QTest::newRow("cjk") << u"我们明天上午十点在火车站见面"_s.repeated(10) << 3 << 0 << false;
        QTest::newRow("url without blanks")
            << u"https://example.org/"_s + u"x"_s.repeated(300) << 3 << 0 << false;
    }
    void wrapsAndAligns()
    {
        QFETCH(QString, text);
        QFETCH(int, minLines);
        QFETCH(int, paragraph);
        QFETCH(bool, rightToLeft);
        const int width = 300;
        const QFont font;
        const MessageLayout layout(message(text), people(), font, width);
        QVERIFY2(layout.height() >= minLines * QFontMetrics(font).height() * 9 / 10,
                 qPrintable(QString::number(layout.height())));
        // Nothing drawn beyond the width, the last character included.
        const QRectF last = layout.writtenTextRect(int(text.size()) - 1, int(text.size()));
        QVERIFY(!last.isNull());
        QVERIFY(last.right() <= width + 1 && last.left() >= 0);
        QVERIFY(last.bottom() <= layout.height());
        const QRectF first = layout.writtenTextRect(paragraph, paragraph + 1);
        if (rightToLeft)
            QVERIFY2(first.right() > width - 20, qPrintable(QString::number(first.right())));
        else
            QVERIFY2(first.left() < 2, qPrintable(QString::number(first.left())));
    }

    // Calls, deletions, quotes, edits, files and pictures read as they were written; links
    // and "Open" are found where they are drawn; only http, https and mailto are links.
    void partsReadAsWritten()
    {
        const QFont font;
        const int width = 400;
        auto hitOf = [&](const MessageLayout& layout, const QRectF& at) {
            return layout.hitAt(at.center());
        };

        const QString linked = u"see https://example.org/a or javascript:alert(1) or "
                               "mailto:anna@example.org"_s;
        const MessageLayout links(message(linked), people(), font, width);
        const int web = int(linked.indexOf(u"https"));
        const int script = int(linked.indexOf(u"javascript"));
        const int mail = int(linked.indexOf(u"mailto"));
        QCOMPARE(hitOf(links, links.writtenTextRect(web + 3, web + 4)).url,
                 QUrl(u"https://example.org/a"_s));
        QCOMPARE(hitOf(links, links.writtenTextRect(script + 3, script + 4)).kind,
                 MessageLayout::Hit::Kind::None);
        QCOMPARE(hitOf(links, links.writtenTextRect(mail + 3, mail + 4)).url.scheme(), u"mailto"_s);

        const MessageLayout quote(
            message(u"sounds good"_s, MessageKind::Text,
                    u"<quote author=\"me.myself\" authorname=\"Old Name\" timestamp=\"1730797200\">"
                    "see you</quote>sounds good"_s),
            people(), font, width);
        // Who is named by their one name; the quote is indented above the reply.
        const QRectF who = quote.firstMatch(u"Me Myself"_s, Qt::CaseSensitive);
        const QRectF quoted = quote.firstMatch(u"see you"_s, Qt::CaseSensitive);
        const QRectF reply = quote.firstMatch(u"sounds good"_s, Qt::CaseSensitive);
        QVERIFY(!who.isNull() && !quoted.isNull() && !reply.isNull());
        QVERIFY(quoted.left() > reply.left() + 5 && who.top() < quoted.top());
        QVERIFY(quoted.bottom() <= reply.top());
        QVERIFY(quote.firstMatch(u"Old Name"_s, Qt::CaseSensitive).isNull());

        HistoryMessage shared = message(u"x"_s, MessageKind::File, u"<e_m ts_ms=\"1\"/>"_s);
        shared.file = std::make_shared<SharedFile>(SharedFile{u"0-a"_s, u"plan.pdf"_s, 2048});
        const MessageLayout file(shared, people(), font, width);
        const QRectF name = file.firstMatch(u"plan.pdf"_s, Qt::CaseSensitive);
        QVERIFY(!name.isNull());
        QCOMPARE(file.hitAt(name.center()).kind, MessageLayout::Hit::Kind::None);
        // "Open" stands after the name, the size and the edit mark.
        bool opens = false;
        for (qreal x = name.right(); x < width && !opens; x += 2)
            opens = file.hitAt(QPointF(x, name.center().y())).kind
                    == MessageLayout::Hit::Kind::OpenFile;
        QVERIFY(opens);
        QVERIFY(file.firstMatch(u"edited"_s, Qt::CaseSensitive).isNull());

        // A picture opens from its thumbnail; one only named in markup (an old database's,
        // with no file to look for) offers nothing to open.
        HistoryMessage shown = message(u"x"_s, MessageKind::Picture);
        shown.file = std::make_shared<SharedFile>(SharedFile{u"0-b"_s, u"a.png"_s, -1});
        const MessageLayout picture(shown, people(), font, width);
        const MessageLayout named(message(u"x"_s, MessageKind::Picture,
                                          u"<URIObject uri=\"https://x/objects/0-b\" "
                                          "type=\"Picture.1\"><OriginalName v=\"a.png\"/>"
                                          "</URIObject>"_s),
                                  people(), font, width);
        const QSize box = MessageLayout::thumbnailBox(width);
        QVERIFY(picture.height() > box.height());
        const QPointF middle(box.width() / 2.0, box.height() / 2.0);
        QCOMPARE(picture.hitAt(middle).kind, MessageLayout::Hit::Kind::OpenFile);
        QCOMPARE(named.hitAt(middle).kind, MessageLayout::Hit::Kind::None);

        // A call is one quiet line, not a blank.
        const MessageLayout call(
            message({}, MessageKind::Call,
                    u"<partlist type=\"ended\" alt=\"\"><part identity=\"live:anna\"><duration>"
                    "2160</duration></part></partlist>"_s),
            people(), font, width);
        QVERIFY(!call.firstMatch(u"Call, 36 min"_s, Qt::CaseSensitive).isNull());
    }

    // In a long chat with a message many screens tall, opening at a match near its end shows
    // that match; the rows on screen have their true heights and the others are not measured;
    // a narrower window measures the rows it shows again.
    void longMessageShowsItsMatch()
    {
        auto history = std::make_shared<ChatHistory>(
            test::historyOf({{u"live:anna"_s, {}, u"8:live:anna"_s, u"Anna"_s}}, QStringList()));
        for (int i = 0; i < 20000; ++i) {
            // Taller than one line: the rows above row 5000, and the one message of many
            // screens.
            HistoryMessage m = message(i == 10000              ? longText.repeated(30)
                                       : i >= 4980 && i < 5000 ? u"three\nline\nrow"_s
                                                               : u"short %1"_s.arg(i));
            m.timestampMs += qint64(i) * 1000;
            history->chats[0].messages.push_back(m);
        }
        indexPeople(*history);

        test::FakePlatform fake;
        EventPump pump;
        ConversationWindow window(fake.platform, pump);
        window.resize(800, 500);
        window.show();
        window.showMessage(history, 0, 10000, u"needle"_s, Qt::CaseSensitive);
        QApplication::processEvents();
        MessageView* view = window.messageView();
        MessageDelegate& delegate = window.messageDelegate();
        auto checkShown = [&] {
            const QModelIndex hit =
                window.messageModel().index(window.messageModel().rowOfMessage(10000));
            const QRect row = view->visualRect(hit);
            QVERIFY2(row.height() > 5 * view->viewport()->height(),
                     qPrintable(QString::number(row.height())));
            const QRectF match = delegate.focusRect(hit, view->viewport()->width(), view->font());
            QVERIFY(!match.isNull());
            QVERIFY(
                view->viewport()->rect().contains(match.translated(row.topLeft()).toAlignedRect()));
            for (int y = 0; y < view->viewport()->height(); y += 4) {
                const QModelIndex shown = view->indexAt(QPoint(10, y));
                if (shown.isValid())
                    QCOMPARE(view->visualRect(shown).height(),
                             delegate.rowHeight(shown, view->viewport()->width(), view->font()));
            }
        };
        checkShown();
        // Far away rows keep the one-line height they started with.
        QCOMPARE(view->rowHeight(2), view->rowHeight(19000));
        window.resize(500, 500);
        QApplication::processEvents();
        view->scrollTo(view->currentIndex());
        checkShown();

        // The keys read on through the long message: Page Down scrolls through it and only
        // then moves on a page; Up goes back up through it.
        {
            const QModelIndex hit = view->currentIndex();
            int presses = 0;
            while (view->currentIndex() == hit && presses < 1000) {
                QTest::keyClick(view, Qt::Key_PageDown);
                ++presses;
            }
            QVERIFY2(presses > 5, qPrintable(QString::number(presses)));
            QVERIFY(view->currentIndex().row() > hit.row());
            QVERIFY(view->viewport()->rect().intersects(view->visualRect(view->currentIndex())));
            view->setCurrentIndex(hit);
            const int end = view->verticalScrollBar()->value();
            QTest::keyClick(view, Qt::Key_Up);
            QCOMPARE(view->currentIndex(), hit);
            QVERIFY(view->verticalScrollBar()->value() < end);
        }

        // The last message, shown whole, stays in view when the find bar opens below it.
        window.findChild<QWidget*>(u"FindBar"_s)->hide();
        window.showChat(0);
        QApplication::processEvents();
        QVERIFY(view->viewport()->rect().contains(view->visualRect(view->currentIndex())));
        window.openFindBar();
        QApplication::processEvents();
        QVERIFY(view->viewport()->rect().contains(view->visualRect(view->currentIndex())));

        // Scrolling keeps the first row shown in its place while the rows above it are measured.
        const int row = window.messageModel().rowOfMessage(5000);
        view->verticalScrollBar()->setValue(view->visualRect(window.messageModel().index(row)).top()
                                            + view->verticalScrollBar()->value());
        QApplication::processEvents();
        QCOMPARE(view->rowAt(0), row);
        QVERIFY(view->rowHeight(row - 1) > view->rowHeight(row));
    }

    // The message menu offers the message's links (only http, https, mailto), for the
    // keyboard; choosing one hands it to the browser.
    void menuOpensLinks()
    {
        auto history = std::make_shared<ChatHistory>(
            test::historyOf({{u"live:anna"_s, {}, u"8:live:anna"_s}}, QStringList()));
        history->chats[0].messages.push_back(
            message(u"a https://example.org/a&b javascript:alert(1) mailto:anna@example.org"_s));
        test::FakePlatform fake;
        EventPump pump;
        ConversationWindow window(fake.platform, pump);
        window.resize(700, 400);
        window.show();
        window.setHistory(history);
        window.showChat(0);
        QApplication::processEvents();
        QTest::keyClick(window.messageView(), Qt::Key_F10, Qt::ShiftModifier);
        QMenu* menu = window.messageView()->findChild<QMenu*>();
        QVERIFY(menu);
        QStringList texts;
        QAction* web = nullptr;
        for (QAction* action : menu->actions()) {
            texts << action->text();
            if (action->text().contains(u"example.org/a"_s))
                web = action;
        }
        QCOMPARE(texts.filter(u"Open Link"_s),
                 QStringList({u"Open Link https://example.org/a&&b"_s,
                              u"Open Link mailto:anna@example.org"_s}));
        web->trigger();
        QCOMPARE(fake.shell.urls, QList<QUrl>{QUrl(u"https://example.org/a&b"_s)});
        menu->close();
    }

    // Thumbnails are made from the picture's data, bounded by the box; data that is no
    // picture, or claims an enormous one, gives none.
    void thumbnailsAreBounded_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("wide") << picture(QSize(600, 200)) << QSize(240, 80);
        QTest::newRow("small stays small") << picture(QSize(40, 30)) << QSize(40, 30);
        QTest::newRow("not a picture") << QByteArray("PK\x03\x04 not a picture") << QSize(0, 0);
        // A BMP header (which has no checksum) claiming 60000 x 60000 pixels.
        QByteArray huge = picture(QSize(10, 10), "BMP");
        huge.replace(18, 8, QByteArray::fromHex("60ea000060ea0000"));
        QTest::newRow("enormous claim") << huge << QSize(0, 0);
    }
    void thumbnailsAreBounded()
    {
        QFETCH(QByteArray, data);
        QFETCH(QSize, expected);
        QCOMPARE(Thumbnails::scaled(data, QSize(240, 160)).size(), expected);
    }

    // A picture is read out of the export when it is asked for, and then kept.
    void thumbnailsComeFromTheExport()
    {
        QTemporaryDir dir;
        const QString tar = dir.filePath(u"export.tar"_s);
        QVERIFY(test::writeTar(tar,
                               {{u"messages.json"_s, QByteArray("{}")},
                                {u"media/0-b.1.png"_s, picture(QSize(300, 300))}},
                               true));
        auto history = std::make_shared<ChatHistory>();
        history->sourceFiles = {tar};
        EventPump pump;
        Thumbnails thumbnails(pump);
        thumbnails.setHistory(history);
        const FilePart picture{u"a.png"_s, -1, u"0-b"_s, true};
        QVERIFY(thumbnails.thumbnail(picture, QSize(240, 160)).isNull());
        QSignalSpy ready(&thumbnails, &Thumbnails::ready);
        QVERIFY(ready.wait(5000));
        QCOMPARE(thumbnails.thumbnail(picture, QSize(240, 160)).size(), QSize(160, 160));
        const FilePart missing{u"b.png"_s, -1, u"0-c"_s, true};
        QVERIFY(thumbnails.thumbnail(missing, QSize(240, 160)).isNull());
        QVERIFY(ready.wait(5000));
        QVERIFY(thumbnails.thumbnail(missing, QSize(240, 160)).isNull());
    }
};

QTEST_MAIN(TestMessageLayout)
#include "test_message_layout.moc"
