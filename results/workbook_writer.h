#pragma once

#include <QString>

#include <optional>

namespace velmoran {

class EventPump;
class TextTable;

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

} // namespace velmoran
