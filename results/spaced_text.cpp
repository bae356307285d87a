#include "results/spaced_text.h"

#include "core/event_pump.h"
#include "results/text_table.h"

namespace velmoran {

std::vector<qsizetype> ColumnWidths(const TextTable& list, bool withHeaders, EventPump* pump)
{
    std::vector<qsizetype> widths;
    const int columns = list.columns();
    const qsizetype n = list.size();
    widths.reserve(size_t(columns));
    auto yield = [pump] { yieldTo(pump); };
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

QString spacedClipboardText(const TextTable& list, EventPump* pump)
{
    const std::vector<qsizetype> widths = ColumnWidths(list, false, pump);
    const int columns = int(widths.size());
    const qsizetype n = list.size();
    auto yield = [pump] { yieldTo(pump); };
    QString text;
    for (qsizetype k = 1; k <= n; ++k) {
        yield();
        if (!list.isChecked(k))
            continue;
        for (int c = 1; c <= columns; ++c) {
            yield();
            appendCellField(text, list.text(k, c), widths[size_t(c - 1)]);
        }
        text.chop(1); // the last cell's tab
        qsizetype end = text.size();
        while (end > 0 && text[end - 1] == QLatin1Char(' '))
            --end;
        text.truncate(end);
        text += QLatin1String("\r\n");
    }
    return text;
}

} // namespace velmoran
