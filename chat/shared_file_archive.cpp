#include "chat/shared_file_archive.h"

#include "chat/archive_open.h"
#include "chat/history_file_error.h"
#include "core/failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
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

} // namespace

namespace {

// Finds, for each of a list of files, the member that holds its copy, offered the members one
// by one. Better matches have lower ranks: the object id at the start of the member's base
// name, the id anywhere in it, the file's name; each file keeps the first member of its best
// rank, as a walk for that file alone would.
class MemberMatcher {
public:
    explicit MemberMatcher(const std::vector<SharedFile>& files)
        : m_members(files.size())
        , m_ranks(files.size(), NoMatch)
    {
        for (size_t i = 0; i < files.size(); ++i) {
            const SharedFile& file = files[i];
            if (!file.objectId.isEmpty()) {
                m_byId[file.objectId].push_back(i);
                if (std::find(m_idLengths.begin(), m_idLengths.end(), file.objectId.size())
                    == m_idLengths.end())
                    m_idLengths.push_back(file.objectId.size());
            }
            if (!file.fileName.isEmpty())
                m_byName[file.fileName].push_back(i);
            if (!file.objectId.isEmpty() || !file.fileName.isEmpty())
                ++m_unsettled;
        }
    }

    // Answers false once every file has a match none can better.
    bool offer(const QString& name, archive_entry* entry)
    {
        if (!isRegularFile(entry))
            return true;
        const QStringView base = baseName(underMediaFolder(name));
        if (base.isEmpty())
            return true;
        // An id ends where the name does or at a "."; it starts anywhere.
        for (qsizetype end = 0; end <= base.size(); ++end) {
            if (!idEndsAt(base, end))
                continue;
            for (const qsizetype length : m_idLengths) {
                if (length > end)
                    continue;
                const auto found = m_byId.constFind(base.sliced(end - length, length).toString());
                if (found == m_byId.cend())
                    continue;
                for (const size_t file : *found)
                    take(file, end == length ? 0 : 1, name, entry);
            }
        }
        if (const auto found = m_byName.constFind(base.toString()); found != m_byName.cend()) {
            for (const size_t file : *found)
                take(file, 2, name, entry);
        }
        return m_unsettled > 0;
    }

    std::vector<SharedFileMember> members() && { return std::move(m_members); }

private:
    static constexpr int NoMatch = 3;

    void take(size_t file, int rank, const QString& name, archive_entry* entry)
    {
        if (rank >= m_ranks[file])
            return;
        if (rank == 0)
            --m_unsettled;
        m_ranks[file] = rank;
        m_members[file].name = name;
        m_members[file].size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
    }

    QHash<QString, std::vector<size_t>> m_byId;
    QHash<QString, std::vector<size_t>> m_byName;
    std::vector<qsizetype> m_idLengths;
    std::vector<SharedFileMember> m_members;
    std::vector<int> m_ranks;
    size_t m_unsettled = 0; // files that a later member may match better
};

} // namespace

std::vector<SharedFileMember> findSharedFileMembers(const QString& archivePath,
                                                    const std::vector<SharedFile>& files,
                                                    const std::function<bool()>& pace)
{
    const bool anyKnown = std::any_of(files.begin(), files.end(), [](const SharedFile& file) {
        return !file.objectId.isEmpty() || !file.fileName.isEmpty();
    });
    if (!anyKnown)
        return std::vector<SharedFileMember>(files.size());
    const ArchiveReader reader = openHistoryArchive(archivePath);
    MemberMatcher matcher(files);
    auto visit = [&](const QString& name, archive_entry* entry) {
        return matcher.offer(name, entry);
    };
    if (!walkArchive(archivePath, reader.get(), visit, pace))
        return std::vector<SharedFileMember>(files.size());
    return std::move(matcher).members();
}

SharedFileMember findSharedFileMember(const QString& archivePath, const SharedFile& file,
                                      const std::function<bool()>& pace)
{
    return findSharedFileMembers(archivePath, {file}, pace).front();
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

// Reads the data of the regular file member the reader stands at into sink, telling progress.
// Answers whether the data came whole (false: progress asked to stop, or the member is larger
// than largest); total is set to the member's size.
bool readEntryData(const QString& archivePath, archive* reader, archive_entry* entry,
                   const QString& member, qint64 largest, const MemberSink& sink,
                   const TakeOutProgress& progress, qint64& total)
{
    if (!archive_entry_size_is_set(entry) || archive_entry_size(entry) < 0)
        failToRead(archivePath,
                   QStringLiteral("the size of its copy of \"%1\" is not recorded").arg(member));
    total = archive_entry_size(entry);
    if (total > largest)
        return false;
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    qint64 end = 0;
    for (;;) {
        const int status = archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF)
            break;
        if (status < ARCHIVE_WARN)
            failArchive(archivePath, reader,
                        QStringLiteral("its copy of \"%1\" cannot be unpacked").arg(member));
        if (offset < 0 || qint64(size) > total || offset > total - qint64(size))
            failToRead(archivePath, QStringLiteral("its copy of \"%1\" is damaged").arg(member));
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
    return true;
}

// Reads the data of the regular file member into sink, as readEntryData does; throws Failure
// when the archive holds no such member.
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
        whole =
            readEntryData(archivePath, reader.get(), entry, member, largest, sink, progress, total);
        return false;
    });
    if (!found)
        failToRead(archivePath, QStringLiteral("it holds no file \"%1\"").arg(member));
    return whole;
}

// A member's data written to a partial file beside its destination (a name of its own, short
// whatever the final name's length), created readable and writable by the owner only, and
// removed unless it becomes the file.
class PartialFile {
public:
    explicit PartialFile(const QString& destinationPath)
        : m_destination(destinationPath)
        , m_out(QFileInfo(destinationPath).path() + QStringLiteral("/.partial-XXXXXX"))
    {
        if (!m_out.open())
            cannotWrite();
    }

    MemberSink sink()
    {
        return [this](qint64 offset, const char* data, qint64 size) {
            // A hole of a sparse member stays a hole.
            if (m_out.pos() != offset && !m_out.seek(offset))
                cannotWrite();
            if (m_out.write(data, size) != size)
                cannotWrite();
            return true;
        };
    }

    // Gives the file its whole size (a sparse member may end in a hole) and its final name.
    void finish(qint64 total)
    {
        if (!m_out.resize(total) || !m_out.flush())
            cannotWrite();
        m_out.setAutoRemove(false);
        QFile::remove(m_destination);
        if (!m_out.rename(m_destination)) {
            const QString reason = m_out.errorString();
            m_out.remove();
            failToWrite(m_destination, reason);
        }
    }

private:
    [[noreturn]] void cannotWrite() { failToWrite(m_destination, m_out.errorString()); }

    QString m_destination;
    QTemporaryFile m_out;
};

} // namespace

bool extractArchiveMember(const QString& archivePath, const QString& member,
                          const QString& destinationPath, const TakeOutProgress& progress)
{
    PartialFile out(destinationPath);
    qint64 total = 0;
    if (!readMember(archivePath, member, std::numeric_limits<qint64>::max(), out.sink(), progress,
                    total))
        return false;
    out.finish(total);
    return true;
}

bool extractArchiveMembers(const QString& archivePath, const QHash<QString, QString>& destinations,
                           const std::function<bool()>& pace)
{
    if (destinations.isEmpty())
        return true;
    const ArchiveReader reader = openHistoryArchive(archivePath);
    QSet<QString> done;
    bool stopped = false;
    auto visit = [&](const QString& name, archive_entry* entry) {
        const auto destination = destinations.constFind(name);
        if (destination == destinations.cend() || !isRegularFile(entry) || done.contains(name))
            return true;
        PartialFile out(*destination);
        qint64 total = 0;
        const TakeOutProgress progress = [&](qint64, qint64) { return !pace || pace(); };
        if (!readEntryData(archivePath, reader.get(), entry, name,
                           std::numeric_limits<qint64>::max(), out.sink(), progress, total)) {
            stopped = true;
            return false;
        }
        out.finish(total);
        done.insert(name);
        return done.size() < destinations.size();
    };
    if (!walkArchive(archivePath, reader.get(), visit, pace) || stopped)
        return false;
    for (auto it = destinations.cbegin(); it != destinations.cend(); ++it) {
        if (!done.contains(it.key()))
            failToRead(archivePath, QStringLiteral("it holds no file \"%1\"").arg(it.key()));
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
