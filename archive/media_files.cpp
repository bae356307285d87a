#include "archive/media_files.h"

#include "chat/history_loader.h"
#include "chat/shared_file_archive.h"
#include "core/failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

const MediaFiles::Entry& MediaFiles::place(const SharedFile& file)
{
    const QString key = file.objectId + QLatin1Char('\n') + file.fileName;
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
            entry.path = copyMember(source, member.name, file.fileName, &entry.picture);
            m_byMember.insert(memberKey, entry);
        }
        break;
    }
    return *m_byFile.insert(key, entry);
}

QString MediaFiles::copyMember(const QString& source, const QString& member,
                               const QString& fileName, bool* picture)
{
    const QString folder = m_root + QStringLiteral("/media");
    if (m_copied == 0 && !QDir().mkpath(folder))
        throw Failure(QStringLiteral("The folder \"%1\" cannot be made.")
                          .arg(QDir::toNativeSeparators(folder)));
    const QString stem = QStringLiteral("f%1").arg(++m_copied, 6, 10, QLatin1Char('0'));
    const QString taken = folder + QLatin1Char('/') + stem;
    extractArchiveMember(source, member, taken);
    QString extension = pictureExtension(taken);
    *picture = !extension.isEmpty();
    if (extension.isEmpty()) {
        extension =
            QFileInfo(safeFileName(fileName.isEmpty() ? member : fileName)).suffix().toLower();
        if (!isKeptExtension(extension))
            extension = QStringLiteral("bin");
    }
    const QString name = stem + QLatin1Char('.') + extension;
    // Taken out for the owner alone; in the archive it is read as the pages are.
    QFile::setPermissions(taken, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                     | QFile::ReadOther);
    if (!QFile::rename(taken, folder + QLatin1Char('/') + name))
        throw Failure(QStringLiteral("The file \"%1\" cannot be written.")
                          .arg(QDir::toNativeSeparators(folder + QLatin1Char('/') + name)));
    return QStringLiteral("media/") + name;
}

} // namespace velmoran
