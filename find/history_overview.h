#pragma once

#include "chat/chat_history.h"
#include "find/conversation_view.h"

#include <QByteArray>

#include <functional>

namespace velmoran {

// How velmoran-find writes rows: the window's text file, CSV or JSON lines.
enum class OutputFormat { Text, Csv, JsonLines };

// Output as it is produced: append to out, then call flush (false: writing failed, stop).
struct OutputSink {
    QByteArray& out;
    std::function<bool()> flush;
};

// The conversations of the history in its order, one a line: for Text tab-separated id, kind,
// name, message count, first and last message time (UTC, ISO 8601; empty without messages),
// tabs and line breaks in names written as blanks; for Csv and JsonLines the same fields under
// the names conversation, kind, conversation_name, messages, first, last.
bool writeConversationList(const ChatHistory& history, OutputFormat format, OutputSink sink);

// Message counts of the given chats (the messages the filter lets through): per conversation
// and per year (UTC). Text gives two tables a person reads, with totals; Csv and JsonLines a
// row per conversation and year with messages, under the names conversation,
// conversation_name, kind, year, messages.
bool writeStatistics(const std::vector<const HistoryChat*>& chats, const MessageFilter& filter,
                     OutputFormat format, OutputSink sink);

} // namespace velmoran
