#pragma once

#include "chat/chat_history.h"

#include <QHash>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace velmoran {

class EventPump;
struct Platform;
struct SharedFileMember;

// Hands a file taken out of the chat history to the desktop's default application. A file the
// desktop may run (a launcher, script, program, installer, web page, …, told by its name or its
// content) is handed over only when the user, told where it came from, says so, unless agreed
// says the user already has. Answers whether it was handed over. Every file from a history
// reaches the desktop through here. When the desktop cannot open it (no application for it),
// the user is told, over the window the dialogs were modal to when it was asked.
bool openFileFromHistory(Platform& platform, const QString& path, bool agreed = false);

// Asks whether to open the file name of a kind that may run something; true without asking
// when kind is "".
bool mayOpenFromHistory(Platform& platform, const QString& name, const QString& kind);

// What the desktop would take the file at path for, when opening it may run something: the
// type's description ("shell script"); "" for a file it only shows. By its name alone, or by
// its content too (the file must then exist).
QString runnableKind(const QString& path, bool byContent = true);

// Takes shared files out of the export that holds a copy and opens them, showing the progress
// of a long take-out with a Stop button (this widget: hidden while idle). Each file goes into a
// folder of its own under the temporary folder, readable by the user only, and stays there
// after the program ends (a viewer may still be reading it); the next start removes those
// more than a day old. A file taken out once is opened again from its copy.
class SharedFileOpener final : public QWidget {
    Q_OBJECT
public:
    SharedFileOpener(Platform& platform, EventPump& pump, QWidget* parent = nullptr);

    // Opens the file message shared, from the first export archive of history that holds a
    // copy. Window events run while it is taken out; a second request meanwhile is ignored.
    // Tells the user, through the platform's dialogs, why nothing was opened.
    void open(const ChatHistoryPtr& history, const HistoryMessage& message);
    // Ends a take-out in progress; the partial file is removed.
    void stop() { m_stopRequested = true; }
    bool isBusy() const { return m_busy; }
    // The folder the last file was taken out to, or "".
    QString lastFolder() const { return m_lastFolder; }

    // A take-out larger than this is asked for first.
    static constexpr qint64 AskAboveBytes = qint64(256) << 20;
    // Room left free on the disk after a take-out.
    static constexpr qint64 SpareBytes = qint64(64) << 20;

private:
    // The path of the taken-out copy; "" when it was not taken out (refused, stopped).
    QString takeOut(const QString& archive, const SharedFileMember& member, const SharedFile& file,
                    const QString& name, const QString& shownName);
    bool showProgress(qint64 done, qint64 total);

    Platform& m_platform;
    EventPump& m_pump;
    QLabel* m_label = nullptr;
    QProgressBar* m_bar = nullptr;
    QPushButton* m_stop = nullptr;
    QHash<QString, QString> m_takenOut; // the copy of each member taken out, by archive and name
    QString m_lastFolder;
    bool m_busy = false;
    bool m_stopRequested = false;
};

// The folders that earlier take-outs left under temporaryFolder, once they can no longer be
// in use: last changed more than a day before now. Only folders of ours are touched (named as
// take-outs name them, owned by this user, holding nothing but files). Never fails.
int removeStaleSharedFileFolders(const QString& temporaryFolder, const QDateTime& now);

} // namespace velmoran
