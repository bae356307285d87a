#pragma once

#include "chat/chat_history.h"
#include "chat/read_progress.h"

#include <QString>

#include <functional>

namespace velmoran {

// Called now and then while a legacy database is read (between steps of SQLite's work and
// between pieces of a copy) with a rough fraction done, never falling: the check of the pages
// is the first part, the messages (by their place in the table) the rest. It may let window
// events run; to stop the read it throws, and the read is abandoned and its exception
// reaches the caller of readLegacyDatabase.
using LegacyReadProgress = ReadProgress;

// Reads the client's legacy local database (main.db, SQLite), showing exactly what is
// committed, as `sqlite3 -readonly` would, never creating anything beside it nor changing the
// database, its journal or its log:
// - a quiet database (no -journal or -wal beside it, not in WAL mode) is read in place as
//   immutable, without locks; if it changes while it is read, it is read again as below;
// - otherwise the database and its -journal/-wal are copied (a copy is taken only when no
//   file changed while it was made) into a private temporary folder, where SQLite rolls back
//   what a killed writer left or takes in the committed frames of the WAL; the folder is
//   removed afterwards. While another program keeps writing, the copy is made under a read of
//   our own, as any reader's: a shared lock in rollback-journal mode, a read transaction of a
//   read-only connection in WAL mode.
// A database cut short or failing SQLite's quick check is told as damaged. Contacts,
// Conversations and Messages must be real tables (not views or virtual tables). SQLite's
// memory is bounded during the read and it needs no temporary files.
//
// Mapping: chats are the Conversations in id order (dialogs with the same partner are one
// chat): dialogs are one-to-one with the partner's handle as peer and "8:" + handle as id,
// groups keep their identity as id, identities of the "28:" form are bots; the name is the
// partner's name from Contacts or Conversations (else the handle), or a group's topic (else
// its members' names, else its id); members are from Participants where it exists. Contacts
// are the partners of the one-to-one chats in chat order, each once. Messages by
// conversation are ordered by time, then id; the sender is from_dispname, or author when that
// is empty; the sender id is the author; the body is body_xml as plain text; times are Unix
// seconds. A message with an impossible time (before 1970 or after 9999) is left out and
// counted in skippedMessages. Invalid UTF-8 becomes U+FFFD; each text value that held any is
// counted in notUtf8Texts. A file that cannot be read fails with the system's reason.
//
// Failures throw velmoran::Failure naming the file and the reason.
ChatHistory readLegacyDatabase(const QString& path, const LegacyReadProgress& progress = {});

} // namespace velmoran
