// The conversation window, driven as a user drives it: from a results row (menu and Enter),
// from a contact row and from the command line; the find bar, Copy, tooltips, a message gone
// after the history was read again, shared files taken out of an export, and an emoji drawn.
#include "app/command_line.h"
#include "app/contact_list_model.h"
#include "app/conversation_entry.h"
#include "app/conversation_models.h"
#include "app/conversation_window.h"
#include "app/desktop_platform.h"
#include "app/form1.h"
#include "app/results_model.h"
#include "app/shared_file_opener.h"
#include "chat/chat_service.h"
#include "chat/sample_history.h"
#include "chat/shared_file_archive.h"
#include "history_builder.h"
#include "history_files.h"
#include "local_zone.h"
#include "scoped_environment.h"
#include "window_harness.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDirIterator>
#include <QFontDatabase>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

#include <ctime>
#include <memory>

using namespace velmoran;
using namespace Qt::Literals::StringLiterals;
using velmoran::test::WindowHarness;

namespace {

// The real main window over a history the test can swap, as a reload after a file changed does.
struct Window : WindowHarness {
    explicit Window(ChatHistoryPtr history = sampleHistory())
        : current(std::move(history))
    {
        chats.provider = [this] { return current; };
        window.show();
    }
    // Lists the contacts and searches for text.
    void search(const QString& text, bool matchCase)
    {
        press(2);
        find(text, matchCase);
    }
    ConversationWindow* conversation() { return form.conversations().window(); }
    // The 1-based results row whose value is text, the n-th of them (1-based).
    int resultsRow(const QString& contact, const QString& value, int nth = 1)
    {
        for (qsizetype row = 1; row <= form.results().size(); ++row) {
            if (form.results().contact(row) == contact && form.results().value(row) == value
                && --nth == 0)
                return int(row);
        }
        return -1;
    }

    ChatHistoryPtr current;
    Form1& form = window;
};

int chatOf(const ChatHistory& history, const QString& handle)
{
    for (size_t i = 0; i < history.chats.size(); ++i) {
        if (history.chats[i].peerHandle == handle || history.chats[i].id == handle)
            return int(i);
    }
    return -1;
}

// The messages of a chat whose body or sender contains text, as the find bar should count them.
QList<int> messagesContaining(const HistoryChat& chat, const QString& text, Qt::CaseSensitivity cs)
{
    QList<int> found;
    for (size_t i = 0; i < chat.messages.size(); ++i) {
        const HistoryMessage& m = chat.messages[i];
        if (m.body.contains(text, cs) || m.senderDisplayName.contains(text, cs))
            found << int(i);
    }
    return found;
}

using test::LocalZone;

// A date row stands before the first message of every local day, and only there, and names
// that day.
void checkDateRows(const MessageListModel& model, const std::vector<HistoryMessage>& messages)
{
    int dates = 0;
    QDate lastDate;
    for (int row = 0; row < model.rowCount(); ++row) {
        const int message = model.messageOfRow(row);
        if (message < 0) {
            ++dates;
            QVERIFY(!model.index(row).flags().testFlag(Qt::ItemIsSelectable));
            continue;
        }
        QCOMPARE(model.rowOfMessage(message), row);
        const QDate date =
            QDateTime::fromMSecsSinceEpoch(messages[size_t(message)].timestampMs).date();
        QCOMPARE(model.messageOfRow(row - 1) < 0, date != lastDate);
        if (date != lastDate)
            QCOMPARE(model.index(row - 1).data().toString(),
                     QLocale().toString(date, QLocale::LongFormat));
        lastDate = date;
    }
    QCOMPARE(model.rowCount(), int(messages.size()) + dates);
}

// Opens the context menu of a view's row and triggers the item with the given text.
bool chooseFromMenu(QAbstractItemView* view, int row, const QString& item)
{
    const QPoint pos = view->visualRect(view->model()->index(row, 0)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, view->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(view->viewport(), &event);
    for (QMenu* menu : view->findChildren<QMenu*>()) {
        if (!menu->isVisible())
            continue;
        for (QAction* action : menu->actions()) {
            if (action->text() == item && action->isEnabled()) {
                action->trigger();
                menu->close();
                return true;
            }
        }
        menu->close();
    }
    return false;
}

QString toolTipAt(QAbstractItemView* view, const QPoint& pos)
{
    QToolTip::hideText();
    QHelpEvent event(QEvent::ToolTip, pos, view->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(view->viewport(), &event);
    return QToolTip::text();
}

QStringList filesUnder(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

// A history of one-to-one chats named as given (peer0, peer1, ...), each with three messages
// by its partner.
std::shared_ptr<ChatHistory> historyOfNames(const QStringList& names)
{
    std::vector<test::ChatData> chats;
    qint64 t = 1'600'000'000'000;
    for (const QString& name : names) {
        const QString peer = QStringLiteral("peer%1").arg(chats.size());
        test::ChatData chat{peer, {}, QStringLiteral("8:") + peer, name};
        for (int i = 0; i < 3; ++i)
            chat.messages.push_back({t += 60'000, {}, name, QStringLiteral("hello %1").arg(i)});
        chats.push_back(std::move(chat));
    }
    return std::make_shared<ChatHistory>(test::historyOf(chats));
}

// A history of one chat with peer0, read from archive, whose one message shares file.
ChatHistoryPtr historySharing(const QString& archive, const SharedFile& file, const QString& body)
{
    const auto history = historyOfNames({QStringLiteral("Anna")});
    history->sourceFiles = {archive};
    history->chats[0].messages = {{1'600'000'060'000, QStringLiteral("Anna"), body}};
    history->chats[0].messages[0].file = std::make_shared<SharedFile>(file);
    return history;
}

// Shows the conversation with contact as --conversation does; its window once active.
ConversationWindow* showChat(Window& w, const QString& contact)
{
    if (!w.form.conversations().showContact(contact))
        return nullptr;
    ConversationWindow* c = w.conversation();
    return c && QTest::qWaitForWindowActive(c) ? c : nullptr;
}

// TMPDIR, a folder of its own, while the object lives.
struct TemporaryFolder {
    QTemporaryDir work;
    const QString path = work.filePath(QStringLiteral("tmp"));
    const bool made = QDir().mkpath(path);
    const test::ScopedEnvironment tmpdir{"TMPDIR", QFile::encodeName(path)};
    // The folders the program made there for the files it took out.
    QStringList programFolders() const
    {
        return QDir(path).entryList({QStringLiteral("velmoran-files-*")},
                                    QDir::AllEntries | QDir::Hidden);
    }
};

// The keyboard is on the message shown, its row framed while the list has the focus and only
// then: Ctrl+C copies it at once.
void checkKeyboardIsOnTheMessage(WindowHarness& h, ConversationWindow* c)
{
    QVERIFY(QTest::qWaitForWindowActive(c));
    MessageView* view = c->messageView();
    QCOMPARE(QApplication::focusWidget(), view);
    const QRect row = view->visualRect(view->currentIndex());
    QApplication::processEvents();
    const QImage focused = view->viewport()->grab(row).toImage();
    c->filterBox()->setFocus();
    QApplication::processEvents();
    QVERIFY(focused != view->viewport()->grab(row).toImage());
    view->setFocus();
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(h.fake.clipboard.text,
             c->messageModel().copyLine(c->currentMessage()) + QLatin1Char('\n'));
}

// Pixels of an image within rect for which is(colour) holds.
template <typename Test> int pixelsWhere(const QImage& image, const QRect& rect, Test is)
{
    int count = 0;
    const QRect inside = rect.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x)
            count += is(image.pixelColor(x, y)) ? 1 : 0;
    }
    return count;
}

bool isFindColour(const QColor& c)
{
    return std::abs(c.red() - 255) + std::abs(c.green() - 214) + std::abs(c.blue() - 64) < 30;
}

// Strongly coloured, as an emoji's pixels are.
bool isEmojiColour(const QColor& c)
{
    return c.hsvSaturation() > 120 && c.value() > 60;
}

bool hasIsolates(const QString& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() >= 0x2066 && c.unicode() <= 0x2069; });
}

QList<QMenu*> visibleMenus(QWidget* under)
{
    QList<QMenu*> menus = under->findChildren<QMenu*>();
    menus.removeIf([](QMenu* menu) { return !menu->isVisible(); });
    return menus;
}

// One row of hostileSharedFiles.
void sharedFileRow(const char* name, QAnyStringView objectId, QAnyStringView fileName,
                   QAnyStringView member, QAnyStringView outcome, QAnyStringView writtenName,
                   qint64 sparseSize = -1, qint64 toldSize = -1, int mode = 0644)
{
    QTest::newRow(name) << objectId.toString() << fileName.toString() << toldSize
                        << member.toString() << mode << sparseSize << outcome.toString()
                        << writtenName.toString();
}

} // namespace

class TestConversationWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("velmoran"));
        QCoreApplication::setApplicationName(QStringLiteral("velmoran"));
        QSettings().clear();
    }

    void conversationListShowsEveryChatNewestFirst()
    {
        const ChatHistoryPtr history = sampleHistory();
        ConversationListModel model;
        model.setHistory(history);
        QCOMPARE(model.rowCount(), int(history->chats.size()));
        qint64 previous = std::numeric_limits<qint64>::max();
        bool groupListed = false;
        for (int row = 0; row < model.rowCount(); ++row) {
            const int chat = model.index(row).data(ConversationListModel::ChatRole).toInt();
            const HistoryChat& c = history->chats[size_t(chat)];
            QVERIFY(c.messages.back().timestampMs <= previous);
            previous = c.messages.back().timestampMs;
            // The name comes first, isolated from the rest for right-to-left names.
            QVERIFY(model.index(row).data().toString().startsWith(QChar(0x2068) + c.name
                                                                  + QChar(0x2069)));
            QVERIFY(
                model.index(row).data().toString().contains(QString::number(c.messages.size())));
            QCOMPARE(model.rowOfChat(chat), row);
            groupListed |= c.kind == ConversationKind::Group;
        }
        QVERIFY(groupListed);
    }

    void messageRowsAndDateRowsAgree()
    {
        const ChatHistoryPtr history = sampleHistory();
        MessageListModel model;
        for (int chat = 0; chat < int(history->chats.size()); ++chat) {
            model.setChat(history, chat);
            checkDateRows(model, history->chats[size_t(chat)].messages);
            if (QTest::currentTestFailed())
                return;
        }
    }

    // Days that are not 24 hours long, offsets of half an hour, a day skipped, a message out
    // of time order: the date rows still fall where local midnight does.
    void dateRowsFollowTheLocalZone_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("around");
        QTest::newRow("UTC") << QByteArray("UTC") << "2021-03-28T00:00:00Z";
        QTest::newRow("summer time begins")
            << QByteArray("Europe/Berlin") << "2021-03-28T01:00:00Z";
        QTest::newRow("summer time ends") << QByteArray("Europe/Berlin") << "2021-10-31T01:00:00Z";
        QTest::newRow("change at midnight")
            << QByteArray("America/Sao_Paulo") << "2018-11-04T03:00:00Z";
        QTest::newRow("a day skipped") << QByteArray("Pacific/Apia") << "2011-12-30T10:00:00Z";
        QTest::newRow("half an hour off")
            << QByteArray("America/St_Johns") << "2022-11-06T03:30:00Z";
        QTest::newRow("ahead by 5:30") << QByteArray("Asia/Kolkata") << "2020-02-29T18:30:00Z";
    }
    void dateRowsFollowTheLocalZone()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, around);
        const LocalZone local(zone);
        const qint64 middle = QDateTime::fromString(around, Qt::ISODate).toMSecsSinceEpoch();
        auto history = std::make_shared<ChatHistory>();
        HistoryChat chat{QStringLiteral("live:zone"), {}};
        // Every 29 minutes for four days either side, one message a day too early.
        for (qint64 t = middle - 4 * 86'400'000; t < middle + 4 * 86'400'000; t += 29 * 60'000)
            chat.messages.push_back({t, QStringLiteral("Zoe"), QStringLiteral("tick")});
        chat.messages[chat.messages.size() / 2].timestampMs -= 86'400'000;
        history->chats.push_back(std::move(chat));
        MessageListModel model;
        model.setChat(history, 0);
        checkDateRows(model, history->chats[0].messages);
    }

    void opensFromResultsRow_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("context menu") << "menu";
        QTest::newRow("Enter key") << "enter";
    }
    void opensFromResultsRow()
    {
        QFETCH(QString, way);
        Window w;
        w.search(QStringLiteral("Lunch"), true);
        const QString body = QStringLiteral("Lunch at the usual place?");
        // The second of three identical messages: the window must show that one.
        const int row = w.resultsRow(QStringLiteral("olga.petrova"), body, 2);
        QVERIFY(row > 0);
        QTableView* results = w.form.resultsListView();
        if (way == QLatin1String("menu")) {
            QVERIFY(chooseFromMenu(results, row - 1, ConversationEntry::showInConversationText()));
        } else {
            results->setFocus();
            results->setCurrentIndex(results->model()->index(row - 1, 0));
            QTest::keyClick(results, Qt::Key_Return);
        }
        ConversationWindow* c = w.conversation();
        QVERIFY(c && c->isVisible());
        QCOMPARE(w.form.results().size(), qsizetype(w.form.results().rowCount())); // no row removed
        const HistoryChat& olga =
            w.current->chats[size_t(chatOf(*w.current, QStringLiteral("olga.petrova")))];
        QCOMPARE(c->windowTitle(), olga.name + QStringLiteral(" - Velmoran"));
        QList<int> same;
        for (size_t i = 0; i < olga.messages.size(); ++i) {
            if (olga.messages[i].body == body)
                same << int(i);
        }
        QCOMPARE(same.size(), 3);
        QCOMPARE(c->currentMessage(), same[1]);
        const QModelIndexList selected = c->messageView()->selectionModel()->selectedIndexes();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(c->messageModel().messageOfRow(selected[0].row()), same[1]);
        QVERIFY(c->messageView()->viewport()->rect().contains(
            c->messageView()->visualRect(selected[0])));
        // The search text is marked and counted: k of n among the chat's matches.
        QVERIFY(c->findBar()->isVisible());
        QCOMPARE(c->findText()->text(), QStringLiteral("Lunch"));
        const QList<int> matches =
            messagesContaining(olga, QStringLiteral("Lunch"), Qt::CaseSensitive);
        QCOMPARE(c->findCountText(),
                 QStringLiteral("%1 of %2").arg(matches.indexOf(same[1]) + 1).arg(matches.size()));
        checkKeyboardIsOnTheMessage(w, c);
        if (QTest::currentTestFailed())
            return;

        // The same window comes back for the next row.
        const int other = w.resultsRow(QStringLiteral("anna.kowalska"),
                                       QStringLiteral("Lunch tomorrow at noon?"));
        QVERIFY(other > 0);
        QVERIFY(chooseFromMenu(results, other - 1, ConversationEntry::showInConversationText()));
        QCOMPARE(w.conversation(), c);
        QCOMPARE(w.current->chats[size_t(c->currentChat())].peerHandle,
                 QStringLiteral("anna.kowalska"));
        QCOMPARE(
            w.current->chats[size_t(c->currentChat())].messages[size_t(c->currentMessage())].body,
            QStringLiteral("Lunch tomorrow at noon?"));
    }

    void findBarStepsThroughMatches_data()
    {
        QTest::addColumn<QString>("chat");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("matchCase");
        QTest::newRow("one-to-one, any case") << "olga.petrova"
                                              << "lunch" << false;
        QTest::newRow("one-to-one, case counts") << "olga.petrova"
                                                 << "LUNCH" << true;
        QTest::newRow("group chat") << "19:team-chat@thread.skype"
                                    << "Pizza" << true;
        QTest::newRow("sender name") << "19:team-chat@thread.skype"
                                     << "Ольга" << true;
    }
    void findBarStepsThroughMatches()
    {
        QFETCH(QString, chat);
        QFETCH(QString, text);
        QFETCH(bool, matchCase);
        Window w;
        QVERIFY(w.form.conversations().showContact(chat));
        ConversationWindow* c = w.conversation();
        const HistoryChat& shown = w.current->chats[size_t(chatOf(*w.current, chat))];
        QCOMPARE(c->currentMessage(), int(shown.messages.size()) - 1);
        const QList<int> matches =
            messagesContaining(shown, text, matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive);
        QVERIFY(matches.size() >= 1);

        QVERIFY(!c->findBar()->isVisible());
        c->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(c));
        QTest::keyClick(c->messageView(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(c->findBar()->isVisible());
        QVERIFY(c->findText()->hasFocus());
        c->matchCase()->setChecked(matchCase);
        // Key clicks can only type ASCII.
        bool ascii = true;
        for (const QChar ch : text)
            ascii &= ch.unicode() < 128;
        if (ascii)
            QTest::keyClicks(c->findText(), text);
        else
            c->findText()->insert(text);
        QVERIFY(c->findCountText().endsWith(QStringLiteral(" of %1").arg(matches.size())));

        // From the last message, the next match wraps to the first.
        QTest::keyClick(c->findText(), Qt::Key_Return);
        QCOMPARE(c->currentMessage(), matches.first());
        QCOMPARE(c->findCountText(), QStringLiteral("1 of %1").arg(matches.size()));
        for (int k = 1; k < matches.size(); ++k) {
            QTest::keyClick(c->messageView(), Qt::Key_F3);
            QCOMPARE(c->currentMessage(), matches[k]);
            QCOMPARE(c->findCountText(), QStringLiteral("%1 of %2").arg(k + 1).arg(matches.size()));
        }
        QTest::keyClick(c->messageView(), Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(c->currentMessage(),
                 matches.size() > 1 ? matches[matches.size() - 2] : matches.first());
        QTest::keyClick(c->findText(), Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(c->currentMessage(),
                 matches.size() > 2 ? matches[matches.size() - 3] : matches.last());

        // Text nobody wrote: nothing to step to.
        c->findText()->setText(QStringLiteral("zz-nowhere-zz"));
        const int before = c->currentMessage();
        c->findNext();
        QCOMPARE(c->currentMessage(), before);
        QCOMPARE(c->findCountText(), QStringLiteral("No matches"));
    }

    // In a long chat the find bar's count follows once the message is shown, while window
    // events run; text changed or a step to the next match meanwhile still come out right.
    void longChatIsCountedWhileEventsRun_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::newRow("nothing") << "";
        QTest::newRow("other text typed") << "type";
        QTest::newRow("next match") << "next";
    }
    void longChatIsCountedWhileEventsRun()
    {
        QFETCH(QString, meanwhile);
        auto history = std::make_shared<ChatHistory>();
        HistoryChat chat{QStringLiteral("live:long"), {}};
        const qint64 start = QDateTime(QDate(2020, 1, 1), QTime(9, 0), Qt::UTC).toMSecsSinceEpoch();
        for (int i = 0; i < 100'000; ++i) {
            QString body = QStringLiteral("message %1").arg(i);
            if (i % 97 == 13)
                body += QStringLiteral(" with a Needle in it");
            if (i % 1'013 == 5)
                body += QStringLiteral(" and a Thimble");
            chat.messages.push_back(
                {start + i * 60'000LL, i % 2 ? QStringLiteral("Ann") : QStringLiteral("Bo"), body});
        }
        history->contacts << chat.peerHandle;
        history->chats.push_back(std::move(chat));
        Window w(history);
        const HistoryChat& shown = history->chats[0];
        QVERIFY(w.form.conversations().showContact(shown.peerHandle));
        ConversationWindow* c = w.conversation();
        const int last = int(shown.messages.size()) - 1;
        QCOMPARE(c->currentMessage(), last);

        // Events that run while the count is not done; the first of them acts as the user.
        QString finalText = QStringLiteral("Needle");
        int ticksWhileCounting = 0;
        QTimer ticker;
        ticker.setInterval(0);
        connect(&ticker, &QTimer::timeout, [&] {
            if (!c->isCountingMatches() || ticksWhileCounting++ > 0)
                return;
            QCOMPARE(c->findCountText(), QStringLiteral("Counting\u2026"));
            if (meanwhile == QLatin1String("type")) {
                finalText = QStringLiteral("Thimble");
                c->findText()->setText(finalText);
            }
        });
        ticker.start();
        c->openFindBar();
        c->findText()->setText(QStringLiteral("Needle"));
        QVERIFY(c->isCountingMatches());
        if (meanwhile == QLatin1String("next")) {
            // Finishes the count first, then wraps from the last message to the first match.
            c->findNext();
            QVERIFY(!c->isCountingMatches());
        }
        QTRY_VERIFY(!c->isCountingMatches());
        ticker.stop();
        QVERIFY(ticksWhileCounting > 0);
        const QList<int> matches = messagesContaining(shown, finalText, Qt::CaseInsensitive);
        QVERIFY(matches.size() > 90);
        if (meanwhile == QLatin1String("next")) {
            QCOMPARE(c->currentMessage(), matches.first());
            QCOMPARE(c->findCountText(), QStringLiteral("1 of %1").arg(matches.size()));
        } else {
            QCOMPARE(c->currentMessage(), last);
            QCOMPARE(c->findCountText(), QStringLiteral("0 of %1").arg(matches.size()));
            c->findPrevious();
            QCOMPARE(c->currentMessage(), matches.last());
            QCOMPARE(c->findCountText(), QStringLiteral("%1 of %1").arg(matches.size()));
        }
    }

    void homeAndEndGoToTheFirstAndLastRow()
    {
        Window w;
        QVERIFY(w.form.conversations().showContact(QStringLiteral("olga.petrova")));
        ConversationWindow* c = w.conversation();
        MessageView* view = c->messageView();
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Home);
        QCOMPARE(view->currentIndex().row(), 0);
        QTest::keyClick(view, Qt::Key_End);
        QCOMPARE(view->currentIndex().row(), c->messageModel().rowCount() - 1);
        QCOMPARE(c->currentMessage(), c->messageModel().messageCount() - 1);
    }

    void copyWritesDateTimeSenderAndText()
    {
        Window w;
        QVERIFY(w.form.conversations().showContact(QStringLiteral("kenji.tanaka")));
        ConversationWindow* c = w.conversation();
        const HistoryChat& kenji =
            w.current->chats[size_t(chatOf(*w.current, QStringLiteral("kenji.tanaka")))];
        QItemSelectionModel* selection = c->messageView()->selectionModel();
        selection->clearSelection();
        const QList<int> picked = {3, 0, 4};
        for (const int m : picked)
            selection->select(c->messageModel().index(c->messageModel().rowOfMessage(m)),
                              QItemSelectionModel::Select);
        c->messageView()->setFocus();
        QTest::keyClick(c->messageView(), Qt::Key_C, Qt::ControlModifier);
        QString expected;
        const QLocale locale;
        for (const int m : {0, 3, 4}) {
            const HistoryMessage& message = kenji.messages[size_t(m)];
            const QDateTime when = QDateTime::fromMSecsSinceEpoch(message.timestampMs);
            expected += locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ')
                        + locale.toString(when.time(), QLocale::ShortFormat) + QStringLiteral(", ")
                        + message.senderDisplayName + QStringLiteral(": ") + message.body
                        + QLatin1Char('\n');
        }
        QCOMPARE(w.fake.clipboard.text, expected);
        QCOMPARE(w.fake.clipboard.format, 0);
    }

    void tooltipsNameWhoIsBehindARow()
    {
        Window w;
        w.search(QStringLiteral("Lunch at"), true);
        QTableView* contacts = w.form.contactListView();
        QTableView* results = w.form.resultsListView();
        const QString contactHint = contacts->toolTip();
        const QString resultsHint = results->toolTip();
        contacts->resize(contacts->width(), 400);

        const int olga = int(w.form.contacts().size()) > 0 ? [&] {
            for (qsizetype row = 1; row <= w.form.contacts().size(); ++row)
                if (w.form.contacts().text(row) == QLatin1String("olga.petrova"))
                    return int(row) - 1;
            return -1;
        }() : -1;
        QVERIFY(olga >= 0);
        const HistoryChat& chat =
            w.current->chats[size_t(chatOf(*w.current, QStringLiteral("olga.petrova")))];
        QCOMPARE(
            toolTipAt(contacts, contacts->visualRect(contacts->model()->index(olga, 0)).center()),
            chat.name + QLatin1Char('\n') + contactHint);
        // Below the last row the list's own hint stays.
        const QPoint empty(5, contacts->viewport()->height() - 3);
        QVERIFY(!contacts->indexAt(empty).isValid());
        QCOMPARE(toolTipAt(contacts, empty), contactHint);

        const int row = w.resultsRow(QStringLiteral("olga.petrova"),
                                     QStringLiteral("Lunch at the usual place?"), 3);
        QVERIFY(row > 0);
        int lastSame = -1;
        for (size_t i = 0; i < chat.messages.size(); ++i) {
            if (chat.messages[i].body == QLatin1String("Lunch at the usual place?"))
                lastSame = int(i);
        }
        const HistoryMessage& message = chat.messages[size_t(lastSame)];
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(message.timestampMs);
        const QString expected =
            chat.name + QLatin1Char('\n') + QLocale().toString(when.date(), QLocale::ShortFormat)
            + QLatin1Char(' ') + QLocale().toString(when.time(), QLocale::ShortFormat)
            + QStringLiteral(", ") + message.senderDisplayName + QLatin1Char('\n') + resultsHint;
        results->scrollTo(results->model()->index(row - 1, 2));
        QCOMPARE(
            toolTipAt(results, results->visualRect(results->model()->index(row - 1, 2)).center()),
            expected);
    }

    void messageFoundAgainOrGoneAfterReload_data()
    {
        QTest::addColumn<bool>("keep");
        QTest::newRow("still there, elsewhere") << true;
        QTest::newRow("gone") << false;
    }
    void messageFoundAgainOrGoneAfterReload()
    {
        QFETCH(bool, keep);
        Window w;
        w.search(QStringLiteral("Lunch at"), true);
        const QString body = QStringLiteral("Lunch at the usual place?");
        const int row = w.resultsRow(QStringLiteral("olga.petrova"), body, 2);
        QVERIFY(row > 0);

        // The history is read again: two earlier messages are gone, and maybe the row's too.
        auto reread = std::make_shared<ChatHistory>(*w.current);
        HistoryChat& olga = reread->chats[size_t(chatOf(*reread, QStringLiteral("olga.petrova")))];
        QList<int> same;
        for (size_t i = 0; i < olga.messages.size(); ++i) {
            if (olga.messages[i].body == body)
                same << int(i);
        }
        const HistoryMessage wanted = olga.messages[size_t(same[1])];
        olga.messages.erase(olga.messages.begin(), olga.messages.begin() + 2);
        if (!keep)
            olga.messages.erase(olga.messages.begin() + (same[1] - 2));
        w.current = reread;

        QVERIFY(chooseFromMenu(w.form.resultsListView(), row - 1,
                               ConversationEntry::showInConversationText()));
        if (!keep) {
            QVERIFY(!w.conversation() || !w.conversation()->isVisible());
            QCOMPARE(w.fake.dialogs.messages().size(), 2); // "Done." and this one
            QVERIFY(w.fake.dialogs.messages().last().contains(QStringLiteral("no longer")));
            return;
        }
        ConversationWindow* c = w.conversation();
        QVERIFY(c);
        QCOMPARE(c->messageModel().history(), std::static_pointer_cast<const ChatHistory>(reread));
        QCOMPARE(c->currentMessage(), same[1] - 2);
        const HistoryMessage& shown = c->messageModel().message(c->currentMessage());
        QCOMPARE(shown.timestampMs, wanted.timestampMs);
        QCOMPARE(shown.body, wanted.body);
    }

    void contactMenuAndCommandLineOpenTheLatestMessage()
    {
        {
            Window w;
            w.form.button(2)->click();
            QTableView* contacts = w.form.contactListView();
            int lucia = -1;
            for (qsizetype row = 1; row <= w.form.contacts().size(); ++row) {
                if (w.form.contacts().text(row) == QLatin1String("lucia.fernandez"))
                    lucia = int(row) - 1;
            }
            QVERIFY(chooseFromMenu(contacts, lucia, ConversationEntry::showConversationText()));
            const HistoryChat& chat =
                w.current->chats[size_t(chatOf(*w.current, QStringLiteral("lucia.fernandez")))];
            QCOMPARE(w.conversation()->windowTitle(), chat.name + QStringLiteral(" - Velmoran"));
            QCOMPARE(w.conversation()->currentMessage(), int(chat.messages.size()) - 1);
            checkKeyboardIsOnTheMessage(w, w.conversation());
            if (QTest::currentTestFailed())
                return;
        }
        // What main() does with --conversation.
        const CommandLine line =
            parseCommandLine({QStringLiteral("velmoran"), QStringLiteral("--sample"),
                              QStringLiteral("--conversation"), QStringLiteral("kenji.tanaka")});
        QVERIFY(!line.exitCode);
        QCOMPARE(line.conversation, QStringLiteral("kenji.tanaka"));
        WindowHarness started;
        started.chats.provider = line.historyProvider;
        Form1& form = started.window;
        QVERIFY(form.conversations().showContact(line.conversation));
        ConversationWindow* c = form.conversations().window();
        const ChatHistoryPtr history = line.historyProvider();
        const HistoryChat& kenji =
            history->chats[size_t(chatOf(*history, QStringLiteral("kenji.tanaka")))];
        QCOMPARE(c->windowTitle(), kenji.name + QStringLiteral(" - Velmoran"));
        QCOMPARE(c->currentMessage(), int(kenji.messages.size()) - 1);
        checkKeyboardIsOnTheMessage(started, c);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(started.fake.dialogs.messages().isEmpty());
        // A handle nobody has: told, no window change.
        QVERIFY(!form.conversations().showContact(QStringLiteral("nobody.here")));
        QCOMPARE(started.fake.dialogs.messages().size(), 1);
        QVERIFY(started.fake.dialogs.messages().first().contains(QStringLiteral("nobody.here")));
        QCOMPARE(c->windowTitle(), kenji.name + QStringLiteral(" - Velmoran"));
    }

    // Typing in the filter changes the list only; Down goes into it, Enter chooses; a label
    // tells when nothing matches.
    void filterBoxNarrowsTheConversations()
    {
        Window w;
        ConversationWindow* c = showChat(w, QStringLiteral("anna.kowalska"));
        QVERIFY(c);
        const QString annaTitle = c->windowTitle();
        const int annaMessage = c->currentMessage();
        QCOMPARE(c->conversationList()->model()->rowCount(), int(w.current->chats.size()));
        c->filterBox()->setFocus();
        QTest::keyClicks(c->filterBox(), QStringLiteral("TEAM"));
        QCOMPARE(c->conversationList()->model()->rowCount(), 1);
        QCOMPARE(c->windowTitle(), annaTitle);
        QCOMPARE(c->currentMessage(), annaMessage);
        QVERIFY(!c->noMatchLabel()->isVisible());
        c->conversationList()->setCurrentIndex(c->conversationList()->model()->index(0, 0));
        const QString teamTitle = QStringLiteral("Team chat - Velmoran");
        QCOMPARE(c->windowTitle(), teamTitle);
        // By handle too.
        c->filterBox()->setText(QStringLiteral("kenji.tan"));
        QCOMPARE(c->conversationList()->model()->rowCount(), 1);
        QTest::keyClick(c->filterBox(), Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), c->conversationList());
        QCOMPARE(c->windowTitle(), teamTitle);
        QTest::keyClick(c->conversationList(), Qt::Key_Return);
        const QString kenjiTitle =
            w.current->chats[size_t(chatOf(*w.current, QStringLiteral("kenji.tanaka")))].name
            + QStringLiteral(" - Velmoran");
        QCOMPARE(c->windowTitle(), kenjiTitle);
        QCOMPARE(QApplication::focusWidget(), c->messageView());

        c->filterBox()->setFocus();
        c->filterBox()->selectAll();
        QTest::keyClicks(c->filterBox(), QStringLiteral("zz-nobody-zz"));
        QCOMPARE(c->conversationList()->model()->rowCount(), 0);
        QVERIFY(c->noMatchLabel()->isVisible());
        QCOMPARE(c->windowTitle(), kenjiTitle);
        c->filterBox()->clear();
        QVERIFY(!c->noMatchLabel()->isVisible());
        // The shown conversation is the list's current row again.
        QCOMPARE(
            c->conversationList()->currentIndex().data(ConversationListModel::ChatRole).toInt(),
            c->currentChat());
    }

    void sizeAndSplitterAreRemembered()
    {
        QSize size;
        QList<int> sizes;
        {
            Window w;
            QVERIFY(w.form.conversations().showContact(QStringLiteral("anna.kowalska")));
            ConversationWindow* c = w.conversation();
            // Within the test screen (800 by 600): a window opens fully on its screen.
            c->resize(760, 540);
            c->splitter()->setSizes({300, 440});
            sizes = c->splitter()->sizes();
            size = c->size();
            c->close();
        }
        {
            Window w;
            QVERIFY(w.form.conversations().showContact(QStringLiteral("anna.kowalska")));
            QCOMPARE(w.conversation()->size(), size);
            QCOMPARE(w.conversation()->splitter()->sizes(), sizes);
            // A size remembered from a larger screen, or a place off the screen, still opens
            // the window fully on its screen.
            w.conversation()->setGeometry(600, 450, 1500, 1000);
            w.conversation()->close();
        }
        Window w;
        ConversationWindow* c = showChat(w, QStringLiteral("anna.kowalska"));
        QVERIFY(c);
        QCOMPARE(c->screen()->availableGeometry().intersected(c->frameGeometry()),
                 c->frameGeometry());
        QSettings().remove(QStringLiteral("ConversationWindow"));
    }

    void sharedFilesComeOutOfTheExport_data()
    {
        QTest::addColumn<QString>("objectId");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("content"); // empty: the export holds no copy
        QTest::addColumn<QString>("way");
        QTest::newRow("object id, Enter") << "0-weu-d3-abc123"
                                          << "photo.jpg" << QByteArray("the photo") << "enter";
        QTest::newRow("object id inside a name, menu")
            << "0-weu-d1-inner"
            << "notes.txt" << QByteArray("inner") << "menu";
        QTest::newRow("original name, double-click")
            << ""
            << "report.pdf" << QByteArray("by name") << "double";
        QTest::newRow("under ../ in the archive")
            << "0-evil-dots"
            << "../../escape.txt" << QByteArray("dots") << "enter";
        QTest::newRow("absolute member name") << "0-evil-abs"
                                              << "/etc/passwd" << QByteArray("absolute") << "enter";
        QTest::newRow("only a link") << "0-weu-link"
                                     << "link.txt" << QByteArray() << "enter";
        QTest::newRow("no copy") << "0-weu-missing"
                                 << "gone.png" << QByteArray() << "menu";
    }
    void sharedFilesComeOutOfTheExport()
    {
        QFETCH(QString, objectId);
        QFETCH(QString, fileName);
        QFETCH(QByteArray, content);
        QFETCH(QString, way);
        QTemporaryDir work;
        const QString outside = work.filePath(QStringLiteral("outside"));
        QVERIFY(QDir().mkpath(outside));
        const QString tar = work.filePath(QStringLiteral("chat_export.tar"));
        QVERIFY(test::writeTarEntries(tar, {
                                               {u"messages.json"_s, "{}"},
                                               {u"media/0-weu-d3-abc123.1.jpg"_s, "the photo"},
                                               {u"media/thumb-0-weu-d1-inner.txt"_s, "inner"},
                                               {u"media/report.pdf"_s, "by name"},
                                               {u"../0-evil-dots.txt"_s, "not under media"},
                                               {u"media/../../0-evil-dots.txt"_s, "dots"},
                                               {outside + u"/media/0-evil-abs.txt"_s, "absolute"},
                                               {u"media/0-weu-link.txt"_s, "", u"/etc/passwd"_s},
                                           }));

        auto history = std::make_shared<ChatHistory>();
        history->sourceFiles = {tar};
        HistoryChat chat;
        chat.peerHandle = QStringLiteral("anna");
        chat.id = QStringLiteral("8:anna");
        chat.name = QStringLiteral("Anna");
        chat.messages.push_back({1'600'000'000'000, QStringLiteral("Anna"),
                                 QStringLiteral("see https://example.org/a")});
        HistoryMessage shared{1'600'000'060'000, QStringLiteral("Anna"),
                              QStringLiteral("shared a file")};
        shared.file = std::make_shared<SharedFile>(SharedFile{objectId, fileName, 1234});
        chat.messages.push_back(shared);
        history->chats.push_back(chat);
        history->contacts << chat.peerHandle;

        Window w(history);
        QVERIFY(w.form.conversations().showContact(QStringLiteral("anna")));
        ConversationWindow* c = w.conversation();
        QCOMPARE(c->currentMessage(), 1);
        QVERIFY(c->messageModel()
                    .index(c->messageModel().rowOfMessage(1))
                    .data(MessageListModel::TextRole)
                    .toString()
                    .startsWith(fileName));
        MessageView* view = c->messageView();
        const QModelIndex index = c->messageModel().index(c->messageModel().rowOfMessage(1));
        if (way == QLatin1String("enter")) {
            view->setFocus();
            QTest::keyClick(view, Qt::Key_Return);
        } else if (way == QLatin1String("double")) {
            const QPoint at = view->visualRect(index).center();
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        } else {
            QVERIFY(chooseFromMenu(view, index.row(), QStringLiteral("Open File")));
        }

        QCOMPARE(filesUnder(outside), QStringList());
        QCOMPARE(filesUnder(work.path()), QStringList{tar});
        if (content.isEmpty()) {
            QVERIFY(w.fake.shell.documents.isEmpty());
            QCOMPARE(w.fake.dialogs.messages().size(), 1);
            QVERIFY(w.fake.dialogs.messages().first().contains(fileName));
            return;
        }
        QCOMPARE(w.fake.dialogs.messages(), QStringList());
        QCOMPARE(w.fake.shell.documents.size(), 1);
        QString opened = w.fake.shell.documents.first().file;
        QVERIFY(opened.startsWith(QLatin1Char('"')) && opened.endsWith(QLatin1Char('"')));
        opened = opened.mid(1, opened.size() - 2);
        const QString folder = c->extractFolder();
        QVERIFY(!folder.isEmpty());
        QVERIFY(QFileInfo(opened).canonicalFilePath().startsWith(
            QFileInfo(folder).canonicalFilePath() + QLatin1Char('/')));
        QCOMPARE(QFileInfo(folder).permissions()
                     & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                        | QFile::WriteOther | QFile::ExeOther),
                 QFileDevice::Permissions());
        QCOMPARE(filesUnder(folder), QStringList{opened});
        QFile file(opened);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
        QCOMPARE(QFileInfo(opened).fileName(), QFileInfo(fileName).fileName());

        // The link in the other message opens in the browser.
        const QModelIndex linkRow = c->messageModel().index(c->messageModel().rowOfMessage(0));
        const QString text = linkRow.data(MessageListModel::TextRole).toString();
        const int start = int(text.indexOf(QStringLiteral("https")));
        const QRect link = c->messageDelegate().textRangeRect(view->visualRect(linkRow), linkRow,
                                                              start + 2, start + 5, view->font());
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, link.center());
        QCOMPARE(w.fake.shell.urls, QList<QUrl>{QUrl(QStringLiteral("https://example.org/a"))});
    }

    // Exports made to harm: what comes out of them is never run, never fills the disk unasked,
    // is the file the message names, and keeps a name the file system takes. What is told or
    // asked belongs to the conversation window and names the file.
    void hostileSharedFiles_data()
    {
        QTest::addColumn<QString>("objectId");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<qint64>("toldSize"); // the size the message says
        QTest::addColumn<QString>("member");
        QTest::addColumn<int>("mode");
        QTest::addColumn<qint64>("sparseSize"); // -1: a plain member of the content below
        // What happens: "opened" (the name written, without folder), "asked and opened",
        // "asked, not opened", "told" (a message, nothing written). A question is answered no
        // where the outcome says so, else yes.
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("writtenName");

        const QString chinese(200, QChar(0x6587));
        sharedFileRow("a text file", "0-uu", "notes.txt", "media/0-uu.1.txt", "opened", "notes.txt",
                      -1, 5);
        sharedFileRow("launcher, refused", "0-l", "Photos.desktop", "media/0-l.1.desktop",
                      "asked, not opened", "");
        sharedFileRow("script of mode 0755, opened when said", "0-s", "run.sh", "media/0-s.1.sh",
                      "asked and opened", "run.sh", -1, -1, 0755);
        sharedFileRow("web page", "0-h", "invoice.html", "media/0-h.1.html", "asked, not opened",
                      "");
        sharedFileRow("program named as a document by a right-to-left override", "0-r",
                      u"invoice\u202Efdp.exe", "media/0-r.1", "asked and opened", "invoicefdp.exe");
        sharedFileRow("script named as a picture", "0-j", "photo.jpg", "media/0-j.1.jpg",
                      "asked, not opened", "");
        sharedFileRow("an id is no prefix", "0-l7", "a.txt", "media/0-l7xyz.1.txt", "told", "");
        sharedFileRow("200 Chinese characters", "0-c", chinese + u".pdf"_s, "media/0-c.1.pdf",
                      "opened", chinese.left(83) + u".pdf"_s);
        sharedFileRow("300 MiB, larger than the message says, refused", "0-b", "big.bin.txt",
                      "media/0-b.1.txt", "asked, not opened", "", qint64(300) << 20, 4096);
        sharedFileRow("300 MiB sparse, taken out whole when said", "0-b", "big.txt",
                      "media/0-b.1.txt", "asked and opened", "big.txt", qint64(300) << 20);
        sharedFileRow("a pebibyte, more than the disk", "0-p", "huge.txt", "media/0-p.1.txt",
                      "told", "", qint64(1) << 50);
    }
    void hostileSharedFiles()
    {
        QFETCH(QString, objectId);
        QFETCH(QString, fileName);
        QFETCH(qint64, toldSize);
        QFETCH(QString, member);
        QFETCH(int, mode);
        QFETCH(qint64, sparseSize);
        QFETCH(QString, outcome);
        QFETCH(QString, writtenName);

        const TemporaryFolder temporary;
        QVERIFY(temporary.made);
        // Outside programs that libarchive could start for other compressions only log.
        const test::LoggingPrograms programs(temporary.work.filePath(QStringLiteral("bin")),
                                             {u"lrzip"_s, u"lzop"_s, u"grzip"_s});
        QVERIFY(programs.ok());
        const QString tar = temporary.work.filePath(QStringLiteral("chat_export.tar"));
        QByteArray content = "the file's own bytes";
        if (fileName.endsWith(u".jpg"))
            content = "#!/bin/sh\nrm -rf \"$HOME\"\n";
        if (fileName.endsWith(u".exe") || fileName.endsWith(u".desktop"))
            content = fileName.endsWith(u".exe") ? QByteArray("MZ\x90\0", 4) + content
                                                 : "[Desktop Entry]\nType=Application\nExec=sh\n";
        QVERIFY(test::writeTarEntries(tar, {{QStringLiteral("messages.json"), "{}"},
                                            {member, content, {}, mode, sparseSize}}));

        Window w(historySharing(tar, SharedFile{objectId, fileName, toldSize}, fileName));
        const bool answer = outcome != u"asked, not opened";
        w.fake.dialogs.answerQuestion(answer);
        ConversationWindow* c = showChat(w, QStringLiteral("peer0"));
        QVERIFY(c);
        const QString shown = c->messageModel()
                                  .index(c->messageModel().rowOfMessage(0))
                                  .data(MessageListModel::TextRole)
                                  .toString();
        const QString visibleName = withoutFormatCharacters(fileName);
        QVERIFY2(shown.startsWith(visibleName) && !shown.contains(u'\u202E'), qPrintable(shown));
        c->openFile(0);

        QCOMPARE(programs.started(), QString());
        const QStringList asked = w.fake.dialogs.texts(test::ShownDialog::WarningQuestion);
        QCOMPARE(asked.size(), outcome.startsWith(u"asked") ? 1 : 0);
        for (const QString& question : asked)
            QVERIFY2(question.contains(u"chat history"), qPrintable(question));
        QCOMPARE(w.fake.dialogs.messages().size(), outcome == u"told" ? 1 : 0);
        for (const test::ShownDialog& dialog : std::as_const(w.fake.dialogs.shown)) {
            QCOMPARE(dialog.parent, static_cast<QObject*>(c));
            QVERIFY2(dialog.text.contains(visibleName.left(20)) && !dialog.text.contains(u'\u202E'),
                     qPrintable(dialog.text));
        }
        // Afterwards dialogs are the main window's again.
        QCOMPARE(w.fake.dialogs.parentWindow(), nullptr);
        const bool opened = outcome.endsWith(u"and opened") || outcome == u"opened";
        QCOMPARE(w.fake.shell.documents.size(), opened ? 1 : 0);
        if (!opened) {
            // Nothing is written when nothing is opened.
            QCOMPARE(temporary.programFolders(), QStringList());
            return;
        }
        const QString path = unquotedPath(w.fake.shell.documents.first().file);
        QCOMPARE(QFileInfo(path).fileName(), writtenName);
        QVERIFY(QFileInfo(path).canonicalFilePath().startsWith(
            QFileInfo(temporary.path).canonicalFilePath() + u'/'));
        QCOMPARE(QFileInfo(path).permissions()
                     & (QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther),
                 QFileDevice::Permissions());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.size(), sparseSize >= 0 ? sparseSize : content.size());
        QCOMPARE(file.read(content.size()), content);

        // A second request opens the same copy (asking again where it asked); a desktop with no
        // application for it is told in the conversation window. The copy outlives the program
        // for a day.
        w.fake.dialogs.answerQuestion(answer);
        w.fake.shell.cannotOpen = QStringLiteral("no application");
        c->openFile(0);
        QCOMPARE(w.fake.shell.documents.size(), 2);
        QCOMPARE(w.fake.shell.documents.last().file, w.fake.shell.documents.first().file);
        const QStringList told = w.fake.dialogs.messages();
        QCOMPARE(told.size(), 1);
        QVERIFY2(told[0].contains(u"no application") && told[0].contains(visibleName.left(20)),
                 qPrintable(told[0]));
        QCOMPARE(w.fake.dialogs.shown.last().parent, static_cast<QObject*>(c));
        QCOMPARE(filesUnder(temporary.path), QStringList{path});
        const QDateTime now = QDateTime::currentDateTime();
        QCOMPARE(removeStaleSharedFileFolders(temporary.path, now), 0);
        QCOMPARE(removeStaleSharedFileFolders(temporary.path, now.addSecs(25 * 3600)), 1);
        QCOMPARE(filesUnder(temporary.path), QStringList());
    }

    // A long take-out lets the window work, and Stop, closing the conversation window or
    // closing the program end it without leaving anything behind.
    void takingOutAFileCanBeStopped_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Stop") << "stop";
        QTest::newRow("conversation window closed") << "close";
        QTest::newRow("program closed") << "quit";
    }
    void takingOutAFileCanBeStopped()
    {
        QFETCH(QString, how);
        const TemporaryFolder temporary;
        QVERIFY(temporary.made);
        // 200 MiB of zeros, a few hundred kilobytes compressed: below the size that is asked.
        const QString tar = temporary.work.filePath(QStringLiteral("chat_export.tar.gz"));
        QVERIFY(test::writeTarEntries(tar,
                                      {{QStringLiteral("messages.json"), "{}"},
                                       {u"media/0-z.1.bin"_s, QByteArray(200 << 20, '\0')}},
                                      "gzip"));
        Window w(historySharing(tar, SharedFile{u"0-z"_s, u"zeros.txt"_s, 200 << 20}, u"z.bin"_s));
        ConversationWindow* c = showChat(w, QStringLiteral("peer0"));
        QVERIFY(c);
        bool sawProgress = false;
        QTimer timer;
        timer.setInterval(1);
        connect(&timer, &QTimer::timeout, c, [&] {
            if (!c->fileOpener().isBusy() || !c->fileOpener().isVisible())
                return;
            sawProgress = true;
            timer.stop();
            if (how == u"stop")
                QTest::mouseClick(c->findChild<QPushButton*>(QStringLiteral("TakeOutStop")),
                                  Qt::LeftButton);
            else if (how == u"close")
                c->close();
            else
                w.form.close();
        });
        timer.start();
        c->openFile(0);
        QVERIFY(sawProgress);
        QVERIFY(!c->fileOpener().isBusy());
        QVERIFY(w.fake.shell.documents.isEmpty());
        QVERIFY(w.fake.dialogs.shown.isEmpty());
        QCOMPARE(filesUnder(temporary.path), QStringList());
        // (The window's own program folder lies there too.)
        QCOMPARE(temporary.programFolders(), QStringList());
    }

    void keysCloseTheWindow_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("closes");
        const auto row = [](const char* name, const char* focus, Qt::Key key, bool ctrl,
                            bool closes) {
            QTest::newRow(name) << QString::fromLatin1(focus) << int(key)
                                << int(ctrl ? Qt::ControlModifier : Qt::NoModifier) << closes;
        };
        row("Escape in the messages", "messages", Qt::Key_Escape, false, true);
        row("Escape in the list", "list", Qt::Key_Escape, false, true);
        row("Escape in the filter box", "filter", Qt::Key_Escape, false, true);
        row("Escape in the find bar closes the bar only", "find", Qt::Key_Escape, false, false);
        row("Ctrl+W in the messages", "messages", Qt::Key_W, true, true);
        row("Ctrl+W in the find bar", "find", Qt::Key_W, true, true);
    }
    void keysCloseTheWindow()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, closes);
        Window w;
        ConversationWindow* c = showChat(w, QStringLiteral("anna.kowalska"));
        QVERIFY(c);
        if (focus == u"find")
            c->openFindBar();
        QWidget* target = focus == u"list"     ? c->conversationList()
                          : focus == u"filter" ? c->filterBox()
                          : focus == u"find"   ? static_cast<QWidget*>(c->findText())
                                               : c->messageView();
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(c->isVisible(), !closes);
        if (!closes) {
            QVERIFY(!c->findBar()->isVisible());
            QCOMPARE(QApplication::focusWidget(), c->messageView());
        }
        QVERIFY(w.window.isVisible());
    }

    // Shift+F10 and the Menu key open the message menu at the current message.
    void keyboardOpensTheMessageMenu_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier);
        QTest::newRow("Menu key") << int(Qt::Key_Menu) << int(Qt::NoModifier);
    }
    void keyboardOpensTheMessageMenu()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        Window w;
        ConversationWindow* c = showChat(w, QStringLiteral("kenji.tanaka"));
        QVERIFY(c);
        MessageView* view = c->messageView();
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Home);
        QTest::keyClick(view, Qt::Key_Down);
        const int message = c->currentMessage();
        QVERIFY(message >= 0);
        QTest::keyClick(view, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(visibleMenus(view).size(), 1);
        QMenu* menu = visibleMenus(view).first();
        const QRect row = view->visualRect(view->currentIndex());
        const QPoint at = view->viewport()->mapToGlobal(row.center());
        QVERIFY2(
            std::abs(menu->pos().y() - at.y()) <= row.height(),
            qPrintable(QStringLiteral("menu at %1, row at %2").arg(menu->pos().y()).arg(at.y())));
        const QList<QAction*> actions = menu->actions();
        const auto copy = std::find_if(actions.begin(), actions.end(),
                                       [](QAction* a) { return a->text() == u"Copy"; });
        QVERIFY(copy != actions.end() && (*copy)->isEnabled());
        (*copy)->trigger();
        menu->close();
        QCOMPARE(w.fake.clipboard.text, c->messageModel().copyLine(message) + QLatin1Char('\n'));
        // A second request while the menu is open opens no second menu.
        QTest::keyClick(view, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QContextMenuEvent again(QContextMenuEvent::Keyboard, QPoint(1, 1),
                                view->mapToGlobal(QPoint(1, 1)));
        QApplication::sendEvent(view, &again);
        QCOMPARE(visibleMenus(view).size(), 1);
    }

    // Typed text goes to the nearest match at or after the current message, not before it.
    void typingFindsFromTheCurrentMessage_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("from"); // the n-th message of the chat; -1 the last
        QTest::newRow("from the first message") << "lunch" << 0;
        QTest::newRow("from the middle") << "lunch" << 7;
        QTest::newRow("a match itself stays") << "o" << 3;
        QTest::newRow("after the last match, nothing moves") << "lunch" << -1;
    }
    void typingFindsFromTheCurrentMessage()
    {
        QFETCH(QString, text);
        QFETCH(int, from);
        Window w;
        ConversationWindow* c = showChat(w, QStringLiteral("olga.petrova"));
        QVERIFY(c);
        const HistoryChat& olga =
            w.current->chats[size_t(chatOf(*w.current, QStringLiteral("olga.petrova")))];
        const int last = int(olga.messages.size()) - 1;
        from = from < 0 ? last : from;
        QVERIFY(from <= last);
        c->messageView()->setCurrentIndex(
            c->messageModel().index(c->messageModel().rowOfMessage(from)));
        const QList<int> matches = messagesContaining(olga, text, Qt::CaseInsensitive);
        QVERIFY(!matches.isEmpty());
        const auto next = std::lower_bound(matches.begin(), matches.end(), from);
        const int expected = next == matches.end() ? from : *next;
        if (from == last)
            QVERIFY2(!matches.contains(from), "the last message must not match here");
        c->openFindBar();
        QTest::keyClicks(c->findText(), text);
        QCOMPARE(c->currentMessage(), expected);
        QCOMPARE(c->findCountText(),
                 QStringLiteral("%1 of %2").arg(matches.indexOf(expected) + 1).arg(matches.size()));
        // F3 goes on after it, Shift+F3 back before it.
        QTest::keyClick(c->findText(), Qt::Key_F3);
        const qsizetype at = matches.indexOf(c->currentMessage());
        QVERIFY(at >= 0);
        QTest::keyClick(c->findText(), Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(c->currentMessage(), matches[(at + matches.size() - 1) % matches.size()]);
    }

    // A row found by its time or its sender selects the message and marks that field; the
    // find bar gets no text that no message text holds.
    void hitByTimeOrSenderMarksTheField_data()
    {
        QTest::addColumn<QString>("search");
        QTest::addColumn<int>("field");
        QTest::newRow("time") << " 20" << int(MessageField::Timestamp);
        QTest::newRow("sender") << QStringLiteral("Ольга") << int(MessageField::FromDisplayName);
    }
    void hitByTimeOrSenderMarksTheField()
    {
        QFETCH(QString, search);
        QFETCH(int, field);
        Window w;
        w.search(search, true);
        int row = 1;
        while (row <= w.form.results().size() && w.form.results().field(row) != MessageField(field))
            ++row;
        QVERIFY(row <= w.form.results().size());
        QVERIFY(chooseFromMenu(w.form.resultsListView(), row - 1,
                               ConversationEntry::showInConversationText()));
        ConversationWindow* c = w.conversation();
        QVERIFY(c && c->isVisible());
        const MessageRef ref = w.form.results().messageRef(row);
        QCOMPARE(c->currentChat(), int(ref.chat));
        QCOMPARE(c->currentMessage(), int(ref.message));
        QCOMPARE(c->findText()->text(), QString());
        QVERIFY(c->findCountText() != QLatin1String("No matches"));
        QCOMPARE(c->messageDelegate().markedMessage(), c->currentMessage());
        // The mark shows: the find colour under the time or the sender of that row, and under
        // no other message of the chat.
        MessageView* view = c->messageView();
        view->clearFocus();
        view->selectionModel()->clearSelection();
        QApplication::processEvents();
        const auto rectOf = [&](int message) {
            return view->visualRect(
                c->messageModel().index(c->messageModel().rowOfMessage(message)));
        };
        const QImage image = view->viewport()->grab().toImage().scaled(view->viewport()->size());
        QVERIFY(pixelsWhere(image, rectOf(c->currentMessage()), isFindColour) > 20);
        const int other = c->currentMessage() > 0 ? c->currentMessage() - 1 : 1;
        QCOMPARE(pixelsWhere(image, rectOf(other), isFindColour), 0);
    }

    // The desktop's opener tells the program when it could not open a file: xdg-open's exit
    // statuses, or no file left to open.
    void desktopShellTellsAFileNotOpened_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("fileThere");
        QTest::addColumn<QString>("reason"); // "" none told
        QTest::newRow("opened") << 0 << true << "";
        QTest::newRow("no application (3)") << 3 << true << "no application";
        QTest::newRow("the application failed (4)") << 4 << true << "failed";
        QTest::newRow("no such file (2)") << 2 << true << "no longer there";
        QTest::newRow("the copy is gone") << 0 << false << "no longer there";
    }
    void desktopShellTellsAFileNotOpened()
    {
        QFETCH(int, status);
        QFETCH(bool, fileThere);
        QFETCH(QString, reason);
        QTemporaryDir work;
        const QString bin = work.filePath(QStringLiteral("bin"));
        const QString opener = bin + QStringLiteral("/xdg-open");
        const QString log = work.filePath(QStringLiteral("started"));
        QVERIFY(QDir().mkpath(bin));
        QVERIFY(test::writeBytes(opener, QStringLiteral("#!/bin/sh\necho \"$1\" > '%1'\nexit %2\n")
                                             .arg(log)
                                             .arg(status)
                                             .toUtf8()));
        QVERIFY(
            QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const test::ScopedEnvironment path("PATH", QFile::encodeName(bin) + ':' + qgetenv("PATH"));
        const QString file = work.filePath(QStringLiteral("a file.txt"));
        QVERIFY(!fileThere || test::writeBytes(file, {}));
        DesktopShell shell;
        ShellOpenRequest request;
        request.file = QLatin1Char('"') + file + QLatin1Char('"');
        request.workingFolder = work.path();
        QStringList told;
        request.failed = [&told](const QString& why) { told << why; };
        shell.openDocument(request);
        if (fileThere)
            QTRY_VERIFY(QFile::exists(log));
        // The status is read once xdg-open has ended.
        QTest::qWait(200);
        QCOMPARE(told.size(), reason.isEmpty() ? 0 : 1);
        if (!reason.isEmpty())
            QVERIFY2(told.first().contains(reason), qPrintable(told.first()));
        if (fileThere) {
            QFile started(log);
            QVERIFY(started.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(started.readAll()).trimmed(), file);
        }
    }

    void windowFitsItsScreen_data()
    {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("fitted");
        const QRect screen(0, 0, 800, 600);
        QTest::newRow("inside") << QRect(10, 20, 300, 200) << screen << QRect(10, 20, 300, 200);
        QTest::newRow("off the right and bottom")
            << QRect(700, 500, 300, 200) << screen << QRect(500, 400, 300, 200);
        QTest::newRow("off the top left")
            << QRect(-50, -30, 300, 200) << screen << QRect(0, 0, 300, 200);
        QTest::newRow("larger than the screen")
            << QRect(100, 100, 1200, 900) << screen << QRect(0, 0, 800, 600);
        QTest::newRow("second screen, panel on top")
            << QRect(1900, 10, 700, 500) << QRect(1920, 32, 1280, 992) << QRect(1920, 32, 700, 500);
    }
    void windowFitsItsScreen()
    {
        QFETCH(QRect, frame);
        QFETCH(QRect, available);
        QFETCH(QRect, fitted);
        QCOMPARE(ConversationWindow::withinScreen(frame, available), fitted);
    }

    // Names are isolated on screen (a right-to-left name does not reorder what follows it);
    // what assistive technology reads holds no isolates, and every control has a name. The
    // results row's tooltip isolates a right-to-left sender between the time and the rest.
    void namesAreIsolatedButNotForAssistiveTechnology()
    {
        const QString hebrew = QStringLiteral("\u05D3\u05E0\u05D4 \u05DB\u05D4\u05DF");
        const QString isolated = QChar(0x2068) + hebrew + QChar(0x2069);
        Window w(historyOfNames({hebrew, QStringLiteral("Anna")}));
        ConversationWindow* c = showChat(w, QStringLiteral("peer0"));
        QVERIFY(c);
        QVERIFY(c->header()->text().startsWith(isolated));

        c->openFindBar();
        QList<QWidget*> controls{c->noMatchLabel()};
        for (QWidget* widget : c->findChildren<QWidget*>()) {
            // (A line edit's clear button is part of the line edit.)
            if (!widget->isVisibleTo(c) || qobject_cast<QLineEdit*>(widget->parentWidget()))
                continue;
            if (qobject_cast<QAbstractItemView*>(widget) || qobject_cast<QLineEdit*>(widget)
                || qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget)
                || qobject_cast<QProgressBar*>(widget))
                controls << widget;
        }
        QVERIFY(controls.size() >= 10);
        // The main window's two lists have names too.
        controls << w.form.contactListView() << w.form.resultsListView();
        for (QWidget* widget : std::as_const(controls)) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(widget);
            QVERIFY(a);
            const QString name = a->text(QAccessible::Name);
            QVERIFY2(!name.isEmpty() && !hasIsolates(name), widget->metaObject()->className());
        }
        // The rows of the conversation list are read without isolates too.
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(c->conversationList());
        bool sawHebrew = false;
        for (int i = 0; i < list->childCount(); ++i) {
            const QString text = list->child(i)->text(QAccessible::Name);
            QVERIFY2(!hasIsolates(text), qPrintable(text));
            sawHebrew |= text.startsWith(hebrew);
        }
        QVERIFY(sawHebrew);

        w.search(QStringLiteral("hello 1"), true);
        QVERIFY(w.form.results().size() >= 1);
        QTableView* results = w.form.resultsListView();
        const QString tip =
            toolTipAt(results, results->visualRect(results->model()->index(0, 2)).center());
        QVERIFY2(tip.startsWith(isolated + u'\n') && tip.contains(u", "_s + isolated + u'\n'),
                 qPrintable(tip));
    }

    // The sender column is as wide as the senders are shown, the user's "(you)" included.
    void senderColumnFitsTheShownNames()
    {
        Window w;
        ConversationWindow* c = showChat(w, QStringLiteral("anna.kowalska"));
        QVERIFY(c);
        QFont bold = c->messageView()->font();
        bold.setBold(true);
        int widest = 0;
        for (int i = 0; i < c->messageModel().messageCount(); ++i) {
            const QModelIndex row = c->messageModel().index(c->messageModel().rowOfMessage(i));
            widest = std::max(widest, QFontMetrics(bold).horizontalAdvance(
                                          row.data(MessageListModel::SenderRole).toString()));
        }
        QVERIFY(widest > 0);
        // (A row draws its sender clipped 6 pixels short of the column's edge.)
        QCOMPARE_GE(c->messageDelegate().senderColumnWidth() - 6, widest);
    }

    void emojiIsDrawnInColour()
    {
        bool colourEmoji = false;
        for (const QString& family : QFontDatabase::families())
            colourEmoji |= family.contains(QLatin1String("Color Emoji"), Qt::CaseInsensitive);
        if (!colourEmoji)
            QSKIP("No colour emoji font is installed (Debian: fonts-noto-color-emoji).");
        Window w;
        QVERIFY(w.form.conversations().showContact(QStringLiteral("anna.kowalska")));
        ConversationWindow* c = w.conversation();
        c->resize(900, 600);
        const ChatHistory& h = *w.current;
        const HistoryChat& anna = h.chats[size_t(chatOf(h, QStringLiteral("anna.kowalska")))];
        int tree = -1;
        for (size_t i = 0; i < anna.messages.size(); ++i) {
            if (anna.messages[i].body.contains(QStringLiteral("🎄")))
                tree = int(i);
        }
        QVERIFY(tree >= 0);
        MessageView* view = c->messageView();
        view->selectionModel()->clearSelection();
        view->setCurrentIndex({});
        const QModelIndex index = c->messageModel().index(c->messageModel().rowOfMessage(tree));
        view->scrollTo(index);
        QApplication::processEvents();
        const QString text = index.data(MessageListModel::TextRole).toString();
        const int at = int(text.indexOf(QStringLiteral("🎄")));
        const QRect emoji = c->messageDelegate().textRangeRect(view->visualRect(index), index, at,
                                                               at + 2, view->font());
        QVERIFY(emoji.width() > 4);
        const QImage image = view->viewport()->grab().toImage();
        int coloured = 0;
        for (int y = emoji.top(); y <= emoji.bottom(); ++y) {
            for (int x = emoji.left(); x <= emoji.right(); ++x) {
                const QColor pixel =
                    image.pixelColor(x * image.width() / view->viewport()->width(),
                                     y * image.height() / view->viewport()->height());
                if (pixel.hsvSaturation() > 120 && pixel.value() > 60)
                    ++coloured;
            }
        }
        QVERIFY2(coloured >= 10, qPrintable(QStringLiteral("%1 coloured pixels").arg(coloured)));
        // And in the text before it, drawn in the text colour, there are none.
        const QRect plain =
            c->messageDelegate().textRangeRect(view->visualRect(index), index, 0, 4, view->font());
        int plainColoured = 0;
        for (int y = plain.top(); y <= plain.bottom(); ++y) {
            for (int x = plain.left(); x <= plain.right(); ++x) {
                if (image.pixelColor(x, y).hsvSaturation() > 120)
                    ++plainColoured;
            }
        }
        QCOMPARE(plainColoured, 0);

        // Emoji in the conversation list and over the messages are drawn in colour too.
        Window party(historyOfNames({QStringLiteral("Party \U0001F384\U0001F384\U0001F384")}));
        c = showChat(party, QStringLiteral("peer0"));
        QVERIFY(c);
        c->resize(760, 540);
        QListView* list = c->conversationList();
        list->clearSelection();
        list->setCurrentIndex({});
        QApplication::processEvents();
        const QImage listImage =
            list->viewport()->grab().toImage().scaled(list->viewport()->size());
        QVERIFY2(pixelsWhere(listImage, list->visualRect(list->model()->index(0, 0)), isEmojiColour)
                     >= 10,
                 "no colour in the list's row");
        const QImage header = c->header()->grab().toImage();
        QVERIFY2(pixelsWhere(header, header.rect(), isEmojiColour) >= 10,
                 "no colour in the header");
    }
};

QTEST_MAIN(TestConversationWindow)
#include "test_conversation_window.moc"
