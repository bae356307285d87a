#include "app/workbook_export.h"

#include "app/command_context.h"

#include "app/mouse_pointer.h"
#include "app/results_model.h"
#include "app/results_removal_lock.h"
#include "core/dialogs.h"
#include "core/failure.h"
#include "core/guarded_routine.h"
#include "core/platform.h"
#include "results/spaced_text.h"
#include "results/text_table.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <vector>

namespace velmoran {

bool SaveResultsAsExcelFileIsExcelInstalled(Shell& shell, Dialogs& dialogs)
{
    bool installed = true;
    try {
        installed = !shell.defaultApplication(QString::fromUtf16(WorkbookMimeType)).isEmpty();
    } catch (...) {
        installed = false;
    }
    if (!installed) {
        try {
            dialogs.message(
                QStringLiteral("Excel is not installed on this computer. You need to "
                               "have it installed to use this software without error."));
        } catch (...) {
        }
    }
    return installed;
}

ShellOpenRequest openWorkbookRequest(const QString& path, const QString& application)
{
    ShellOpenRequest request;
    request.workingFolder = QFileInfo(path).path();
    const QString quoted = QLatin1Char('"') + path + QLatin1Char('"');
    if (application.contains(QLatin1String("libreoffice"), Qt::CaseInsensitive)) {
        request.file = QStringLiteral("\"libreoffice\"");
        request.parameters = QStringLiteral("-n ") + quoted;
    } else {
        request.file = quoted;
    }
    return request;
}

namespace {

// A folder name that the export's pattern gives: each X of the pattern replaced by a letter
// (QTemporaryDir picks A to Z and a to z).
bool isWorkbookFolderName(const QString& name)
{
    const QString pattern = QString::fromUtf16(WorkbookFolderPattern);
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

// Removes one folder when it is a stale workbook folder of ours. The folder is opened once,
// without following a link, and everything is checked and removed through that descriptor,
// so a folder swapped for another after the check is not what gets emptied.
bool removeIfStale(int parent, const QByteArray& name, time_t before)
{
    const Descriptor folder(
        ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info;
    if (folder.fd < 0 || ::fstat(folder.fd, &info) != 0 || !S_ISDIR(info.st_mode)
        || info.st_uid != ::geteuid() || info.st_mtime >= before)
        return false;

    const QByteArray workbook = QFile::encodeName(QString::fromUtf16(WorkbookFileName));
    bool holdsWorkbook = false;
    {
        const int listing = ::dup(folder.fd);
        if (listing < 0)
            return false;
        const std::unique_ptr<DIR, DirectoryCloser> entries(::fdopendir(listing));
        if (!entries) {
            ::close(listing);
            return false;
        }
        while (const dirent* entry = ::readdir(entries.get())) {
            const QByteArray entryName(entry->d_name);
            if (entryName == "." || entryName == "..")
                continue;
            if (entryName != workbook)
                return false;
            struct stat file;
            if (::fstatat(folder.fd, entry->d_name, &file, AT_SYMLINK_NOFOLLOW) != 0
                || !S_ISREG(file.st_mode) || file.st_uid != ::geteuid() || file.st_mtime >= before)
                return false;
            holdsWorkbook = true;
        }
    }
    if (holdsWorkbook && ::unlinkat(folder.fd, workbook.constData(), 0) != 0)
        return false;
    // Fails, leaving the folder, when something has appeared in it meanwhile.
    return ::unlinkat(parent, name.constData(), AT_REMOVEDIR) == 0;
}

} // namespace

int removeStaleWorkbookFolders(const QString& temporaryFolder, const QDateTime& now)
{
    if (temporaryFolder.isEmpty() || !now.isValid())
        return 0;
    const Descriptor parent(
        ::open(QFile::encodeName(temporaryFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.fd < 0)
        return 0;
    const time_t before = time_t(now.addDays(-1).toSecsSinceEpoch());
    // The names first: removing while reading a folder may skip or repeat entries.
    std::vector<QByteArray> candidates;
    {
        const int listing = ::dup(parent.fd);
        if (listing < 0)
            return 0;
        const std::unique_ptr<DIR, DirectoryCloser> entries(::fdopendir(listing));
        if (!entries) {
            ::close(listing);
            return 0;
        }
        while (const dirent* entry = ::readdir(entries.get())) {
            if (isWorkbookFolderName(QFile::decodeName(entry->d_name)))
                candidates.emplace_back(entry->d_name);
        }
    }
    int removed = 0;
    for (const QByteArray& name : candidates) {
        if (removeIfStale(parent.fd, name, before))
            ++removed;
    }
    return removed;
}

SaveResultsAsExcelFileCommand::SaveResultsAsExcelFileCommand(CommandContext& context)
    : m_context(context)
{
}

void SaveResultsAsExcelFileCommand::PushButton14_Click()
{
    GuardedRoutine routine(m_context.reporter, routineLabel(QStringLiteral("Form1"),
                                                            QStringLiteral("PushButton14_Click")));
    if (m_context.results.size() == 0)
        return;
    if (!SaveResultsAsExcelFileIsExcelInstalled(m_context.platform.shell,
                                                m_context.platform.dialogs)) {
        routine.step(176, [&] {
            m_context.platform.dialogs.message(
                QStringLiteral("Excel is not installed on this computer. "
                               "You need to have it installed to use this "
                               "feature."));
        });
        return;
    }
    routine.step(110, [&] { m_context.pointer.set(MousePointer::Hourglass); });

    // A folder of its own that outlives the program: the spreadsheet application reads the
    // workbook after this command has ended.
    QString path;
    routine.step(112, [&] {
        // (tempPath() is empty when the folder that TMPDIR names does not exist.)
        const QString temporary = QDir::tempPath();
        if (temporary.isEmpty())
            throw Failure(QStringLiteral("Cannot create a temporary folder: the folder for "
                                         "temporary files does not exist."));
        QTemporaryDir folder(temporary + QLatin1Char('/')
                             + QString::fromUtf16(WorkbookFolderPattern));
        if (!folder.isValid())
            throw Failure(QStringLiteral("Cannot create a temporary folder in %1: %2")
                              .arg(temporary, folder.errorString()));
        folder.setAutoRemove(false);
        path = folder.filePath(QString::fromUtf16(WorkbookFileName));
    });
    bool written = false;
    std::optional<QString> shortened;
    if (!path.isEmpty()) {
        routine.step(114, [&] {
            // Rows are read by position while the workbook is filled.
            const ResultsRemovalLock::Hold hold(m_context.resultsRemoval);
            shortened = writeWorkbook(
                ResultsTable(m_context.results.rows(), m_context.results.headerTexts()), path,
                &m_context.pump);
            written = true;
        });
    }
    // Rows beyond what a worksheet holds: the workbook still opens with the rows it has.
    if (shortened)
        routine.report(140, *shortened);
    if (written) {
        routine.step(172, [&] {
            const QString application =
                m_context.platform.shell.defaultApplication(QString::fromUtf16(WorkbookMimeType));
            m_context.platform.shell.openDocument(openWorkbookRequest(path, application));
        });
    }
    routine.step(174, [&] { m_context.pointer.set(MousePointer::Default); });
}

} // namespace velmoran
