#pragma once

#include "chat/chat_history.h"

#include <QXmlStreamReader>

#include <memory>
#include <string>
#include <string_view>

namespace velmoran {

class TextArena;

// What each reader knows of a message beyond its sender, time and body, and how it becomes the
// message's kind and kept markup (HistoryMessage::kind, ::markup). The body and the file are
// set by the readers as before; nothing here changes them.

// The last path segment of a URIObject's uri ("…/objects/0-weu-d3-abc" → "0-weu-d3-abc").
QString objectIdOfUri(QStringView uri);

// The file a file message shares, read from its URIObject markup; null when it has none. What
// follows a flaw in the markup is not read, but what came before it is kept. xml is a reader
// to reuse (making one for each message costs more than reading the markup).
std::shared_ptr<const SharedFile> sharedFileOf(std::string_view content, QXmlStreamReader& xml);

// An export message: its "messagetype", "content" and what its "properties" tell.
struct ExportMessageFacts {
    std::string_view type;
    std::string_view content;
    bool deleteTold = false; // "deletetime" is present
    bool editTold = false;   // "edittime" is present
    qint64 editedMs = -1;    // "edittime" as UTC milliseconds; -1 when it is no time
};

// Sets message.kind and message.markup from an export message; the markup is kept in arena.
// scratch is working space the caller reuses.
void mapExportMessage(const ExportMessageFacts& facts, HistoryMessage& message, TextArena& arena,
                      std::string& scratch);

// A row of the old database's Messages table: the columns that tell what the message is.
struct LegacyMessageFacts {
    int type = -1;         // "type"; -1 when the table has none or it is NULL
    std::string_view body; // "body_xml"
    std::string_view author;
    std::string_view identities; // "identities": the members an event names, space-separated
    qint64 editedSeconds = 0;    // "edited_timestamp"; 0 when never edited
};

// Sets message.kind and message.markup from a database row; the markup is kept in arena.
void mapLegacyMessage(const LegacyMessageFacts& facts, HistoryMessage& message, TextArena& arena,
                      std::string& scratch);

} // namespace velmoran
