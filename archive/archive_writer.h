#pragma once

#include "chat/chat_history.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace velmoran {

// What goes into an archive.
struct ArchiveOptions {
    // Indexes of the chats to archive, in any order; empty: every chat.
    std::vector<size_t> chats;
    std::optional<qint64> sinceMs; // inclusive, UTC milliseconds
    std::optional<qint64> untilMs; // exclusive
    bool media = true;             // false: shared files are named, not copied
};

struct ArchiveSummary {
    qsizetype conversations = 0;
    qsizetype messages = 0;
    qsizetype files = 0; // shared files copied
    qint64 bytes = 0;    // of everything written
};

// Told how many of the messages to write are written; answers false to stop.
using ArchiveProgress = std::function<bool(qint64 done, qint64 total)>;

// Pages of a conversation: a month on one page, or on numbered parts when it holds more than
// this many messages or bytes.
inline constexpr qsizetype MessagesPerPage = 2000;
inline constexpr qint64 BytesPerPage = 1'000'000;
// Conversations on one page of the archive's index, so index.html stays near 200 KB however
// many conversations the history holds.
inline constexpr qsizetype ConversationsPerIndexPage = 1000;

// Writes the archive of a history into folder, which exists and is empty:
//   index.html        every conversation, newest first, with links to each (past 1,000
//                     conversations or 1 MB, on to index-2.html and on)
//   style.css         the one style sheet (light and dark, print), linked relatively
//   search/           the search of index.html: its script and index (archive/search_index.h);
//                     index.html alone may run scripts, and only these
//   stats.html        messages per month, the busiest conversations and people, weekdays and
//                     hours, as inline SVG pictures (archive/stats_page.h)
//   c0001/index.html  a conversation's months with their counts (c0001 is the chat's place in
//                     the history, so folder names never come from the export's text)
//   c0001/2024-11.html, c0001/2024-11-2.html …  a month's messages, with previous and next
//   c0001/conversation.txt  every message as the conversation window copies it, UTF-8
//   media/f000001.jpg …     the shared files, once each, under names the program makes
// Links are all relative and stay within the folder. Pages are written one message at a time,
// so memory does not grow with the archive. Answers nothing when progress asked to stop;
// throws Failure when a file cannot be written or an export cannot be read.
std::optional<ArchiveSummary> writeArchive(const ChatHistory& history, const QString& folder,
                                           const ArchiveOptions& options,
                                           const ArchiveProgress& progress = {});

} // namespace velmoran
