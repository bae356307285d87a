#include "chat/shared_file_archive.h"

#include "chat/archive_open.h"
#include "chat/history_file_error.h"
#include "core/failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>

namespace velmoran {

namespace {

// Calls visit(name, entry) for every member until it answers false. With pace, which is called
// between pieces of the work and answers false to stop, the data of a compressed archive's
// members passed over is read block by block rather than skipped in one call that may take
// seconds. Answers false when pace stopped it.
template <typename Visit>
bool walkArchive(const QString& path, archive* reader, Visit&& visit,
                 const std::function<bool()>& pace = {})
{
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader, &entry);
        if (status == ARCHIVE_EOF)
            return true;
        if (status < ARCHIVE_WARN)
            failArchive(path, reader, QStringLiteral("it is no tar archive or it is damaged"));
        const char* raw = archive_entry_pathname_utf8(entry);
        if (!raw)
            raw = archive_entry_pathname(entry);
        const QString name = raw ? QString::fromUtf8(raw) : QString();
        if (!visit(name, entry))
            return true;
        if (!pace)
            continue;
        if (!pace())
            return false;
        if (archive_filter_count(reader) > 1) {
            const void* block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            while (archive_read_data_block(reader, &block, &size, &offset) == ARCHIVE_OK) {
                if (!pace())
                    return false;
            }
        }
    }
}

bool isRegularFile(archive_entry* entry)
{
    return archive_entry_filetype(entry) == AE_IFREG && archive_entry_hardlink(entry) == nullptr
           && archive_entry_symlink(entry) == nullptr;
}

// The part of a member name after its media folder, or "" when it lies in none.
QStringView underMediaFolder(QStringView name)
{
    qsizetype start = 0;
    for (;;) {
        const qsizetype slash = name.indexOf(u'/', start);
        if (slash < 0)
            return {};
        if (name.sliced(start, slash - start).compare(u"media", Qt::CaseInsensitive) == 0)
            return name.sliced(slash + 1);
        start = slash + 1;
    }
}

QStringView baseName(QStringView path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? path : path.sliced(slash + 1);
}

// Whether an object id that ends at position end of a name ends there as a whole: followed by
// "." (of the copy's numbering or extension) or by nothing.
bool idEndsAt(QStringView name, qsizetype end)
{
    return end == name.size() || name[end] == u'.';
}

bool holdsId(QStringView name, QStringView id)
{
    for (qsizetype at = name.indexOf(id); at >= 0; at = name.indexOf(id, at + 1)) {
        if (idEndsAt(name, at + id.size()))
            return true;
    }
    return false;
}

} // namespace

SharedFileMember findSharedFileMember(const QString& archivePath, const SharedFile& file,
                                      const std::function<bool()>& pace)
{
    if (file.objectId.isEmpty() && file.fileName.isEmpty())
        return {};
    const ArchiveReader reader = openHistoryArchive(archivePath);
    // Better matches have lower ranks: the object id at the start, anywhere, the file's name.
    int bestRank = 3;
    SharedFileMember best;
    auto visit = [&](const QString& name, archive_entry* entry) {
        if (!isRegularFile(entry))
            return true;
        const QStringView inMedia = underMediaFolder(name);
        const QStringView base = baseName(inMedia);
        if (base.isEmpty())
            return true;
        int rank = 3;
        if (!file.objectId.isEmpty()) {
            if (base.startsWith(file.objectId) && idEndsAt(base, file.objectId.size()))
                rank = 0;
            else if (holdsId(base, file.objectId))
                rank = 1;
        }
        if (rank == 3 && !file.fileName.isEmpty() && base == file.fileName)
            rank = 2;
        if (rank < bestRank) {
            bestRank = rank;
            best.name = name;
            best.size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
        }
        return bestRank > 0;
    };
    if (!walkArchive(archivePath, reader.get(), visit, pace))
        return {};
    return best;
}

namespace {

[[noreturn]] void failToWrite(const QString& path, const QString& reason)
{
    throw Failure(QStringLiteral("The file \"%1\" cannot be written: %2.")
                      .arg(QDir::toNativeSeparators(path), reason));
}

// Where the data of a member goes, block by block: offset and bytes; answers false when it
// cannot take them.
using MemberSink = std::function<bool(qint64 offset, const char* data, qint64 size)>;

// Reads the data of the regular file member into sink, telling progress. Answers whether the
// data came whole (false: progress asked to stop, or the member is larger than largest);
// total is set to the member's size.
bool readMember(const QString& archivePath, const QString& member, qint64 largest,
                const MemberSink& sink, const TakeOutProgress& progress, qint64& total)
{
    const ArchiveReader reader = openHistoryArchive(archivePath);
    bool found = false;
    bool whole = false;
    walkArchive(archivePath, reader.get(), [&](const QString& name, archive_entry* entry) {
        if (name != member || !isRegularFile(entry))
            return true;
        found = true;
        if (!archive_entry_size_is_set(entry) || archive_entry_size(entry) < 0)
            failToRead(
                archivePath,
                QStringLiteral("the size of its copy of \"%1\" is not recorded").arg(member));
        total = archive_entry_size(entry);
        if (total > largest)
            return false;
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        qint64 end = 0;
        for (;;) {
            const int status = archive_read_data_block(reader.get(), &block, &size, &offset);
            if (status == ARCHIVE_EOF)
                break;
            if (status < ARCHIVE_WARN)
                failArchive(archivePath, reader.get(),
                            QStringLiteral("its copy of \"%1\" cannot be unpacked").arg(member));
            if (offset < 0 || qint64(size) > total || offset > total - qint64(size))
                failToRead(archivePath,
                           QStringLiteral("its copy of \"%1\" is damaged").arg(member));
            // Blocks come in order; a gap between them is a hole of a sparse member.
            if (size > 0 && !sink(offset, static_cast<const char*>(block), qint64(size)))
                return false;
            end = std::max(end, qint64(offset) + qint64(size));
            if (progress && !progress(end, total))
                return false;
        }
        // A sparse member may end in a hole; a plain one must have brought all its bytes.
        if (end < total && archive_entry_sparse_count(entry) == 0)
            failToRead(archivePath,
                       QStringLiteral("its copy of \"%1\" ends before its end").arg(member));
        whole = true;
        return false;
    });
    if (!found)
        failToRead(archivePath, QStringLiteral("it holds no file \"%1\"").arg(member));
    return whole;
}

} // namespace

bool extractArchiveMember(const QString& archivePath, const QString& member,
                          const QString& destinationPath, const TakeOutProgress& progress)
{
    auto cannotWrite = [&](const QFileDevice& file) {
        failToWrite(destinationPath, file.errorString());
    };
    // A name of its own, short whatever the final name's length; created readable and writable
    // by the owner only, and removed unless it becomes the file.
    QTemporaryFile out(QFileInfo(destinationPath).path() + QStringLiteral("/.partial-XXXXXX"));
    if (!out.open())
        cannotWrite(out);
    qint64 total = 0;
    const bool whole = readMember(
        archivePath, member, std::numeric_limits<qint64>::max(),
        [&](qint64 offset, const char* data, qint64 size) {
            // A hole of a sparse member stays a hole.
            if (out.pos() != offset && !out.seek(offset))
                cannotWrite(out);
            if (out.write(data, size) != size)
                cannotWrite(out);
            return true;
        },
        progress, total);
    if (!whole)
        return false;
    if (!out.resize(total) || !out.flush())
        cannotWrite(out);
    out.setAutoRemove(false);
    QFile::remove(destinationPath);
    if (!out.rename(destinationPath)) {
        const QString reason = out.errorString();
        out.remove();
        failToWrite(destinationPath, reason);
    }
    return true;
}

QByteArray readArchiveMember(const QString& archivePath, const QString& member, qint64 largest,
                             const TakeOutProgress& progress)
{
    QByteArray data;
    qint64 total = 0;
    const bool whole = readMember(
        archivePath, member, largest,
        [&](qint64 offset, const char* bytes, qint64 size) {
            if (data.size() < offset)
                data.resize(offset, '\0');
            data.truncate(offset);
            data.append(bytes, size);
            return true;
        },
        progress, total);
    if (!whole)
        return {};
    data.resize(total, '\0');
    return data;
}

QString withoutFormatCharacters(const QString& text)
{
    QString kept;
    kept.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        qsizetype units = 1;
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            units = 2;
        }
        if (QChar::category(c) != QChar::Other_Format || c == 0x200C || c == 0x200D)
            kept += QStringView(text).sliced(i, units);
        i += units - 1;
    }
    return kept;
}

namespace {

// The longest start of text, whole characters only, that takes at most maxBytes of UTF-8.
QString utf8Prefix(const QString& text, qsizetype maxBytes)
{
    qsizetype bytes = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const bool pair =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const char16_t c = text[i].unicode();
        const qsizetype size = pair ? 4 : c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        if (bytes + size > maxBytes)
            break;
        bytes += size;
        i += pair ? 2 : 1;
    }
    return text.left(i);
}

} // namespace

QString safeFileName(const QString& name, const QString& fallback)
{
    QString base = withoutFormatCharacters(name);
    const qsizetype slash = std::max(base.lastIndexOf(u'/'), base.lastIndexOf(u'\\'));
    if (slash >= 0)
        base = base.mid(slash + 1);
    QString safe;
    safe.reserve(base.size());
    for (const QChar c : std::as_const(base)) {
        if (c.category() == QChar::Other_Control || c == u':' || c == u'*' || c == u'?' || c == u'"'
            || c == u'<' || c == u'>' || c == u'|')
            safe += u'_';
        else
            safe += c;
    }
    qsizetype lead = 0;
    while (lead < safe.size() && (safe[lead] == u'.' || safe[lead].isSpace()))
        ++lead;
    safe = safe.mid(lead).trimmed();
    // A file system takes names of at most 255 bytes; the extension is kept, as it tells the
    // desktop how to open the file.
    constexpr qsizetype MaxBytes = 255;
    if (safe.toUtf8().size() > MaxBytes) {
        const qsizetype dot = safe.lastIndexOf(u'.');
        QString extension = dot > 0 ? safe.mid(dot) : QString();
        if (extension.toUtf8().size() > 32)
            extension.clear();
        const QString stem = extension.isEmpty() ? safe : safe.left(dot);
        safe = utf8Prefix(stem, MaxBytes - extension.toUtf8().size()).trimmed() + extension;
    }
    return safe.isEmpty() ? fallback : safe;
}

} // namespace velmoran
