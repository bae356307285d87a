#include "chat/legacy_db_reader.h"

#include "chat/history_file_error.h"
#include "chat/legacy_db_tables.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace velmoran {

namespace {

// SQLite's own memory during a read: its page cache, the quick check and the rows in flight.
// The history itself is held by Qt strings outside of it.
constexpr qint64 heapSoftLimit = 64 << 20;
constexpr qint64 heapHardLimit = 512 << 20;
constexpr int snapshotAttempts = 8;

// What stat() tells of a file; equal states mean no one wrote to or replaced it in between.
struct FileState {
    bool exists = false;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    quint64 inode = 0;
    bool operator==(const FileState&) const = default;
};

FileState stateOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return {true, qint64(info.st_size),
            qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
            qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec, quint64(info.st_ino)};
}

// The database and the files a writer keeps beside it.
struct DatabaseFiles {
    FileState database, journal, wal;
    bool operator==(const DatabaseFiles&) const = default;
};

DatabaseFiles filesOf(const QString& path)
{
    return {stateOf(path), stateOf(path + QStringLiteral("-journal")),
            stateOf(path + QStringLiteral("-wal"))};
}

// The 32-byte header of a write-ahead log: its salts change whenever the log starts over.
QByteArray walHeaderOf(const QString& path)
{
    QFile wal(path + QStringLiteral("-wal"));
    return wal.open(QIODevice::ReadOnly) ? wal.read(32) : QByteArray();
}

// True when a copy made between two looks at the files holds one committed state. The database
// and a rollback journal must not have changed at all. A write-ahead log may only have grown
// (frames appended by later commits): SQLite ignores the frames after the last complete commit
// of a copy, so a copied prefix of the same log is a committed state too.
bool copyIsConsistent(const DatabaseFiles& before, const DatabaseFiles& after,
                      const QByteArray& walHeaderBefore, const QByteArray& walHeaderAfter)
{
    if (after.database != before.database || after.journal != before.journal)
        return false;
    if (after.wal == before.wal)
        return true;
    return before.wal.exists && after.wal.exists && after.wal.inode == before.wal.inode
           && after.wal.size >= before.wal.size && walHeaderAfter == walHeaderBefore;
}

// Bounds SQLite's heap for the time of a read and restores the bounds before.
class HeapBound {
public:
    HeapBound()
        : m_hard(sqlite3_hard_heap_limit64(-1))
        , m_soft(sqlite3_soft_heap_limit64(-1))
    {
        if (m_hard <= 0 || m_hard > heapHardLimit)
            sqlite3_hard_heap_limit64(heapHardLimit);
        if (m_soft <= 0 || m_soft > heapSoftLimit)
            sqlite3_soft_heap_limit64(heapSoftLimit);
    }
    ~HeapBound()
    {
        sqlite3_hard_heap_limit64(m_hard);
        sqlite3_soft_heap_limit64(m_soft);
    }
    HeapBound(const HeapBound&) = delete;
    HeapBound& operator=(const HeapBound&) = delete;

private:
    sqlite3_int64 m_hard;
    sqlite3_int64 m_soft;
};

class LegacyReader {
public:
    // A read made again (the file changed meanwhile) tells again from 0: the caller is told no
    // less than before.
    LegacyReader(QString path, const LegacyReadProgress& progress)
        : m_path(std::move(path))
    {
        if (progress)
            m_progress = [this, &progress](double done) {
                m_told.raise(done);
                progress(m_told.level());
            };
    }

    ChatHistory read()
    {
        if (!QFileInfo(m_path).isFile())
            fail(QStringLiteral("there is no such file"));
        // A file that cannot be read is told so here, not later as a database without tables.
        const bool walMode = legacyDbHeaderOf(readHistoryFileHead(m_path, 100)).walMode;
        const HeapBound bound;
        const DatabaseFiles before = filesOf(m_path);
        if (!before.journal.exists && !before.wal.exists && !walMode) {
            std::optional<ChatHistory> history;
            std::optional<Failure> failure;
            try {
                history = readLegacyDbTables(m_path, m_path, true, m_progress);
            } catch (const Failure& f) {
                failure = f;
            }
            // Read while no one wrote: what was read is what is committed.
            if (filesOf(m_path) == before) {
                if (failure)
                    throw *failure;
                return std::move(*history);
            }
        }
        return readSnapshot();
    }

private:
    [[noreturn]] void fail(const QString& reason) const { failToRead(m_path, reason); }

    void tick() const
    {
        if (m_progress)
            m_progress(0);
    }

    // Copies a file in pieces, as long as it was when the copy began (a log that a writer keeps
    // appending to would otherwise never be done); false when it vanished in between.
    bool copy(const QString& from, const QString& to) const
    {
        QFile source(from);
        if (!source.open(QIODevice::ReadOnly))
            return false;
        QFile target(to);
        if (!target.open(QIODevice::WriteOnly))
            fail(QStringLiteral("no copy can be made in the temporary folder (%1)")
                     .arg(target.errorString()));
        QByteArray piece(4 << 20, Qt::Uninitialized);
        for (qint64 left = source.size(); left > 0;) {
            const qint64 got = source.read(piece.data(), std::min<qint64>(piece.size(), left));
            if (got < 0)
                fail(QStringLiteral("it cannot be copied (%1)").arg(source.errorString()));
            if (got == 0)
                break;
            if (target.write(piece.constData(), got) != got)
                fail(QStringLiteral("no copy can be made in the temporary folder (%1)")
                         .arg(target.errorString()));
            left -= got;
            tick();
        }
        return true;
    }

    // A database in rollback-journal mode that a writer keeps changing: its own shared lock
    // holds the writer back for as long as the copy takes, as any reader's would. Answers
    // false, leaving copyPath to the caller, when the lock cannot be had (a hot journal that a
    // read-only connection may not roll back, a writer that holds on too long).
    bool copyUnderSharedLock(const QString& copyPath) const
    {
        const Database reading = beginReading();
        if (!reading)
            return false;
        const DatabaseFiles before = filesOf(m_path);
        return !before.journal.exists && copy(m_path, copyPath)
               && filesOf(m_path).database == before.database;
    }

    // A read-only connection to the database with a read transaction begun, as any reader's:
    // it never checkpoints, and closing it ends the read and removes nothing. Null when the
    // database cannot be opened or read within a while.
    Database beginReading() const
    {
        const QByteArray uri = QUrl::fromLocalFile(m_path).toEncoded() + "?mode=ro";
        sqlite3* db = nullptr;
        const int opened =
            sqlite3_open_v2(uri.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
        Database reading(db);
        if (opened != SQLITE_OK)
            return nullptr;
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        sqlite3_busy_timeout(db, 2000);
        if (sqlite3_exec(db, "BEGIN; SELECT count(*) FROM sqlite_master;", nullptr, nullptr,
                         nullptr)
            != SQLITE_OK)
            return nullptr;
        return reading;
    }

    // A database in write-ahead-log mode that a writer keeps changing (its log and the log's
    // index, the -shm file, exist): copied while a read transaction of our own is open on it,
    // as any reader's would be. While it is open the writer cannot start the log over, and a
    // checkpoint copies into the database only frames up to our snapshot, pages the copied
    // log holds anyway; so the copy holds our snapshot or a later commit, never a mix.
    bool copyUnderWalReadTransaction(const QString& copyPath) const
    {
        if (!stateOf(m_path + QStringLiteral("-wal")).exists
            || !stateOf(m_path + QStringLiteral("-shm")).exists)
            return false;
        const Database reading = beginReading();
        if (!reading)
            return false;
        const DatabaseFiles before = filesOf(m_path);
        const QByteArray walHeaderBefore = walHeaderOf(m_path);
        if (!before.wal.exists || walHeaderBefore.size() < 32 || !copy(m_path, copyPath)
            || !copy(m_path + QStringLiteral("-wal"), copyPath + QStringLiteral("-wal")))
            return false;
        const DatabaseFiles after = filesOf(m_path);
        if (after.wal.exists && after.wal.inode == before.wal.inode
            && after.wal.size >= before.wal.size && walHeaderOf(m_path) == walHeaderBefore)
            return true;
        // The log started over: only possible when our snapshot was the database file alone
        // (the log fully checkpointed), which no checkpoint may change while we read it.
        return after.database == before.database
               && QFile::remove(copyPath + QStringLiteral("-wal"));
    }

    ChatHistory readSnapshot() const
    {
        const bool walMode = readLegacyDbHeader(m_path).walMode;
        for (int attempt = 0; attempt < snapshotAttempts; ++attempt) {
            if (attempt > 0)
                QThread::msleep(20UL << std::min(attempt, 5));
            // Under a read lock of our own no writer changes the file; a writer in the middle
            // of a transaction (its journal there) is waited for at the next attempt.
            if (!walMode) {
                QTemporaryDir folder;
                const QString copyPath = folder.filePath(QStringLiteral("main.db"));
                if (folder.isValid() && copyUnderSharedLock(copyPath))
                    return readLegacyDbTables(m_path, copyPath, false, m_progress);
            }
            // A plain copy went wrong once: a writer is busy, so copy under a read of our own.
            if (attempt == 1 && walMode) {
                QTemporaryDir folder;
                const QString copyPath = folder.filePath(QStringLiteral("main.db"));
                if (folder.isValid() && copyUnderWalReadTransaction(copyPath))
                    return readLegacyDbTables(m_path, copyPath, false, m_progress);
            }
            QTemporaryDir folder;
            if (!folder.isValid())
                fail(QStringLiteral("no temporary folder can be made for a copy (%1)")
                         .arg(folder.errorString()));
            const QString copyPath = folder.filePath(QStringLiteral("main.db"));
            const DatabaseFiles before = filesOf(m_path);
            if (!before.database.exists)
                fail(QStringLiteral("there is no such file"));
            const QByteArray walHeaderBefore = walHeaderOf(m_path);
            bool complete = copy(m_path, copyPath);
            if (complete && before.journal.exists)
                complete = copy(m_path + QStringLiteral("-journal"),
                                copyPath + QStringLiteral("-journal"));
            if (complete && before.wal.exists)
                complete = copy(m_path + QStringLiteral("-wal"), copyPath + QStringLiteral("-wal"));
            // A copy made while a writer wrote may mix two states: made again.
            if (!complete
                || !copyIsConsistent(before, filesOf(m_path), walHeaderBefore, walHeaderOf(m_path)))
                continue;
            return readLegacyDbTables(m_path, copyPath, false, m_progress);
        }
        fail(QStringLiteral(
            "another program kept writing to it while it was copied; try again when that program "
            "has finished"));
    }

    QString m_path;
    LegacyReadProgress m_progress;
    ProgressScale m_told;
};

} // namespace

ChatHistory readLegacyDatabase(const QString& path, const LegacyReadProgress& progress)
{
    return LegacyReader(path, progress).read();
}

} // namespace velmoran
