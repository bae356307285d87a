#pragma once

#include "chat/read_progress.h"

#include <QString>

#include <simdjson.h>

namespace velmoran {

class MappedFile;

// The messages.json of an export's tar: unpacked into memory (json), or, for an uncompressed
// tar when asked for, located in the file (inPlace, from offset on, size bytes).
struct ExportArchiveMember {
    simdjson::padded_string json;
    bool inPlace = false;
    qint64 offset = 0;
    size_t size = 0;
};

// Opens the tar at path (openHistoryArchive) and finds its messages.json. An uncompressed
// tar's is only located when inPlace is asked for; otherwise it is read into one padded
// buffer, telling progress how much of the file has been read, placed on scale. When the tar
// holds messages.json more than once (an update appended to it), the last copy counts, as it
// would after unpacking. Throws Failure naming the file when the tar cannot be read, holds no
// messages.json, or holds it as a link or anything but a file.
ExportArchiveMember readExportArchiveMember(const QString& path, bool inPlace,
                                            const ReadProgress& progress, ProgressScale scale);

// Whether a member said to start at offset, size bytes long, lies in the mapped tar: right
// after a tar header block and within the file.
bool memberFitsMapping(const MappedFile& map, qint64 offset, size_t size);

} // namespace velmoran
