#pragma once

#include "chat/chat_history.h"

#include <QIODevice>
#include <QStringList>

namespace velmoran {

// velmoran-archive: the whole history as a folder of HTML pages and plain text that needs no
// program to read (archive/archive_writer.h).
//
//   velmoran-archive [OPTION]... DIR [--sample | HISTORY...]
//
// Runs with the given arguments (the program's name first). The summary line, or the help and
// version texts, go to output; errors go to errors, one line each, and so does a progress bar
// when terminal is true. Both devices are handed over not yet open. DIR must be new, an empty
// folder or an archive this program wrote, which is then replaced whole; on any failure or a
// stop (stopArchiveOnSignals) DIR is left as it was. Answers 0 on success, 2 on an error.
int runArchive(const QStringList& arguments, QIODevice& output, QIODevice& errors,
               bool terminal = false);

// Lets SIGINT, SIGTERM and SIGHUP stop a run at its next message, so that it removes what it
// wrote, rather than end the process where it stands.
void stopArchiveOnSignals();

} // namespace velmoran
