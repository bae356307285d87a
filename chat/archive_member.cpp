#include "chat/archive_member.h"

#include "chat/archive_open.h"
#include "chat/history_file_error.h"
#include "chat/mapped_file.h"

#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <string_view>

namespace velmoran {

namespace {

// The name of a member as written, without a leading "./".
std::string_view memberName(archive_entry* entry)
{
    std::string_view name = archive_entry_pathname(entry) ? archive_entry_pathname(entry) : "";
    if (name.starts_with("./"))
        name.remove_prefix(2);
    return name;
}

// Why a messages.json member cannot be read: it is a link or no file. "" for a file.
QString refusalOf(archive_entry* entry)
{
    if (archive_entry_filetype(entry) == AE_IFLNK || archive_entry_hardlink(entry))
        return QStringLiteral("its messages.json is a link, and links in an export are not "
                              "followed");
    if (archive_entry_filetype(entry) != AE_IFREG)
        return QStringLiteral("its messages.json is no file");
    return {};
}

// The size the tar records for its messages.json; fails when it records none it can be.
size_t recordedSize(const QString& path, archive_entry* entry)
{
    if (!archive_entry_size_is_set(entry) || archive_entry_size(entry) < 0)
        failToRead(path, QStringLiteral("the size of its messages.json is not recorded"));
    const auto size = size_t(archive_entry_size(entry));
    if (size > simdjson::SIMDJSON_MAXSIZE_BYTES)
        failToRead(path,
                   QStringLiteral("its messages.json is larger than the 4 GiB that can be read"));
    return size;
}

bool isUncompressed(archive* reader)
{
    return archive_filter_count(reader) == 1
           && archive_filter_code(reader, 0) == ARCHIVE_FILTER_NONE;
}

// Unpacks the size bytes of the member the reader stands at into a padded buffer, calling
// tick after each piece.
template <typename Tick>
simdjson::padded_string unpack(const QString& path, archive* reader, size_t size, Tick&& tick)
{
    simdjson::padded_string json(size);
    if (size > 0 && json.data() == nullptr)
        failToRead(path, QStringLiteral("there is not enough memory to read its messages.json"));
    size_t done = 0;
    while (done < size) {
        const la_ssize_t got = archive_read_data(reader, json.data() + done, size - done);
        if (got < 0)
            failArchive(path, reader, QStringLiteral("its messages.json cannot be unpacked"));
        if (got == 0)
            failToRead(path, QStringLiteral("it ends in the middle of its messages.json"));
        done += size_t(got);
        tick();
    }
    return json;
}

} // namespace

ExportArchiveMember readExportArchiveMember(const QString& path, bool inPlace,
                                            const ReadProgress& progress, ProgressScale scale)
{
    const ArchiveReader reader = openHistoryArchive(path);
    const qint64 fileSize = QFileInfo(path).size();
    auto reportRead = [&] {
        // A tar read in place is only looked through here; its progress is that of the parse.
        if (!progress || fileSize <= 0
            || (inPlace && archive_filter_code(reader.get(), 0) == ARCHIVE_FILTER_NONE))
            return;
        if (scale.raise(double(archive_filter_bytes(reader.get(), -1)) / double(fileSize)))
            progress(scale.level());
    };
    ExportArchiveMember member;
    bool found = false;
    QString refusal; // why the last messages.json cannot be read, when it is no plain file
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status < ARCHIVE_WARN)
            failArchive(path, reader.get(),
                        QStringLiteral("it is no tar archive or it is damaged"));
        reportRead();
        if (memberName(entry) != "messages.json")
            continue;
        // A later copy replaces what an earlier one gave.
        found = true;
        member = ExportArchiveMember();
        refusal = refusalOf(entry);
        if (!refusal.isEmpty())
            continue;
        const size_t size = recordedSize(path, entry);
        if (inPlace && isUncompressed(reader.get())) {
            // The reader stands right after the member's header: where its data begins.
            member.inPlace = true;
            member.offset = archive_filter_bytes(reader.get(), 0);
            member.size = size;
            continue;
        }
        member.json = unpack(path, reader.get(), size, reportRead);
    }
    if (!found)
        failToRead(path, QStringLiteral("it holds no messages.json, so it is no chat export"));
    if (!refusal.isEmpty())
        failToRead(path, refusal);
    return member;
}

bool memberFitsMapping(const MappedFile& map, qint64 offset, size_t size)
{
    if (offset < 512 || offset % 512 != 0 || size_t(offset) > map.size()
        || size > map.size() - size_t(offset))
        return false;
    const std::string_view header(map.data() + offset - 512, 512);
    return header.substr(257, 5) == "ustar";
}

} // namespace velmoran
