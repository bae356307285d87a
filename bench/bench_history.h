#pragma once

#include "chat/chat_history.h"

#include <QString>

namespace velmoran::bench {

// A generated history for benchmarks, built in memory: one-to-one chats of equal length,
// bodies of 20 to 200 UTF-16 units in several scripts (Latin, Cyrillic, Greek, CJK, Arabic,
// emoji), two shared sender names per chat, rising timestamps from 2015 on. A share of the
// bodies carries the needle word, which nothing else contains in any letter case.
struct HistoryOptions {
    int chats = 500;
    qint64 messages = 1'000'000;
    double needleShare = 0.01;
    quint64 seed = 7;
};

inline const QString Needle = QStringLiteral("Quetzal");

ChatHistoryPtr generateHistory(const HistoryOptions& options);

// Writes the history as an export's messages.json, one message a line (conversations[] with
// id and MessageList[] of from, displayName, originalarrivaltime, content). Answers false
// when the file cannot be written.
bool writeMessagesJson(const ChatHistory& history, const QString& path);

} // namespace velmoran::bench
