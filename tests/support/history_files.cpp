#include "history_files.h"

#include "core/failure.h"

#include <QFile>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <memory>

namespace velmoran::test {

bool writeTar(const QString& path, const std::vector<std::pair<QString, QByteArray>>& members,
              bool gzip)
{
    std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(),
                                                                   archive_write_free);
    if (archive_write_set_format_ustar(writer.get()) != ARCHIVE_OK
        || (gzip && archive_write_add_filter_gzip(writer.get()) != ARCHIVE_OK)
        || archive_write_open_filename(writer.get(), QFile::encodeName(path).constData())
               != ARCHIVE_OK)
        return false;
    for (const auto& [name, content] : members) {
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                            archive_entry_free);
        archive_entry_set_pathname(entry.get(), name.toUtf8().constData());
        archive_entry_set_size(entry.get(), content.size());
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_perm(entry.get(), 0644);
        if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK)
            return false;
        if (!content.isEmpty()
            && archive_write_data(writer.get(), content.constData(), size_t(content.size()))
                   != content.size())
            return false;
    }
    return archive_write_close(writer.get()) == ARCHIVE_OK;
}

bool writeTarEntries(const QString& path, const std::vector<TarEntry>& entries, const char* filter)
{
    std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(),
                                                                   archive_write_free);
    // pax only where a member is sparse; otherwise the plain ustar of an export.
    const bool sparse = std::any_of(entries.begin(), entries.end(),
                                    [](const TarEntry& e) { return e.sparseSize >= 0; });
    if ((sparse ? archive_write_set_format_pax(writer.get())
                : archive_write_set_format_ustar(writer.get()))
            != ARCHIVE_OK
        || (*filter && archive_write_add_filter_by_name(writer.get(), filter) != ARCHIVE_OK)
        || archive_write_open_filename(writer.get(), QFile::encodeName(path).constData())
               != ARCHIVE_OK)
        return false;
    for (const TarEntry& member : entries) {
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                            archive_entry_free);
        archive_entry_set_pathname(entry.get(), member.name.toUtf8().constData());
        archive_entry_set_perm(entry.get(), static_cast<mode_t>(member.mode));
        if (member.linkTarget.isEmpty()) {
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_size(entry.get(), member.sparseSize >= 0 ? member.sparseSize
                                                                       : member.content.size());
            if (member.sparseSize >= 0)
                archive_entry_sparse_add_entry(entry.get(), 0, member.content.size());
        } else {
            archive_entry_set_filetype(entry.get(), AE_IFLNK);
            archive_entry_set_symlink(entry.get(), member.linkTarget.toUtf8().constData());
            archive_entry_set_size(entry.get(), 0);
        }
        if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK)
            return false;
        if (member.linkTarget.isEmpty() && !member.content.isEmpty()
            && archive_write_data(writer.get(), member.content.constData(),
                                  size_t(member.content.size()))
                   != member.content.size())
            return false;
    }
    return archive_write_close(writer.get()) == ARCHIVE_OK;
}

bool writeCompressed(const QString& path, const QByteArray& bytes, const char* filter)
{
    std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(),
                                                                   archive_write_free);
    std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                        archive_entry_free);
    archive_entry_set_pathname(entry.get(), "data");
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_size(entry.get(), bytes.size());
    return archive_write_set_format_raw(writer.get()) == ARCHIVE_OK
           && archive_write_add_filter_by_name(writer.get(), filter) == ARCHIVE_OK
           && archive_write_open_filename(writer.get(), QFile::encodeName(path).constData())
                  == ARCHIVE_OK
           && archive_write_header(writer.get(), entry.get()) == ARCHIVE_OK
           && archive_write_data(writer.get(), bytes.constData(), size_t(bytes.size()))
                  == bytes.size()
           && archive_write_close(writer.get()) == ARCHIVE_OK;
}

QString failureOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Failure& failure) {
        return failure.description();
    }
    return QString();
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace velmoran::test

#include <sqlite3.h>

namespace velmoran::test {

QString writeDatabase(const QString& path, const QByteArray& sql)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK) {
        const QString error = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close(db);
        return error;
    }
    char* error = nullptr;
    const int status = sqlite3_exec(db, sql.constData(), nullptr, nullptr, &error);
    QString text = status == SQLITE_OK ? QString() : QString::fromUtf8(error);
    sqlite3_free(error);
    sqlite3_close(db);
    return text;
}

} // namespace velmoran::test
