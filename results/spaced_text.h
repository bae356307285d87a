#pragma once

#include <QString>

#include <vector>

namespace velmoran {

class EventPump;
class TextTable;

// The width of every column, in UTF-16 code units: the longest text of the column over all
// rows, ticked or not, and over the header texts when withHeaders. Events run before each cell
// is measured. Throws Failure when a row or column cannot be read.
std::vector<qsizetype> ColumnWidths(const TextTable& list, bool withHeaders, EventPump* pump);

// The clipboard text of a list: one line per ticked row, no header line; every cell padded
// with blanks to its column's width (headers not counted) and followed by a tab; the final tab
// and then the blanks at the end of the line removed; CR LF after every line. Events run
// before each cell and row. Throws Failure when a row cannot be read.
QString spacedClipboardText(const TextTable& list, EventPump* pump);

// Appends a cell field: the text, blanks up to width, and a tab. A text longer than width gets
// the tab alone.
inline void appendCellField(QString& line, const QString& text, qsizetype width)
{
    line += text;
    if (width > text.size())
        line.resize(line.size() + (width - text.size()), QLatin1Char(' '));
    line += QLatin1Char('\t');
}

} // namespace velmoran
