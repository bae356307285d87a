#include "chat/shared_file_archive.h"

#include "chat/history_file_error.h"
#include "core/failure.h"

#include <QFile>
#include <QSaveFile>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace velmoran {

namespace {

using ArchiveReader = std::unique_ptr<archive, decltype(&archive_read_free)>;

ArchiveReader openArchive(const QString& path)
{
    ArchiveReader reader(archive_read_new(), archive_read_free);
    if (!reader)
        failToRead(path, QStringLiteral("there is not enough memory to open it"));
    archive_read_support_filter_all(reader.get());
    archive_read_support_format_tar(reader.get());
    if (archive_read_open_filename(reader.get(), QFile::encodeName(path).constData(), 1 << 20)
        != ARCHIVE_OK)
        failToRead(path, QStringLiteral("it is no tar archive"));
    return reader;
}

// Calls visit(name, entry) for every member until it answers false.
template <typename Visit> void walkArchive(const QString& path, archive* reader, Visit&& visit)
{
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader, &entry);
        if (status == ARCHIVE_EOF)
            return;
        if (status < ARCHIVE_WARN)
            failToRead(path, QStringLiteral("it is no tar archive or it is damaged"));
        const char* raw = archive_entry_pathname_utf8(entry);
        if (!raw)
            raw = archive_entry_pathname(entry);
        const QString name = raw ? QString::fromUtf8(raw) : QString();
        if (!visit(name, entry))
            return;
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

} // namespace

QString findSharedFileMember(const QString& archivePath, const SharedFile& file)
{
    if (file.objectId.isEmpty() && file.fileName.isEmpty())
        return {};
    ArchiveReader reader = openArchive(archivePath);
    // Better matches have lower ranks: the object id at the start, anywhere, the file's name.
    int bestRank = 3;
    QString best;
    walkArchive(archivePath, reader.get(), [&](const QString& name, archive_entry* entry) {
        if (!isRegularFile(entry))
            return true;
        const QStringView inMedia = underMediaFolder(name);
        const QStringView base = baseName(inMedia);
        if (base.isEmpty())
            return true;
        int rank = 3;
        if (!file.objectId.isEmpty() && base.startsWith(file.objectId))
            rank = 0;
        else if (!file.objectId.isEmpty() && base.contains(file.objectId))
            rank = 1;
        else if (!file.fileName.isEmpty() && base == file.fileName)
            rank = 2;
        if (rank < bestRank) {
            bestRank = rank;
            best = name;
        }
        return bestRank > 0;
    });
    return best;
}

void extractArchiveMember(const QString& archivePath, const QString& member,
                          const QString& destinationPath)
{
    ArchiveReader reader = openArchive(archivePath);
    bool written = false;
    walkArchive(archivePath, reader.get(), [&](const QString& name, archive_entry* entry) {
        if (name != member || !isRegularFile(entry))
            return true;
        QSaveFile out(destinationPath);
        if (!out.open(QIODevice::WriteOnly))
            throw Failure(QStringLiteral("The file \"%1\" cannot be written: %2.")
                              .arg(destinationPath, out.errorString()));
        char buffer[1 << 16];
        for (;;) {
            const la_ssize_t got = archive_read_data(reader.get(), buffer, sizeof buffer);
            if (got < 0)
                failToRead(archivePath,
                           QStringLiteral("its copy of \"%1\" cannot be unpacked").arg(member));
            if (got == 0)
                break;
            if (out.write(buffer, got) != got)
                throw Failure(QStringLiteral("The file \"%1\" cannot be written: %2.")
                                  .arg(destinationPath, out.errorString()));
        }
        if (!out.commit())
            throw Failure(QStringLiteral("The file \"%1\" cannot be written: %2.")
                              .arg(destinationPath, out.errorString()));
        written = true;
        return false;
    });
    if (!written)
        failToRead(archivePath, QStringLiteral("it holds no file \"%1\"").arg(member));
}

QString safeFileName(const QString& name, const QString& fallback)
{
    QString base = name;
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
    if (safe.size() > 120)
        safe = safe.right(120);
    return safe.isEmpty() ? fallback : safe;
}

} // namespace velmoran
