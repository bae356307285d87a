#pragma once

#include "event_pump.h"

#include <QString>

#include <vector>

namespace velmoran {

class TextTable;

// Lets window events run when there is a window to serve (a pump); a command-line caller passes
// none.
inline void yieldTo(EventPump* pump)
{
    if (pump)
        pump->yield();
}

// The width of every column, in UTF-16 code units: the longest text of the column over all
// rows, ticked or not, and over the header texts when withHeaders. Events run before each cell
// is measured. Throws Failure when a row or column cannot be read.
std::vector<qsizetype> ColumnWidths(const TextTable& list, bool withHeaders, EventPump* pump);

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

