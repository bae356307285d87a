#pragma once

#include "search/search_pattern.h"
#include "search/timestamp_text.h"

#include <QElapsedTimer>
#include <QMetaObject>

#include <memory>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace velmoran {

class ChatService;
class ErrorReporter;
class GuardedRoutine;
struct CommandContext;

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

    SearchRun(CommandContext& context, Controls controls);
    ~SearchRun();
    SearchRun(const SearchRun&) = delete;
    SearchRun& operator=(const SearchRun&) = delete;

    void PushButton7_Click();

    // Set by a click on the button during a run; the run checks it after every message.
    bool stopRequested() const { return m_stopRequested; }

    // How often new results rows are shown to the list during a run.
    static constexpr int AnnounceIntervalMs = 250;

private:
    class WindowObserver;
    class ReportFirst;
    void search(GuardedRoutine& routine, ChatService& service);
    void beforeEvents();
    void showReadingText();

    CommandContext& m_context;
    Controls m_controls;
    SearchPattern m_pattern;
    TimestampText m_timestamps;
    std::unique_ptr<ErrorReporter> m_reporter;
    bool m_stopRequested = false;
    QElapsedTimer m_sinceAnnounced;
    // "Reading k of n" is set for every message but written to the bar only when the window
    // can show it: when events run and before a failure report.
    qint32 m_readingMessage = 0;
    qint32 m_readingCount = 0;
    bool m_readingPending = false;
    QMetaObject::Connection m_textFollower;
};

} // namespace velmoran
