#pragma once

#include "chat/chat_history.h"
#include "chat/legacy_db_reader.h"

#include <QByteArray>
#include <QString>

#include <memory>

struct sqlite3;

namespace velmoran {

struct CloseDatabase {
    void operator()(sqlite3* db) const;
};
// An open SQLite connection, closed when it goes.
using Database = std::unique_ptr<sqlite3, CloseDatabase>;

// The part of the 100-byte database header that tells the mode and the size.
struct LegacyDbHeader {
    bool sqlite = false;
    bool walMode = false;
    qint64 pageSize = 0;
    qint64 pageCount = 0; // 0 when the header does not vouch for it
};

// The header as bytes tells it; all false and 0 for bytes that are no SQLite header.
LegacyDbHeader legacyDbHeaderOf(const QByteArray& bytes);
// The header of the file at path; all false and 0 when it cannot be read.
LegacyDbHeader readLegacyDbHeader(const QString& path);

// Reads the history out of one database file with SQLite (see readLegacyDatabase for the
// mapping). pathForUser names the database in failures; file is what is opened: the database
// itself in place (inPlace, as immutable, without locks), or a private copy in which SQLite
// may roll back and check point. Throws Failure naming pathForUser, or lets through what
// progress throws.
ChatHistory readLegacyDbTables(const QString& pathForUser, const QString& file, bool inPlace,
                               const LegacyReadProgress& progress);

} // namespace velmoran
