#pragma once

#include "chat/chat_history.h"

#include <QElapsedTimer>
#include <QWidget>

#include <functional>

class QAction;
class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace velmoran {

class EventPump;
struct Platform;
struct ArchiveSummary;

// Where an archive named name goes when the user chose the folder chosen: the folder itself
// when it is empty (and can be replaced: its parent is writable and on the same disk) or an
// earlier archive; otherwise a new folder inside it, named from name as safeFileName makes it
// and numbered " (2)", " (3)" … past names taken. A path that is no folder is answered as it
// is (the archive folder refuses it).
QString archiveDestination(const QString& chosen, const QString& name);

// The conversation window's "Save Conversation..." (the chat shown) and "Save Archive..." (the
// whole history): asks for a folder, writes the archive there as velmoran-archive does, and
// shows the progress with a Stop button in this bar (hidden while idle), then what was written,
// with "Open Folder". Window events run during the save, so the window stays usable; Stop, the
// window closing or the program closing end it, leaving nothing under the archive's name and
// no temporary folder. One save at a time: the commands are disabled while one runs.
class ArchiveSave final : public QWidget {
    Q_OBJECT
public:
    // What the window shows: the history and the chat (-1 for none).
    struct Shown {
        ChatHistoryPtr history;
        int chat = -1;
    };
    ArchiveSave(Platform& platform, EventPump& pump, std::function<Shown()> shown,
                QWidget* parent = nullptr);
    ~ArchiveSave() override;

    void saveConversation() { save(false); }
    void saveArchive() { save(true); }
    // Ends a save in progress; nothing of it is left.
    void stop() { m_stopRequested = true; }
    // The window closes: a save in progress ends and what the last one told is put away.
    void windowClosing();
    // Enables the commands for what is shown, while no save runs.
    void updateActions();

    bool isBusy() const { return m_busy; }
    QAction* saveConversationAction() const { return m_saveConversation; }
    QAction* saveArchiveAction() const { return m_saveArchive; }
    // "Save" with a menu of both commands, for the window to place.
    QToolButton* menuButton() const { return m_menuButton; }
    QPushButton* stopButton() const { return m_stop; }
    QProgressBar* progressBar() const { return m_bar; }
    // What the bar tells: the progress, or the outcome of the last save.
    QString statusText() const;
    // The folder the last archive was written to, or "".
    QString lastArchive() const { return m_lastArchive; }

private:
    void save(bool wholeHistory);
    bool showProgress(const QString& name, qint64 done, qint64 total);
    // Whether window events are due, at the pump's pace; letting them run notes a closing
    // program in m_closing instead of throwing.
    bool eventsDue() const;
    void runEvents();
    void setBusy(bool busy);
    void tell(const QString& text, bool done);
    void openFolder();

    Platform& m_platform;
    EventPump& m_pump;
    std::function<Shown()> m_shown;
    QAction* m_saveConversation = nullptr;
    QAction* m_saveArchive = nullptr;
    QToolButton* m_menuButton = nullptr;
    QLabel* m_label = nullptr;
    QProgressBar* m_bar = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_open = nullptr;
    QToolButton* m_dismiss = nullptr;
    QElapsedTimer m_sinceYield;
    QString m_startFolder; // where the folder dialog starts
    QString m_lastArchive;
    bool m_busy = false;
    bool m_stopRequested = false;
    bool m_closing = false; // the program closes
};

} // namespace velmoran
