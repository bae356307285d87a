#pragma once

#include "chat/chat_history.h"

#include <QString>

namespace velmoran {

// Reads the client's legacy local database (main.db, SQLite). It is opened read-only and as
// immutable, so nothing is ever written to it, not even a lock or a journal, and it can be
// read while the old client still has it open.
//
// Mapping: contacts are the Contacts rows (only buddies where the table records that), in
// table order; chats are the Conversations in id order, dialogs with their partner's handle as
// peer and every other kind with an empty one; messages by conversation ordered by time, then
// id; the sender is from_dispname, or author when that is empty; the body is body_xml as
// plain text; times are Unix seconds.
//
// Failures throw velmoran::Failure naming the file and the reason.
ChatHistory readLegacyDatabase(const QString& path);

} // namespace velmoran
