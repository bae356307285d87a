#pragma once

#include "chat/chat_history.h"
#include "chat/read_progress.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace velmoran {

class MessageSieve;

// What a history file holds, told by its first bytes, never by its name.
enum class HistoryFileKind { ExportArchive, ExportJson, LegacyDatabase };

// Throws velmoran::Failure naming the file when it cannot be opened or read (with the system's
// reason), is empty or is none of the three kinds.
HistoryFileKind sniffHistoryFile(const QString& path);

// Reads any history file, whatever its kind. Throws velmoran::Failure naming file and reason.
// progress, when set, is told how far the read has come (for a legacy database a rough
// fraction: the check of its pages, then its messages by their place in the table). sieve,
// when set, is asked which messages to keep (the legacy database keeps them all). The history
// comes with one name per person (indexPeople, chat/person_names.h).
ChatHistory readHistoryFile(const QString& path, const ReadProgress& progress = {},
                            MessageSieve* sieve = nullptr);

// Merges histories read from several files into one: each contact once, in order of first
// appearance; one chat per one-to-one partner, and one per id for the other chats, holding
// the messages of every source in time order (ties keep source order). A message that another
// source holds as well is kept once: the same chat, sender, body and second (the legacy
// database keeps whole seconds). The sender is the same when both copies know its id and the
// ids are equal, or, where a copy lacks the id, when its name is the other's id or name. The
// kept copy takes what only the other holds (the sender's id and name, a shared file). A
// merged chat has the first source's id, name, kind and members, empty ones (and a name that
// is only the handle or id) filled from later sources. Skipped messages and texts that held
// bytes that are not UTF-8 add up. The own user is the first source's that names one, and each
// person's one name is taken from the merged messages.
ChatHistory mergeHistories(const std::vector<ChatHistoryPtr>& sources);

// The history files found without being named: exports ("…_export.tar") in the download
// folder, newest first, and legacy databases (main.db) in the old client's profile folders
// under home.
QStringList discoverHistoryFiles(const QString& downloadFolder, const QString& homeFolder);

// The same for this user: the download folder and the home folder of the desktop.
QStringList discoverUserHistoryFiles();

// What a HISTORY argument of the command-line programs may name, for their help texts.
QString historyArgumentHelp();

// Keeps the history of a set of files loaded between commands. Each load looks at the files
// again and re-reads only a file whose size or modification time changed, so commands after
// the first reuse the loaded history.
class HistoryLoader {
public:
    using Discovery = std::function<QStringList()>;
    using Report = std::function<void(const QString& description)>;

    // files: the files named by the user. When there are none, discover is asked for files
    // at every load.
    explicit HistoryLoader(QStringList files, Discovery discover = {});

    // A file given during the session (dropped on the window): read from the next load on.
    void addFile(const QString& path);

    // The files the next load reads.
    QStringList files() const;

    // Called with the failure's description for every file that cannot be read; such a file
    // contributes nothing (the description names the file and the reason).
    void setReport(Report report) { m_report = std::move(report); }

    // Called each time a file is read that had messages its reader left out, with one
    // sentence naming the file, how many were left out and which was the first. When texts of
    // the file held bytes that are not UTF-8, a sentence telling how many follows, or is the
    // notice alone.
    void setNotice(Report notice) { m_notice = std::move(notice); }

    // Told how far a load that reads files has come, over all the files it reads (by their
    // size), ending at 1. A load that reuses what was read tells nothing. The function may let
    // window events run and may throw to stop the load; the files not read yet are read at
    // the next load.
    void setProgress(ReadProgress progress) { m_progress = std::move(progress); }

    // A load that reads a single file asks sieve which of its messages to keep (see
    // MessageSieve); loads of several files keep every message, as merging them compares
    // messages across files. A history read through the sieve is read again at the next load.
    void setSieve(MessageSieve* sieve) { m_sieve = sieve; }

    // The history of every readable file, merged; null when there is none.
    ChatHistoryPtr load();

private:
    struct Entry {
        QString path;
        qint64 size = -1;
        QDateTime modified;
        ChatHistoryPtr history;
        QString failure;
        bool sieved = false;
    };
    bool isCurrent(const QString& path) const;
    const Entry& entryFor(const QString& path, const ReadProgress& progress, MessageSieve* sieve);

    QStringList m_named;
    QStringList m_added;
    Discovery m_discover;
    Report m_report;
    Report m_notice;
    ReadProgress m_progress;
    MessageSieve* m_sieve = nullptr;
    std::vector<Entry> m_entries;
    std::vector<ChatHistoryPtr> m_mergedFrom;
    ChatHistoryPtr m_merged;
};

} // namespace velmoran
