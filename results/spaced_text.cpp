#include "spaced_text.h"

#include "text_table.h"

namespace velmoran {

std::vector<qsizetype> ColumnWidths(const TextTable& list, bool withHeaders, EventPump* pump)
{
    std::vector<qsizetype> widths;
    const int columns = list.columns();
    const qsizetype n = list.size();
    widths.reserve(size_t(columns));
    YieldPoints yield(pump);
    for (int c = 1; c <= columns; ++c) {
        qsizetype m = withHeaders ? list.headerText(c).size() : 0;
        for (qsizetype k = 1; k <= n; ++k) {
            yield();
            m = std::max(m, list.text(k, c).size());
        }
        widths.push_back(m);
    }
    return widths;
}

} // namespace velmoran
