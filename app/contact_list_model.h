#pragma once

#include "app/report_list_model.h"

#include <QStringList>

#include <vector>

namespace velmoran {

// The contact list: one row per listed handle, each with a tick. Rows are only ever appended;
// one handle may stand in several rows. Columns are added by the window at start-up.
class ContactListModel final : public ReportListModel {
    Q_OBJECT
public:
    explicit ContactListModel(QObject* parent = nullptr);

    qsizetype size() const { return qsizetype(m_rows.size()); }
    // 1-based, as the commands count rows. Out-of-range positions throw Failure.
    const QString& text(qsizetype row) const;
    bool isChecked(qsizetype row) const;
    void setChecked(qsizetype row, bool checked) override;
    // Sets the tick of rows first to last at once; the view hears of it in one announcement.
    // Throws Failure, changing nothing, when a position does not exist.
    void setCheckedRange(qsizetype first, qsizetype last, bool checked);
    void append(const QString& handle);
    // Appends one unticked row per handle, announced to the view as one insertion.
    void appendAll(const QStringList& handles);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    struct Row {
        QString handle;
        bool checked = false;
    };
    const Row& rowAt(qsizetype row) const;

    std::vector<Row> m_rows;
};

} // namespace velmoran
