#include "app/report_list_model.h"

namespace velmoran {

void ReportListModel::addColumn(const QString& header)
{
    const int column = columns();
    beginInsertColumns({}, column, column);
    m_headers << header;
    endInsertColumns();
}

int ReportListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columns();
}

bool ReportListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != 0
        || index.row() >= rowCount())
        return false;
    setChecked(index.row() + 1, value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags ReportListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0)
        result |= Qt::ItemIsUserCheckable;
    return result;
}

QVariant ReportListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_headers.value(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

} // namespace velmoran
