#include "core/stale_folders.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace velmoran {

namespace {

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    explicit Descriptor(int fd)
        : fd(fd)
    {
    }
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd;
};

struct DirectoryCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// The names in the folder open at fd, without "." and ".."; false when it cannot be listed.
// The names come first: removing while reading a folder may skip or repeat entries.
bool listFolder(int fd, std::vector<QByteArray>& names)
{
    const int listing = ::dup(fd);
    if (listing < 0)
        return false;
    const std::unique_ptr<DIR, DirectoryCloser> entries(::fdopendir(listing));
    if (!entries) {
        ::close(listing);
        return false;
    }
    while (const dirent* entry = ::readdir(entries.get())) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    return true;
}

bool removeIfStale(int parent, const QByteArray& name, time_t before,
                   const std::function<bool(const QByteArray&)>& fileMayGo)
{
    const Descriptor folder(
        ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info;
    if (folder.fd < 0 || ::fstat(folder.fd, &info) != 0 || !S_ISDIR(info.st_mode)
        || info.st_uid != ::geteuid() || info.st_mtime >= before)
        return false;
    std::vector<QByteArray> files;
    if (!listFolder(folder.fd, files))
        return false;
    for (const QByteArray& file : files) {
        struct stat entry;
        if (!fileMayGo(file)
            || ::fstatat(folder.fd, file.constData(), &entry, AT_SYMLINK_NOFOLLOW) != 0
            || !S_ISREG(entry.st_mode) || entry.st_uid != ::geteuid() || entry.st_mtime >= before)
            return false;
    }
    for (const QByteArray& file : files) {
        if (::unlinkat(folder.fd, file.constData(), 0) != 0)
            return false;
    }
    // Fails, leaving the folder, when something has appeared in it meanwhile.
    return ::unlinkat(parent, name.constData(), AT_REMOVEDIR) == 0;
}

} // namespace

bool matchesTemporaryPattern(const QString& name, QStringView pattern)
{
    if (name.size() != pattern.size())
        return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (pattern[i] != u'X') {
            if (c != pattern[i].unicode())
                return false;
        } else if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))) {
            return false;
        }
    }
    return true;
}

int removeStaleFolders(const QString& parentFolder, const QDateTime& before,
                       const std::function<bool(const QString& name)>& folderIsOurs,
                       const std::function<bool(const QByteArray& name)>& fileMayGo)
{
    if (parentFolder.isEmpty() || !before.isValid())
        return 0;
    const Descriptor parent(
        ::open(QFile::encodeName(parentFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::vector<QByteArray> names;
    if (parent.fd < 0 || !listFolder(parent.fd, names))
        return 0;
    const time_t limit = time_t(before.toSecsSinceEpoch());
    int removed = 0;
    for (const QByteArray& name : names) {
        if (folderIsOurs(QFile::decodeName(name))
            && removeIfStale(parent.fd, name, limit, fileMayGo))
            ++removed;
    }
    return removed;
}

} // namespace velmoran
