#pragma once

#include "chat/chat_history.h"
#include "chat/export_time.h"
#include "chat/read_progress.h"

#include <QByteArrayView>
#include <QString>

#include <string_view>

namespace velmoran {

class MessageSieve;

// Reads the client's data export: the .tar as downloaded or a messages.json of its own.
// Nothing is extracted to disk. A messages.json of its own and that of an uncompressed tar are
// parsed in place from a read-only mapping of the file; a compressed tar's is unpacked into
// memory. A file that changes or is cut short while it is read is refused.
//
// Mapping: one contact per one-to-one conversation ("8:" ids) in file order; every
// conversation becomes a chat with its id, kind (by the id's prefix), name and members,
// one-to-one ones with the partner's handle as peer, the others with an empty peer; messages
// ordered by arrival time (ties in file order); the sender is the message's display name, or
// its sender id when that is missing; text message bodies become plain text, every other kind
// of message gets an empty body; file messages name their file.
//
// One bad message does not spoil a history: an escape that names no character and bytes that
// are no UTF-8 become U+FFFD (each JSON string that held such bytes is counted in
// notUtf8Texts), and a message without a possible time (1970 to 9999) is left out, counted in
// skippedMessages and, for the first one, described in firstSkipped.
// A tar compressed in a way that would need an outside program to unpack is refused.
//
// Failures throw velmoran::Failure naming the file and the reason (see history_file_error.h).
// progress, when set, is told how far the read has come, ending at 1. sieve, when set, is asked
// which messages to keep.
ChatHistory readExportArchive(const QString& path, const ReadProgress& progress = {},
                              MessageSieve* sieve = nullptr);
ChatHistory readExportJson(const QString& path, const ReadProgress& progress = {},
                           MessageSieve* sieve = nullptr);

// Parses messages.json held in memory; fileName only names it in failures.
ChatHistory parseExportJson(QByteArrayView json, const QString& fileName);

// The same, reading the document in windows of windowBytes rather than the usual megabyte (a
// window that holds no whole message or conversation is read again at twice its size), or, for
// 0, as one document without windows. The history and any failure are the same either way;
// tests use small windows to put their ends everywhere.
ChatHistory parseExportJsonInWindows(QByteArrayView json, const QString& fileName,
                                     size_t windowBytes, MessageSieve* sieve = nullptr);

} // namespace velmoran
