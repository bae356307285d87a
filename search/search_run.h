#pragma once

#include "dialogs.h"
#include "error_report.h"
#include "search_pattern.h"
#include "timestamp_text.h"

#include <QElapsedTimer>
#include <QMetaObject>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace velmoran {

class ChatService;
class ChatServiceFactory;
class ContactListModel;
class EventPump;
class MainWindowHelpCommand;
class MousePointer;
class ProgressDisplay;
class ResultsModel;
struct Platform;

// "Start Finding" / "Stop Finding": walks every chat of the client that is held with a ticked
// contact and appends a results row for every field of every message that contains the
// search text. The run lets window events run twice a pass; a click on the button during a
// run asks it to stop.
//
// Ticks, contact texts, the search text and the "Match case" option are read at each use, so
// commands that run inside the yields take effect at once. For speed the search text is kept
// in a matcher that follows the text box's changes, new results rows are shown a few times a
// second, and timestamp texts come from caches.
class SearchRun {
public:
    struct Controls {
        QPushButton* button;   // the start/stop button
        QLineEdit* searchText; // the text to find
        QCheckBox* matchCase;  // ticked: letter case counts
    };
    struct Window {
        Platform& platform;
        EventPump& eventPump;
        MousePointer& mousePointer;
        ProgressDisplay& progress;
        bool& stopRequested;
        MainWindowHelpCommand& help;
    };

    SearchRun(Window window, Controls controls, ChatServiceFactory& chatServices,
              ContactListModel& contacts, ResultsModel& results);
    ~SearchRun();
    SearchRun(const SearchRun&) = delete;
    SearchRun& operator=(const SearchRun&) = delete;

    void PushButton7_Click();

    // How often new results rows are shown to the list during a run.
    static constexpr int AnnounceIntervalMs = 250;

private:
    class WindowObserver;
    void search(class GuardedRoutine& routine, ChatService& service);
    void letEventsRun();
    void showReadingText();

    // The window's dialogs; the progress text is brought up to date before a failure report.
    class ReportDialogs final : public Dialogs {
    public:
        ReportDialogs(Dialogs& dialogs, SearchRun& run)
            : m_dialogs(dialogs)
            , m_run(run)
        {
        }
        void message(const QString& text) override { m_dialogs.message(text); }
        bool question(const QString& text) override { return m_dialogs.question(text); }
        void errorReport(const QString& text) override;
        QString inputBox(const QString& prompt) override { return m_dialogs.inputBox(prompt); }
        QString saveFileName(const SaveDialogRequest& request) override
        {
            return m_dialogs.saveFileName(request);
        }

    private:
        Dialogs& m_dialogs;
        SearchRun& m_run;
    };

    Window m_window;
    Controls m_controls;
    ChatServiceFactory& m_chatServices;
    ContactListModel& m_contacts;
    ResultsModel& m_results;
    SearchPattern m_pattern;
    TimestampText m_timestamps;
    ReportDialogs m_reportDialogs;
    ErrorReporter m_reporter;
    QElapsedTimer m_sinceAnnounced;
    // "Reading k of n" is set for every message but written to the bar only when the window
    // can show it: when events run and before a failure report.
    qint32 m_readingMessage = 0;
    qint32 m_readingCount = 0;
    bool m_readingPending = false;
    QMetaObject::Connection m_textFollower;
};

} // namespace velmoran
