#pragma once

#include "app/form1.h"
#include "chat/chat_history.h"
#include "fake_platform.h"
#include "scripted_chats.h"

#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <vector>

namespace velmoran {
class HistoryLoader;
}

namespace velmoran::test {

// The real main window on a fake desktop: scripted dialogs, a recording shell and clipboard,
// a fixed clock and random source, a program folder of its own (with blanks in its path) and a
// scripted chat client. Yields always let events run. The helpers do what a user does: press
// buttons, tick rows, type the search text; and read what the window shows.
class WindowHarness {
public:
    enum class Start { Loaded, NotLoaded };
    explicit WindowHarness(
        Start start = Start::Loaded,
        const QString& folderTemplate = QStringLiteral("velmoran program XXXXXX"));
    ~WindowHarness();

    // Runs the start-up routine (once; Start::NotLoaded leaves it to the test, which may first
    // put files beside the program).
    void load();

    // The chat client holds the built-in sample history.
    void serveSample();
    // The chat client reads these history files at every command, as `velmoran FILE...` does
    // (no files: none until one is dropped); a file that cannot be read is told in a message,
    // messages a reader left out as the chat client's notices.
    HistoryLoader& readHistoryFiles(const QStringList& files);

    // Clicks a button ("PushButton<number>"), running its command to its end.
    void press(int button);
    // Types the search text, sets "Match case" and presses "Start Finding".
    void find(const QString& text, bool matchCase = true);
    // Runs the action once events run next (inside a command's yield, say).
    void whenEventsRun(std::function<void()> action);

    // The contact list as the view reads it: texts, and whether each tick shows.
    QStringList contactTexts() const;
    QList<bool> contactTicks() const;
    // Adds rows to the contact list as a listing would, ticked or not.
    void addContacts(const QStringList& handles, bool ticked = true);
    // Changes the tick of a contact row (1-based) as a click on its check box does.
    void tickContact(int row, bool ticked);

    struct ResultRow {
        QString contact;
        MessageField field;
        QString value;
    };
    // Adds rows to the results list as a search would.
    void addResults(const std::vector<ResultRow>& rows);
    // The results rows as "contact|field|value", top to bottom.
    QStringList resultRows() const;
    // The values of the "Body" rows, top to bottom.
    QStringList resultBodies() const;
    // The contacts of the results rows, top to bottom.
    QStringList resultContacts() const;

    QStringList reports() const { return fake.dialogs.errorReports(); }
    QStringList messages() const { return fake.dialogs.messages(); }

    QTemporaryDir folder;
    FakePlatform fake;
    ScriptedChats chats;
    std::shared_ptr<HistoryLoader> loader;
    Form1 window;

private:
    bool m_loaded = false;
};

} // namespace velmoran::test
