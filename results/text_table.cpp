#include "results/text_table.h"

#include "core/failure.h"
#include "results/results_rows.h"

namespace velmoran {

int ResultsTable::columns() const
{
    return int(m_headers.size());
}

QString ResultsTable::headerText(int column) const
{
    if (column < 1 || column > columns())
        throw Failure(QStringLiteral("Invalid index: column %1 does not exist.").arg(column));
    return m_headers[column - 1];
}

qsizetype ResultsTable::size() const
{
    return m_rows.size();
}

QString ResultsTable::text(qsizetype row, int column) const
{
    return m_rows.text(row, column);
}

bool ResultsTable::isChecked(qsizetype row) const
{
    return m_rows.isChecked(row);
}

} // namespace velmoran
