#pragma once

#include <QString>

class QIODevice;

namespace velmoran {

class ErrorReporter;
class EventPump;
class TextTable;

// Where a long export shows how far it is: a value (0 to 100, may be fractional or above 100)
// and a text.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void setValue(double value) = 0;
    virtual void setText(const QString& text) = 0;
};

// The file name part of a path: the text after its last separator ("\" or "/"), or the whole
// path when it holds none.
QString FileNameFromPath(const QString& path);

// Writes the list as column-aligned text: a header line, then one line per ticked row; every
// cell is padded with blanks to its column's width and followed by a tab; lines end in CR LF;
// UTF-8 without byte-order mark. Failures are reported under "Main.SaveListviewProperlySpaced".
//
// The file is replaced only when it has been written whole: the text goes to a temporary file
// beside it that takes its place at the end. Any failure (the file cannot be created, a write
// fails, the disk is full) is reported once, leaves an existing file as it was, and answers
// false. progress and pump may be null (no progress, no events).
bool SaveListviewProperlySpaced(const TextTable& list, const QString& path, ProgressSink* progress,
                                EventPump* pump, ErrorReporter& reporter);

// The same over a device that is not yet open; path names it in messages and progress texts.
// A QSaveFile is committed at the end, any other device closed.
bool SaveListviewProperlySpaced(const TextTable& list, QIODevice& device, const QString& path,
                                ProgressSink* progress, EventPump* pump, ErrorReporter& reporter);

} // namespace velmoran
