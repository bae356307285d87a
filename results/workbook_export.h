#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace velmoran {

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

inline constexpr char16_t WorkbookMimeType[] =
    u"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet";

// The most a worksheet cell holds; longer texts are cut to it.
inline constexpr qsizetype MaxCellText = 32767;

// Writes the list into a new .xlsx workbook, every value a text cell:
// - row 1 holds the header texts of the columns whose cell in list row 1 is not empty;
// - list row r fills sheet row r + 1 with its non-empty cells, packed from column 1 (an empty
//   cell takes no column);
// - texts from list columns 2 and up lose every "="; column 1 and the headers are unchanged;
// - columns are made as wide as their longest text.
// Events run before each header column, row and cell. Ticks are not read.
// Rows beyond the last row of a worksheet are left out; the answer then says so.
// Throws Failure when the list cannot be read or the workbook cannot be written; nothing is
// written then.
std::optional<QString> writeWorkbook(const TextTable& list, const QString& path, EventPump* pump);

// The width, in characters, that fits a text in a column: its longest line.
qsizetype fittedWidth(const QString& text);

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
    SaveResultsAsExcelFileCommand(Platform& platform, ErrorReporter& reporter, EventPump& pump,
                                  MousePointer& pointer, ResultsModel& results,
                                  ResultsRemovalLock& lock);
    void PushButton14_Click();

private:
    Platform& m_platform;
    ErrorReporter& m_reporter;
    EventPump& m_pump;
    MousePointer& m_pointer;
    ResultsModel& m_results;
    ResultsRemovalLock& m_lock;
};

} // namespace velmoran
