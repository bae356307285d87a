#include "app/workbook_export.h"

#include "app/command_context.h"

#include "app/mouse_pointer.h"
#include "app/results_model.h"
#include "app/results_removal_lock.h"
#include "core/dialogs.h"
#include "core/failure.h"
#include "core/guarded_routine.h"
#include "core/platform.h"
#include "core/stale_folders.h"
#include "results/spaced_text.h"
#include "results/text_table.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <optional>

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

int removeStaleWorkbookFolders(const QString& temporaryFolder, const QDateTime& now)
{
    if (!now.isValid())
        return 0;
    const QByteArray workbook = QFile::encodeName(QString::fromUtf16(WorkbookFileName));
    return removeStaleFolders(
        temporaryFolder, now.addDays(-1),
        [](const QString& name) {
            return matchesTemporaryPattern(name, QStringView(WorkbookFolderPattern));
        },
        [&workbook](const QByteArray& name) { return name == workbook; });
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
