#pragma once

#include "results/workbook_writer.h"

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
