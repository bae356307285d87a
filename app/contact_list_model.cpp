#include "app/contact_list_model.h"

#include "core/failure.h"

namespace velmoran {

ContactListModel::ContactListModel(QObject* parent)
    : ReportListModel(parent)
{
}

const ContactListModel::Row& ContactListModel::rowAt(qsizetype row) const
{
    if (row < 1 || row > size())
        throw Failure(
            QStringLiteral("Invalid index: contact list row %1 does not exist.").arg(row));
    return m_rows[size_t(row - 1)];
}

const QString& ContactListModel::text(qsizetype row) const
{
    return rowAt(row).handle;
}

bool ContactListModel::isChecked(qsizetype row) const
{
    return rowAt(row).checked;
}

void ContactListModel::setChecked(qsizetype row, bool checked)
{
    rowAt(row);
    m_rows[size_t(row - 1)].checked = checked;
    const QModelIndex changed = index(int(row - 1), 0);
    emit dataChanged(changed, changed, {Qt::CheckStateRole});
}

void ContactListModel::setCheckedRange(qsizetype first, qsizetype last, bool checked)
{
    if (last < first)
        return;
    rowAt(first);
    rowAt(last);
    for (qsizetype row = first; row <= last; ++row)
        m_rows[size_t(row - 1)].checked = checked;
    emit dataChanged(index(int(first - 1), 0), index(int(last - 1), 0), {Qt::CheckStateRole});
}

void ContactListModel::append(const QString& handle)
{
    appendAll({handle});
}

void ContactListModel::appendAll(const QStringList& handles)
{
    if (handles.isEmpty())
        return;
    const int first = int(m_rows.size());
    beginInsertRows({}, first, first + int(handles.size()) - 1);
    m_rows.reserve(m_rows.size() + size_t(handles.size()));
    for (const QString& handle : handles)
        m_rows.push_back({handle, false});
    endInsertRows();
}

int ContactListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant ContactListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() != 0 || size_t(index.row()) >= m_rows.size())
        return {};
    const Row& row = m_rows[size_t(index.row())];
    if (role == Qt::ToolTipRole && toolTipText())
        return toolTipText()(index.row(), index.column());
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return row.handle;
    if (role == Qt::CheckStateRole)
        return row.checked ? Qt::Checked : Qt::Unchecked;
    return {};
}

} // namespace velmoran
