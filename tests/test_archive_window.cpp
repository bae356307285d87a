// "Save Conversation..." and "Save Archive..." in the real conversation window: where the
// archive goes (the chosen folder or a new folder in it), what it holds, and a save that ends
// part-way (Stop, the window or the program closing, a failure) leaving nothing behind, while
// the window stays usable.
#include "app/archive_save.h"
#include "app/conversation_entry.h"
#include "app/conversation_window.h"
#include "archive/archive_folder.h"
#include "chat/history_loader.h"
#include "export_builder.h"
#include "history_files.h"
#include "window_harness.h"

#include <QAction>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace velmoran;
using namespace velmoran::test;
using namespace Qt::Literals::StringLiterals;

namespace {

// Anna's chat is long enough to be saved in several steps; the group's name needs making safe.
constexpr int AnnaMessages = 5000;

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Every path under root, hidden ones too, relative to it.
QStringList entriesUnder(const QString& root)
{
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(root).relativeFilePath(it.next());
    found.sort();
    return found;
}

// The conversation folders an archive's index links to.
QStringList indexedFolders(const QString& archive)
{
    static const QRegularExpression row(u"<tr><td><a href=\"(c\\d+)/index\\.html\""_s);
    QStringList folders;
    for (auto it = row.globalMatch(readText(archive + u"/index.html"_s)); it.hasNext();)
        folders << it.next().captured(1);
    folders.sort();
    return folders;
}

QString chatFolder(int chat)
{
    return u"c%1"_s.arg(chat + 1, 4, 10, QLatin1Char('0'));
}

// The real main window and its conversation window over the test's history.
struct Window : WindowHarness {
    explicit Window(const ChatHistoryPtr& history)
    {
        chats.provider = [history] { return history; };
        window.show();
        QVERIFY(window.conversations().showContact(u"8:live:anna"_s));
        conversation = window.conversations().window();
        QVERIFY(QTest::qWaitForWindowActive(conversation));
    }
    ArchiveSave& saver() const { return conversation->archiveSave(); }
    // Runs action once, at the first yield of a save after messages were written.
    void partWay(std::function<void()> action)
    {
        auto* timer = new QTimer(conversation);
        timer->setInterval(0);
        QObject::connect(timer, &QTimer::timeout, conversation, [this, timer, action] {
            if (!saver().isBusy() || saver().progressBar()->maximum() == 0
                || saver().progressBar()->value() == 0)
                return;
            timer->stop();
            timer->deleteLater();
            action();
        });
        timer->start();
    }

    ConversationWindow* conversation = nullptr;
};

} // namespace

class TestArchiveWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void saves_data();
    void saves();
    void endsCleanly_data();
    void endsCleanly();
    void windowStaysUsable();

private:
    int chatOf(const QString& id) const;

    QTemporaryDir m_data;
    ChatHistoryPtr m_history;
    std::unique_ptr<QTemporaryDir> m_dir; // where the archives go, new for each case
};

void TestArchiveWindow::initTestCase()
{
    QVERIFY(m_data.isValid());
    ExportConversation anna = steadyConversation(u"8:live:anna"_s, AnnaMessages,
                                                 u"2024-11-05T09:00:00Z"_s, u"hello from Anna "_s);
    anna.displayName = u"Anna"_s;
    for (ExportMessage& message : anna.messages)
        message.displayName = u"Anna"_s;
    ExportConversation group{u"19:team@thread.skype"_s, {}, {}, {u"8:live:anna"_s}, u"Team: A/B"_s};
    group.messages.push_back(
        {u"8:live:anna"_s, u"Anna"_s, u"2024-12-01T10:00:00.000Z"_s, u"hello team"_s});
    const QString tar = m_data.filePath(u"export.tar"_s);
    QVERIFY(writeTar(tar, {{u"messages.json"_s, exportJson(u"8:me.myself"_s, {anna, group})}}));
    m_history = std::make_shared<const ChatHistory>(readHistoryFile(tar));
    QCOMPARE(m_history->chats.size(), size_t(2));
}

void TestArchiveWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

int TestArchiveWindow::chatOf(const QString& id) const
{
    for (size_t i = 0; i < m_history->chats.size(); ++i) {
        if (m_history->chats[i].id == id)
            return int(i);
    }
    return -1;
}

void TestArchiveWindow::saves_data()
{
    QTest::addColumn<QString>("chat");      // the chat shown; "" saves the whole history
    QTest::addColumn<QStringList>("setup"); // made first: "folder/", "file", the marker
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("destination"); // where the archive goes
    QTest::addColumn<bool>("asked");          // whether replacing an earlier archive is asked

    const QString anna = u"8:live:anna"_s;
    const QString team = u"19:team@thread.skype"_s;
    const QString marker = QLatin1StringView(ArchiveFolder::MarkerName);
    QTest::newRow("empty folder: there")
        << anna << QStringList{u"empty/"_s} << u"empty"_s << u"empty"_s << false;
    QTest::newRow("folder with files: a new folder in it")
        << anna << QStringList{u"docs/notes.txt"_s} << u"docs"_s << u"docs/Anna"_s << false;
    QTest::newRow("names taken: numbered")
        << anna << QStringList{u"docs/Anna/"_s, u"docs/Anna (2)"_s} << u"docs"_s
        << u"docs/Anna (3)"_s << false;
    QTest::newRow("a group's name made safe")
        << team << QStringList{u"docs/notes.txt"_s} << u"docs"_s << u"docs/Team_ A-B"_s << false;
    QTest::newRow("whole history") << QString() << QStringList{u"docs/notes.txt"_s} << u"docs"_s
                                   << u"docs/Chat history archive"_s << false;
    QTest::newRow("earlier archive: replaced")
        << QString() << QStringList{u"old/"_s + marker, u"old/stale.html"_s} << u"old"_s << u"old"_s
        << true;
}

void TestArchiveWindow::saves()
{
    QFETCH(QString, chat);
    QFETCH(QStringList, setup);
    QFETCH(QString, chosen);
    QFETCH(QString, destination);
    QFETCH(bool, asked);
    for (const QString& entry : std::as_const(setup)) {
        const QString path = m_dir->filePath(entry);
        QVERIFY(QDir().mkpath(entry.endsWith(u'/') ? path : QFileInfo(path).path()));
        if (!entry.endsWith(u'/'))
            QVERIFY(writeBytes(path, path.endsWith(u".velmoran-archive"_s)
                                         ? QByteArray("velmoran-archive 1\n")
                                         : QByteArray("x")));
    }
    Window w(m_history);
    ConversationWindow* c = w.conversation;
    QVERIFY(c);
    if (!chat.isEmpty())
        c->showChat(chatOf(chat));
    w.fake.dialogs.answerFolder(m_dir->filePath(chosen));
    w.fake.dialogs.answerQuestion(true);
    (chat.isEmpty() ? w.saver().saveArchiveAction() : w.saver().saveConversationAction())
        ->trigger();

    const QString target = m_dir->filePath(destination);
    QCOMPARE(w.fake.dialogs.texts(ShownDialog::Folder).size(), 1);
    QCOMPARE(w.fake.dialogs.shown.first().parent, c);
    QCOMPARE(w.fake.dialogs.texts(ShownDialog::WarningQuestion).size(), asked ? 1 : 0);
    QVERIFY2(w.messages().isEmpty(), qPrintable(w.messages().join(u'\n')));
    const QStringList expected = chat.isEmpty() ? QStringList{chatFolder(0), chatFolder(1)}
                                                : QStringList{chatFolder(chatOf(chat))};
    QCOMPARE(indexedFolders(target), expected);
    QVERIFY(!QFileInfo::exists(target + u"/stale.html"_s));
    const bool withAnna = chat.isEmpty() || chat == u"8:live:anna"_s;
    QCOMPARE(readText(target + u'/' + chatFolder(chatOf(u"8:live:anna"_s)) + u"/conversation.txt"_s)
                 .count(u"hello from Anna"_s),
             withAnna ? AnnaMessages : 0);
    const int messages = chat.isEmpty() ? AnnaMessages + 1 : withAnna ? AnnaMessages : 1;
    // Nothing but the archive was added: no temporary folder, no earlier archive set aside.
    for (const QString& entry : entriesUnder(m_dir->path()))
        QVERIFY2(!entry.contains(u".velmoran-"_s) || entry.endsWith(u".velmoran-archive"_s),
                 qPrintable(entry));
    // The bar tells what was written and where, and opens the folder.
    const QString status = w.saver().statusText();
    QVERIFY2(status.contains(chat.isEmpty() ? u"2 conversations"_s : u"1 conversation,"_s)
                 && status.contains(QLocale().toString(messages) + u" message"_s)
                 && status.contains(QDir::toNativeSeparators(target)),
             qPrintable(status));
    QCOMPARE(w.saver().lastArchive(), target);
    c->findChild<QPushButton*>(u"ArchiveOpenFolder"_s)->click();
    QCOMPARE(w.fake.shell.documents.size(), 1);
    QCOMPARE(w.fake.shell.documents.first().file, u'"' + target + u'"');
    QVERIFY(w.saver().saveConversationAction()->isEnabled());
}

void TestArchiveWindow::endsCleanly_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("told"); // the start of the message shown; "" for none
    QTest::newRow("Stop") << u"stop"_s << QString();
    QTest::newRow("the window closes") << u"close window"_s << QString();
    QTest::newRow("the program closes") << u"close program"_s << QString();
    QTest::newRow("the folder vanishes")
        << u"remove"_s << u"The archive could not be saved in \"%1\"."_s;
}

void TestArchiveWindow::endsCleanly()
{
    QFETCH(QString, how);
    QFETCH(QString, told);
    const QString docs = m_dir->filePath(u"docs"_s);
    QVERIFY(QDir().mkpath(docs));
    QVERIFY(writeBytes(docs + u"/notes.txt"_s, "x"));
    const QStringList before = entriesUnder(m_dir->path());
    Window w(m_history);
    bool acted = false;
    w.partWay([&] {
        acted = true;
        // The archive is being written beside its name, and only there.
        const QStringList writing =
            QDir(docs).entryList({u".Anna.velmoran-tmp-*"_s}, QDir::Dirs | QDir::Hidden);
        QCOMPARE(writing.size(), 1);
        if (how == u"stop")
            QTest::mouseClick(w.saver().stopButton(), Qt::LeftButton);
        else if (how == u"close window")
            w.conversation->close();
        else if (how == u"close program")
            w.window.close();
        else
            QVERIFY(QDir(docs + u'/' + writing.first()).removeRecursively());
    });
    w.fake.dialogs.answerFolder(docs);
    w.saver().saveConversation();

    QVERIFY(acted);
    QVERIFY(!w.saver().isBusy());
    QCOMPARE(entriesUnder(m_dir->path()), before);
    QCOMPARE(w.saver().lastArchive(), QString());
    if (told.isEmpty()) {
        QCOMPARE(w.messages(), QStringList());
    } else {
        QCOMPARE(w.messages().size(), 1);
        QVERIFY2(
            w.messages().first().startsWith(told.arg(QDir::toNativeSeparators(docs + u"/Anna"_s))),
            qPrintable(w.messages().first()));
    }
    if (how == u"stop")
        QVERIFY(w.saver().statusText().startsWith(u"Stopped; nothing was saved"_s));
    else
        QVERIFY(w.saver().isHidden());
}

// During a save the window reads on (another chat, the find bar), a second save is refused,
// and the save goes on with the chat it started with.
void TestArchiveWindow::windowStaysUsable()
{
    Window w(m_history);
    ConversationWindow* c = w.conversation;
    const int team = chatOf(u"19:team@thread.skype"_s);
    bool checked = false;
    w.partWay([&] {
        checked = true;
        QVERIFY(w.saver().progressBar()->isVisible());
        QVERIFY(w.saver().stopButton()->isEnabled());
        QVERIFY(!w.saver().saveConversationAction()->isEnabled());
        QVERIFY(!w.saver().saveArchiveAction()->isEnabled());
        QTest::keyClick(c->messageView(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        w.saver().saveConversation();
        QCOMPARE(w.fake.dialogs.texts(ShownDialog::Folder).size(), 1);
        QVERIFY(w.saver().statusText().contains(u" of 5,000 messages"_s));
        c->showChat(team);
        QVERIFY(c->header()->text().startsWith(u"Team: A/B"_s));
        c->openFindBar();
        QTest::keyClicks(c->findText(), u"team"_s);
        QCOMPARE(c->findCountText(), u"1 of 1"_s);
    });
    w.fake.dialogs.answerFolder(m_dir->path());
    QTest::keyClick(c->messageView(), Qt::Key_S, Qt::ControlModifier);

    QVERIFY(checked);
    QCOMPARE(w.fake.dialogs.texts(ShownDialog::Folder).size(), 1);
    QCOMPARE(c->currentChat(), team);
    QCOMPARE(indexedFolders(m_dir->path()), QStringList{chatFolder(chatOf(u"8:live:anna"_s))});
    QVERIFY(w.saver().saveArchiveAction()->isEnabled());
}

QTEST_MAIN(TestArchiveWindow)
#include "test_archive_window.moc"
