#include "results/results_rows.h"

#include "core/failure.h"

namespace velmoran {

const ResultsRow& ResultRows::rowAt(qsizetype row) const
{
    if (row < 1 || row > size())
        throw Failure(QStringLiteral("Invalid index: results row %1 does not exist.").arg(row));
    return m_rows[row - 1];
}

QString ResultRows::text(qsizetype row, int column) const
{
    const ResultsRow& r = rowAt(row);
    switch (column) {
    case 1:
        return r.contact;
    case 2:
        return messageFieldText(r.field);
    case 3:
        return r.value;
    }
    throw Failure(QStringLiteral("Invalid index: column %1 does not exist.").arg(column));
}

void ResultRows::setChecked(qsizetype row, bool checked)
{
    rowAt(row);
    m_rows[row - 1].checked = checked;
}

void ResultRows::checkPositions(const std::vector<qsizetype>& positions) const
{
    qsizetype previous = 0;
    for (const qsizetype position : positions) {
        if (position <= previous)
            throw Failure(QStringLiteral("Invalid index: results row positions must rise."));
        rowAt(position);
        previous = position;
    }
}

void ResultRows::removeRange(qsizetype first, qsizetype last)
{
    m_rows.erase(m_rows.begin() + (first - 1), m_rows.begin() + last);
}

void ResultRows::removePositions(const std::vector<qsizetype>& positions)
{
    if (positions.empty())
        return;
    qsizetype kept = positions.front() - 1;
    size_t next = 0;
    for (qsizetype i = kept; i < m_rows.size(); ++i) {
        if (next < positions.size() && i + 1 == positions[next]) {
            ++next;
            continue;
        }
        m_rows[kept++] = std::move(m_rows[i]);
    }
    m_rows.resize(kept);
}

void ResultRows::clear()
{
    m_rows.clear();
    m_rows.shrink_to_fit();
}

} // namespace velmoran
