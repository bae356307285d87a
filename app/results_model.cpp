#include "app/results_model.h"

#include "core/failure.h"

namespace velmoran {

ResultsModel::ResultsModel(QObject* parent)
    : ReportListModel(parent)
{
}

void ResultsModel::setChecked(qsizetype row, bool checked)
{
    m_rows.setChecked(row, checked);
    if (row <= m_announced) {
        const QModelIndex changed = index(int(row - 1), 0);
        emit dataChanged(changed, changed, {Qt::CheckStateRole});
    }
}

void ResultsModel::append(const QString& contact, MessageField field, const QString& value)
{
    if (m_appendCheck)
        m_appendCheck(size());
    m_rows.append(contact, field, value);
    if (!m_deferAnnouncements)
        announcePending();
}

void ResultsModel::append(const QString& contact, MessageField field, const QString& value,
                          MessageRef ref)
{
    if (m_appendCheck)
        m_appendCheck(size());
    m_rows.append(contact, field, value, ref);
    if (!m_deferAnnouncements)
        announcePending();
}

quint8 ResultsModel::sourceSlot(const ChatHistoryPtr& history)
{
    if (!history)
        return 0;
    for (size_t i = 0; i < m_sources.size(); ++i) {
        if (m_sources[i] == history)
            return quint8(i + 1);
    }
    if (m_sources.size() >= MaxSources)
        return 0;
    m_sources.push_back(history);
    return quint8(m_sources.size());
}

ChatHistoryPtr ResultsModel::sourceHistory(quint8 slot) const
{
    return slot >= 1 && slot <= m_sources.size() ? m_sources[slot - 1] : nullptr;
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
    m_rows.checkPositions({row});
    announcePending();
    beginRemoveRows({}, int(row - 1), int(row - 1));
    m_rows.removeRange(row, row);
    m_announced = size();
    endRemoveRows();
}

void ResultsModel::removePositions(const std::vector<qsizetype>& positions)
{
    if (positions.empty())
        return;
    m_rows.checkPositions(positions);
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
            m_rows.removeRange(run->first, run->second);
            m_announced = size();
            endRemoveRows();
        }
        return;
    }

    beginResetModel();
    m_rows.removePositions(positions);
    m_announced = size();
    endResetModel();
}

void ResultsModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_sources.clear();
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
    const ResultsRow& row = m_rows[index.row()];
    if (role == Qt::ToolTipRole && toolTipText())
        return toolTipText()(index.row(), index.column());
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
        case 0:
            return row.contact;
        case 1:
            return messageFieldText(row.field);
        default:
            return row.value;
        }
    }
    if (role == Qt::CheckStateRole && index.column() == 0)
        return row.checked ? Qt::Checked : Qt::Unchecked;
    return {};
}

} // namespace velmoran
