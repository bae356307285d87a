#include "results_model.h"

#include "failure.h"

namespace velmoran {

QString resultFieldText(ResultField field)
{
    switch (field) {
    case ResultField::FromDisplayName:
        return QStringLiteral("From Display Name");
    case ResultField::Body:
        return QStringLiteral("Body");
    case ResultField::Timestamp:
        return QStringLiteral("Timestamp");
    }
    return {};
}

ResultsModel::ResultsModel(QObject* parent)
    : ReportListModel(parent)
{
}

QString ResultsModel::headerText(int column) const
{
    if (column < 1 || column > columns())
        throw Failure(QStringLiteral("Invalid index: column %1 does not exist.").arg(column));
    return headers()[column - 1];
}

const ResultsModel::Row& ResultsModel::rowAt(qsizetype row) const
{
    if (row < 1 || row > size())
        throw Failure(QStringLiteral("Invalid index: results row %1 does not exist.").arg(row));
    return m_rows[size_t(row - 1)];
}

QString ResultsModel::text(qsizetype row, int column) const
{
    const Row& r = rowAt(row);
    switch (column) {
    case 1:
        return r.contact;
    case 2:
        return resultFieldText(r.field);
    case 3:
        return r.value;
    }
    throw Failure(QStringLiteral("Invalid index: column %1 does not exist.").arg(column));
}

const QString& ResultsModel::contact(qsizetype row) const
{
    return rowAt(row).contact;
}

ResultField ResultsModel::field(qsizetype row) const
{
    return rowAt(row).field;
}

const QString& ResultsModel::value(qsizetype row) const
{
    return rowAt(row).value;
}

bool ResultsModel::isChecked(qsizetype row) const
{
    return rowAt(row).checked;
}

void ResultsModel::setChecked(qsizetype row, bool checked)
{
    rowAt(row);
    m_rows[size_t(row - 1)].checked = checked;
    if (row <= m_announced) {
        const QModelIndex changed = index(int(row - 1), 0);
        emit dataChanged(changed, changed, {Qt::CheckStateRole});
    }
}

void ResultsModel::append(const QString& contact, ResultField field, const QString& value)
{
    m_rows.push_back({contact, value, field, true});
    if (!m_deferAnnouncements)
        announcePending();
}

void ResultsModel::setDeferAnnouncements(bool defer)
{
    m_deferAnnouncements = defer;
    if (!defer)
        announcePending();
}

void ResultsModel::announcePending()
{
    if (m_announced == size())
        return;
    beginInsertRows({}, int(m_announced), int(size() - 1));
    m_announced = size();
    endInsertRows();
}

void ResultsModel::removeRow(qsizetype row)
{
    rowAt(row);
    announcePending();
    beginRemoveRows({}, int(row - 1), int(row - 1));
    m_rows.erase(m_rows.begin() + (row - 1));
    m_announced = size();
    endRemoveRows();
}

void ResultsModel::removePositions(const std::vector<qsizetype>& positions)
{
    if (positions.empty())
        return;
    qsizetype previous = 0;
    for (const qsizetype position : positions) {
        if (position <= previous)
            throw Failure(QStringLiteral("Invalid index: results row positions must rise."));
        rowAt(position);
        previous = position;
    }
    announcePending();

    // Runs of adjacent positions, each one removal for the view.
    std::vector<std::pair<qsizetype, qsizetype>> runs;
    for (const qsizetype position : positions) {
        if (!runs.empty() && runs.back().second + 1 == position)
            runs.back().second = position;
        else
            runs.emplace_back(position, position);
    }

    // A few runs are told to the view one by one, from the last up, so it keeps its scroll
    // position and selection; many scattered runs would cost the view a relayout each, so the
    // view is then told once that everything changed.
    const size_t MaxSeparateRemovals = 64;
    if (runs.size() <= MaxSeparateRemovals) {
        for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
            beginRemoveRows({}, int(run->first - 1), int(run->second - 1));
            m_rows.erase(m_rows.begin() + (run->first - 1), m_rows.begin() + run->second);
            m_announced = size();
            endRemoveRows();
        }
        return;
    }

    beginResetModel();
    size_t kept = size_t(positions.front() - 1);
    size_t next = 0;
    for (size_t i = kept; i < size_t(m_rows.size()); ++i) {
        if (next < positions.size() && qsizetype(i + 1) == positions[next]) {
            ++next;
            continue;
        }
        m_rows[kept++] = std::move(m_rows[i]);
    }
    m_rows.resize(kept);
    m_announced = size();
    endResetModel();
}

void ResultsModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_announced = 0;
    endResetModel();
}

int ResultsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_announced);
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_announced || index.column() >= columns())
        return {};
    const Row& row = m_rows[size_t(index.row())];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
        case 0:
            return row.contact;
        case 1:
            return resultFieldText(row.field);
        default:
            return row.value;
        }
    }
    if (role == Qt::CheckStateRole && index.column() == 0)
        return row.checked ? Qt::Checked : Qt::Unchecked;
    return {};
}

} // namespace velmoran
