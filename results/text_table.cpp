#include "text_table.h"

#include "results_model.h"

namespace velmoran {

int ResultsTable::columns() const
{
    return m_results.columns();
}

QString ResultsTable::headerText(int column) const
{
    return m_results.headerText(column);
}

qsizetype ResultsTable::size() const
{
    return m_results.size();
}

QString ResultsTable::text(qsizetype row, int column) const
{
    return m_results.text(row, column);
}

bool ResultsTable::isChecked(qsizetype row) const
{
    return m_results.isChecked(row);
}

} // namespace velmoran
