#include "chat/archive_open.h"

#include "chat/history_file_error.h"

#include <QFile>

#include <archive.h>

#include <cerrno>
#include <vector>

namespace velmoran {

void ArchiveFree::operator()(archive* reader) const
{
    archive_read_free(reader);
}

namespace {

// The compressions a tar may come in that this library unpacks itself. A filter whose own
// library is missing falls back to an outside program, so each is tried on a scratch reader
// first and only enabled when it needs none (it then answers ARCHIVE_OK, not ARCHIVE_WARN).
void enableInProcessFilters(archive* reader)
{
    using Support = int (*)(archive*);
    static const std::vector<Support> inProcess = [] {
        std::vector<Support> found;
        for (Support support : {archive_read_support_filter_gzip, archive_read_support_filter_bzip2,
                                archive_read_support_filter_xz, archive_read_support_filter_zstd,
                                archive_read_support_filter_lz4}) {
            const ArchiveReader probe(archive_read_new());
            if (probe && support(probe.get()) == ARCHIVE_OK)
                found.push_back(support);
        }
        return found;
    }();
    archive_read_support_filter_none(reader);
    for (Support support : inProcess)
        support(reader);
}

// The compressions a tar may come in, told by their first bytes: those unpacked here, and
// those refused by name (they would need an outside program).
struct Compression {
    QByteArrayView magic;
    const char* name;
    bool unpacked;
};

constexpr Compression compressions[] = {
    {"\x1f\x8b", "gzip", true},
    {"BZh", "bzip2", true},
    {"\xfd"
     "7zXZ",
     "xz", true},
    {"\x28\xb5\x2f\xfd", "zstd", true},
    {"\x04\x22\x4d\x18", "lz4", true},
    {QByteArrayView("\x89LZO\x00\r\n\x1a\n", 9), "lzop", false},
    {"LRZI", "lrzip", false},
    {"GRZipII", "grzip", false},
};

const Compression* compressionOf(QByteArrayView head)
{
    for (const Compression& compression : compressions) {
        if (head.startsWith(compression.magic))
            return &compression;
    }
    return nullptr;
}

// The name of a compression that is refused, told by its first bytes, so that the refusal
// names it instead of calling the file no tar. "" for any other file; a file that cannot be
// read fails with the system's reason.
QString refusedCompressionOf(const QString& path)
{
    const Compression* compression = compressionOf(readHistoryFileHead(path, 16));
    return compression && !compression->unpacked ? QString::fromLatin1(compression->name)
                                                 : QString();
}

} // namespace

void failArchive(const QString& path, archive* reader, const QString& what)
{
    const int error = reader ? archive_errno(reader) : 0;
    const char* detail = reader ? archive_error_string(reader) : nullptr;
    if (error == ENOSPC || error == EIO)
        failToRead(
            path, QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(error))));
    failToRead(path,
               detail ? QStringLiteral("%1 (%2)").arg(what, QString::fromLocal8Bit(detail)) : what);
}

ArchiveReader openHistoryArchive(const QString& path)
{
    const QString refused = refusedCompressionOf(path);
    if (!refused.isEmpty())
        failToRead(path, QStringLiteral(
                             "it is compressed with %1, which is not unpacked here (a tar may be "
                             "compressed with gzip, bzip2, xz, zstd or lz4); unpack it first")
                             .arg(refused));
    ArchiveReader reader(archive_read_new());
    if (!reader)
        failToRead(path, QStringLiteral("there is not enough memory to open it"));
    enableInProcessFilters(reader.get());
    archive_read_support_format_tar(reader.get());
    if (archive_read_open_filename(reader.get(), QFile::encodeName(path).constData(), 1 << 20)
        != ARCHIVE_OK)
        failArchive(path, reader.get(), QStringLiteral("it is no tar archive"));
    return reader;
}

bool looksLikeHistoryArchive(QByteArrayView head)
{
    return (head.size() >= 262 && head.sliced(257, 5) == "ustar") || compressionOf(head);
}

} // namespace velmoran
