#include "archive/archive_folder.h"

#include "core/failure.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace velmoran {

namespace {

const char MarkerText[] = "velmoran-archive 1\n";

QString shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

[[noreturn]] void refuse(const QString& path, const QString& why)
{
    throw Failure(QStringLiteral("The archive cannot go to \"%1\": %2.").arg(shown(path), why));
}

bool holdsMarker(const QString& folder)
{
    QFile marker(folder + QLatin1Char('/') + QLatin1StringView(ArchiveFolder::MarkerName));
    const QFileInfo info(marker.fileName());
    if (!info.isFile() || info.isSymLink() || !marker.open(QIODevice::ReadOnly))
        return false;
    return marker.read(64).startsWith("velmoran-archive ");
}

// Whether path lies inside folder (both as they are on disk, links resolved).
bool isInside(const QString& path, const QString& folder)
{
    const QString file = QFileInfo(path).canonicalFilePath();
    const QString root = QFileInfo(folder).canonicalFilePath();
    return !file.isEmpty() && !root.isEmpty() && file.startsWith(root + QLatin1Char('/'));
}

void renameOrFail(const QString& from, const QString& to)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw Failure(
            QStringLiteral("\"%1\" cannot be renamed to \"%2\": %3.")
                .arg(shown(from), shown(to), QString::fromLocal8Bit(std::strerror(errno))));
}

// Removes folder with everything in it, calling pace every sixteen files. Links are removed,
// never followed.
void removeFolder(const QString& folder, const std::function<void()>& pace)
{
    if (pace) {
        QDirIterator entries(folder,
                             QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
        int removed = 0;
        while (entries.hasNext()) {
            const QFileInfo entry = entries.nextFileInfo();
            if (entry.isDir() && !entry.isSymLink())
                continue;
            QFile::remove(entry.filePath());
            if (++removed % 16 == 0)
                pace();
        }
    }
    QDir(folder).removeRecursively();
}

} // namespace

ArchiveFolder::ArchiveFolder(const QString& path, const QStringList& historyFiles,
                             std::function<void()> pace)
    : m_path(QDir::cleanPath(QFileInfo(path).absoluteFilePath()))
    , m_pace(std::move(pace))
{
    const QFileInfo info(m_path);
    if (QFileInfo(m_path).fileName().isEmpty())
        refuse(path, QStringLiteral("name a folder of its own"));
    if (info.isSymLink())
        refuse(path, QStringLiteral("it is a symbolic link"));
    if (!info.exists()) {
        if (!QFileInfo(info.absolutePath()).isDir())
            refuse(path, QStringLiteral("the folder it would be made in does not exist"));
        m_kind = Kind::New;
        return;
    }
    if (!info.isDir())
        refuse(path, QStringLiteral("it is not a folder"));
    const QDir folder(m_path);
    if (folder.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        m_kind = Kind::Empty;
        return;
    }
    if (!holdsMarker(m_path))
        refuse(path, QStringLiteral("it holds files and is no archive of this program"));
    for (const QString& file : historyFiles) {
        if (isInside(file, m_path))
            refuse(path, QStringLiteral("it holds the history file \"%1\"").arg(shown(file)));
    }
    m_kind = Kind::Earlier;
}

ArchiveFolder::~ArchiveFolder()
{
    if (m_temporary && m_temporary->autoRemove())
        removeFolder(m_temporary->path(), m_pace);
}

QString ArchiveFolder::begin()
{
    const QFileInfo info(m_path);
    m_temporary =
        std::make_unique<QTemporaryDir>(info.absolutePath() + QStringLiteral("/.") + info.fileName()
                                        + QStringLiteral(".velmoran-tmp-XXXXXX"));
    if (!m_temporary->isValid())
        throw Failure(QStringLiteral("A folder beside \"%1\" cannot be made: %2.")
                          .arg(shown(m_path), m_temporary->errorString()));
    return m_temporary->path();
}

void ArchiveFolder::commit()
{
    const QString temporary = m_temporary->path();
    QFile marker(temporary + QLatin1Char('/') + QLatin1StringView(MarkerName));
    if (!marker.open(QIODevice::WriteOnly | QIODevice::NewOnly)
        || marker.write(MarkerText) != qint64(sizeof MarkerText - 1) || !marker.flush())
        throw Failure(QStringLiteral("The file \"%1\" cannot be written: %2.")
                          .arg(shown(marker.fileName()), marker.errorString()));
    marker.close();
    // The temporary folder is private to the user; the archive gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(QFile::encodeName(temporary).constData(), 0777 & ~mask);

    if (m_kind != Kind::Earlier) {
        // Over an empty folder, rename replaces it; over anything else it fails.
        renameOrFail(temporary, m_path);
        m_temporary->setAutoRemove(false);
        return;
    }
    const QFileInfo info(m_path);
    QTemporaryDir aside(info.absolutePath() + QStringLiteral("/.") + info.fileName()
                        + QStringLiteral(".velmoran-old-XXXXXX"));
    if (!aside.isValid())
        throw Failure(QStringLiteral("A folder beside \"%1\" cannot be made: %2.")
                          .arg(shown(m_path), aside.errorString()));
    renameOrFail(m_path, aside.path());
    try {
        renameOrFail(temporary, m_path);
    } catch (const Failure&) {
        std::rename(QFile::encodeName(aside.path()).constData(),
                    QFile::encodeName(m_path).constData());
        aside.setAutoRemove(false);
        throw;
    }
    m_temporary->setAutoRemove(false);
    removeFolder(aside.path(), m_pace); // now the earlier archive
}

} // namespace velmoran
