#pragma once

#include <QByteArrayView>
#include <QString>

#include <memory>

struct archive;

namespace velmoran {

struct ArchiveFree {
    void operator()(archive* reader) const;
};
using ArchiveReader = std::unique_ptr<archive, ArchiveFree>;

// Opens a tar archive from the chat history for reading, plain or compressed with one of the
// compressions this library unpacks itself (gzip, bzip2, xz, zstd, lz4). Every archive the
// program reads is opened here: libarchive would otherwise hand other compressions (lzop,
// lrzip, grzip, uuencoded data, …) to an outside program found through PATH, which a
// downloaded file must never start. Throws Failure naming the file when it cannot be opened,
// is compressed in another way, or is no tar.
ArchiveReader openHistoryArchive(const QString& path);

// Whether a file's first bytes (up to 512 of them) are those of a tar: a plain tar's header,
// or the start of one of the compressions above or of one that openHistoryArchive refuses by
// name (lzop, lrzip, grzip).
bool looksLikeHistoryArchive(QByteArrayView head);

// Throws Failure naming the archive at path: what went wrong, with libarchive's own detail
// (a disk error by its system text).
[[noreturn]] void failArchive(const QString& path, archive* reader, const QString& what);

} // namespace velmoran
