#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include <functional>

namespace velmoran {

// A list in report view: columns added one by one with their header text, and a tick in the
// first column of every row that the user can change.
class ReportListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void addColumn(const QString& header);

    // What a cell's tooltip says (0-based row and column); without it, the cell's text.
    using ToolTipText = std::function<QString(int row, int column)>;
    void setToolTipText(ToolTipText text) { m_toolTipText = std::move(text); }
    int columns() const { return int(m_headers.size()); }

    // Rows are 1-based.
    virtual void setChecked(qsizetype row, bool checked) = 0;

    int columnCount(const QModelIndex& parent = {}) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

protected:
    const QStringList& headers() const { return m_headers; }
    const ToolTipText& toolTipText() const { return m_toolTipText; }

private:
    QStringList m_headers;
    ToolTipText m_toolTipText;
};

} // namespace velmoran
