#pragma once

#include "results/workbook_writer.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace velmoran {

struct CommandContext;

class Dialogs;
class ErrorReporter;
class EventPump;
class MousePointer;
class ResultsModel;
class ResultsRemovalLock;
class Shell;
class TextTable;
struct Platform;
struct ShellOpenRequest;

// True when the desktop has an application registered for .xlsx workbooks. Otherwise tells
// the user that it is missing.
bool SaveResultsAsExcelFileIsExcelInstalled(Shell& shell, Dialogs& dialogs);

// How the shell is asked to open a new workbook for the user with the application registered
// for it: LibreOffice opens it as a template, giving a new untitled document; any other
// application opens the file.
ShellOpenRequest openWorkbookRequest(const QString& path, const QString& application);

// The workbook the export writes, in a folder of its own named after FolderPattern in the
// folder for temporary files.
inline constexpr char16_t WorkbookFolderPattern[] = u"velmoran-XXXXXX";
inline constexpr char16_t WorkbookFileName[] = u"Velmoran Results.xlsx";

// Removes the workbook folders that earlier exports left in temporaryFolder for the
// spreadsheet application once they can no longer be in use: last changed (folder or
// workbook) more than a day before now. Only folders of ours are touched: a real folder (not
// a link) owned by this user, named exactly as the export names them, holding nothing but the
// workbook (a spreadsheet application's lock file beside it keeps the folder). Answers how
// many were removed; never fails.
int removeStaleWorkbookFolders(const QString& temporaryFolder, const QDateTime& now);

// "Save Results As Excel File": the results in a new workbook in a temporary folder, opened
// with the desktop's spreadsheet application and left open for the user.
class SaveResultsAsExcelFileCommand {
public:
    explicit SaveResultsAsExcelFileCommand(CommandContext& context);
    void PushButton14_Click();

private:
    CommandContext& m_context;
};

} // namespace velmoran
