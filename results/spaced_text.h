#pragma once

#include "event_pump.h"

#include <QString>

#include <vector>

namespace velmoran {

class TextTable;

// The yields of an export's loops: window events run through the pump when there is a window
// to serve; a command-line caller passes none. The loops yield several times per row, so the
// pump's clock is consulted only at every 32nd yield when it gates events by time.
class YieldPoints {
public:
    explicit YieldPoints(EventPump* pump)
        : m_pump(pump)
    {
    }
    void operator()()
    {
        if (!m_pump)
            return;
        if (m_pump->minimumInterval() > 0 && (++m_calls & 31u) != 0)
            return;
        m_pump->yield();
    }

private:
    EventPump* m_pump;
    unsigned m_calls = 0;
};

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

