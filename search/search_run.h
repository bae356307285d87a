#pragma once

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
class ErrorReporter;
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
        ErrorReporter& reporter;
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
    void search(class GuardedRoutine& routine, ChatService& service);
    bool matches(QStringView field) const;
    void letEventsRun();

    Window m_window;
    Controls m_controls;
    ChatServiceFactory& m_chatServices;
    ContactListModel& m_contacts;
    ResultsModel& m_results;
    SearchPattern m_pattern;
    TimestampText m_timestamps;
    QElapsedTimer m_sinceAnnounced;
    QMetaObject::Connection m_textFollower;
};

} // namespace velmoran
