#include "archive/media_files.h"

#include "chat/history_loader.h"
#include "chat/shared_file_archive.h"
#include "core/failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace velmoran {

namespace {

// Extensions kept from a file's name: kinds a browser shows as what they are or hands to a
// program, never one it runs as a page or script (html, svg, xml, js are not among them).
bool isKeptExtension(const QString& extension)
{
    static const QStringList kept = {
        QStringLiteral("pdf"),  QStringLiteral("txt"),  QStringLiteral("csv"),
        QStringLiteral("doc"),  QStringLiteral("docx"), QStringLiteral("xls"),
        QStringLiteral("xlsx"), QStringLiteral("ppt"),  QStringLiteral("pptx"),
        QStringLiteral("odt"),  QStringLiteral("ods"),  QStringLiteral("odp"),
        QStringLiteral("rtf"),  QStringLiteral("zip"),  QStringLiteral("7z"),
        QStringLiteral("gz"),   QStringLiteral("tar"),  QStringLiteral("mp3"),
        QStringLiteral("m4a"),  QStringLiteral("ogg"),  QStringLiteral("opus"),
        QStringLiteral("wav"),  QStringLiteral("flac"), QStringLiteral("aac"),
        QStringLiteral("mp4"),  QStringLiteral("m4v"),  QStringLiteral("mov"),
        QStringLiteral("webm"), QStringLiteral("mkv"),  QStringLiteral("avi"),
        QStringLiteral("3gp"),  QStringLiteral("heic"),
    };
    return kept.contains(extension);
}

// The picture kind of a file by its first bytes, as an extension; "" for none a browser shows.
QString pictureExtension(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(12);
    if (head.startsWith("\xFF\xD8\xFF"))
        return QStringLiteral("jpg");
    if (head.startsWith("\x89PNG\r\n\x1A\n"))
        return QStringLiteral("png");
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return QStringLiteral("gif");
    if (head.startsWith("RIFF") && head.mid(8, 4) == "WEBP")
        return QStringLiteral("webp");
    if (head.startsWith("BM"))
        return QStringLiteral("bmp");
    return {};
}

} // namespace

MediaFiles::MediaFiles(const QStringList& sources, const QString& root, bool copy)
    : m_root(root)
    , m_copy(copy)
{
    if (!copy)
        return;
    for (const QString& source : sources) {
        try {
            if (sniffHistoryFile(source) == HistoryFileKind::ExportArchive)
                m_exports.push_back(source);
        } catch (const Failure&) {
            // A file that cannot be read now holds no files for the archive.
        }
    }
}

namespace {

QString fileKey(const SharedFile& file)
{
    return file.objectId + QLatin1Char('\n') + file.fileName;
}

} // namespace

bool MediaFiles::prepare(const std::vector<SharedFile>& files, const std::function<bool()>& pace)
{
    if (!m_copy)
        return true;
    std::vector<SharedFile> wanted;
    QSet<QString> seen;
    for (const SharedFile& file : files) {
        const QString key = fileKey(file);
        if (!m_byFile.contains(key) && !seen.contains(key)) {
            seen.insert(key);
            wanted.push_back(file);
        }
    }
    // The first export holding a file gives it, as place() looks them up.
    for (const QString& source : m_exports) {
        if (wanted.empty())
            break;
        bool stopped = false;
        const auto paced = [&] { return !(stopped = pace && !pace()); };
        const std::vector<SharedFileMember> members = findSharedFileMembers(source, wanted, paced);
        if (stopped)
            return false;
        QHash<QString, QString> destinations; // member to the path it is taken out to
        std::vector<std::pair<QString, QString>> newMembers; // member, the name it came by
        std::vector<SharedFile> left;
        for (size_t i = 0; i < wanted.size(); ++i) {
            const QString& member = members[i].name;
            if (member.isEmpty()) {
                left.push_back(wanted[i]);
                continue;
            }
            if (!m_byMember.contains(source + QLatin1Char('\n') + member)
                && !destinations.contains(member)) {
                destinations.insert(member, newCopyPath());
                newMembers.emplace_back(member, wanted[i].fileName);
            }
        }
        if (!extractArchiveMembers(source, destinations, paced))
            return false;
        for (const auto& [member, fileName] : newMembers) {
            Entry entry;
            entry.state = State::Copied;
            entry.path = nameCopy(destinations.value(member), member, fileName, &entry.picture);
            m_byMember.insert(source + QLatin1Char('\n') + member, entry);
        }
        for (size_t i = 0; i < wanted.size(); ++i) {
            if (!members[i].name.isEmpty())
                m_byFile.insert(fileKey(wanted[i]),
                                m_byMember.value(source + QLatin1Char('\n') + members[i].name));
        }
        wanted = std::move(left);
    }
    for (const SharedFile& file : wanted)
        m_byFile.insert(fileKey(file), Entry{});
    return true;
}

const MediaFiles::Entry& MediaFiles::place(const SharedFile& file)
{
    const QString key = fileKey(file);
    if (const auto found = m_byFile.constFind(key); found != m_byFile.cend())
        return *found;
    Entry entry;
    entry.state = m_copy ? State::Missing : State::NotIncluded;
    for (const QString& source : m_exports) {
        const SharedFileMember member = findSharedFileMember(source, file);
        if (member.name.isEmpty())
            continue;
        const QString memberKey = source + QLatin1Char('\n') + member.name;
        if (const auto copied = m_byMember.constFind(memberKey); copied != m_byMember.cend()) {
            entry = *copied;
        } else {
            entry.state = State::Copied;
            const QString taken = newCopyPath();
            extractArchiveMember(source, member.name, taken);
            entry.path = nameCopy(taken, member.name, file.fileName, &entry.picture);
            m_byMember.insert(memberKey, entry);
        }
        break;
    }
    return *m_byFile.insert(key, entry);
}

QString MediaFiles::newCopyPath()
{
    const QString folder = m_root + QStringLiteral("/media");
    if (m_copied == 0 && !QDir().mkpath(folder))
        throw Failure(QStringLiteral("The folder \"%1\" cannot be made.")
                          .arg(QDir::toNativeSeparators(folder)));
    return folder + QStringLiteral("/f%1").arg(++m_copied, 6, 10, QLatin1Char('0'));
}

QString MediaFiles::nameCopy(const QString& taken, const QString& member, const QString& fileName,
                             bool* picture)
{
    QString extension = pictureExtension(taken);
    *picture = !extension.isEmpty();
    if (extension.isEmpty()) {
        extension =
            QFileInfo(safeFileName(fileName.isEmpty() ? member : fileName)).suffix().toLower();
        if (!isKeptExtension(extension))
            extension = QStringLiteral("bin");
    }
    const QString path = taken + QLatin1Char('.') + extension;
    // Taken out for the owner alone; in the archive it is read as the pages are.
    QFile::setPermissions(taken, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                     | QFile::ReadOther);
    if (!QFile::rename(taken, path))
        throw Failure(QStringLiteral("The file \"%1\" cannot be written.")
                          .arg(QDir::toNativeSeparators(path)));
    return QStringLiteral("media/") + QFileInfo(path).fileName();
}

} // namespace velmoran
