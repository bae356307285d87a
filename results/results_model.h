#pragma once

#include "report_list_model.h"

#include <QStringList>

#include <vector>

namespace velmoran {

// The message field a results row came from.
enum class ResultField : quint8 { FromDisplayName, Body, Timestamp };
QString resultFieldText(ResultField field);

// One row of the results list, as ResultsModel keeps it.
struct ResultsRow {
    QString contact;
    QString value;
    ResultField field;
    bool checked;
};

// The results list: rows of (contact, field, value) with a tick, built for millions of rows.
//
// The program reads and changes rows through size(), text(), append() and remove...(); those
// always see every row. The view is told of appended rows in batches (announcePending()), so a
// search that appends thousands of rows a second does not re-lay out the view for each one.
// Every removal announces pending rows first, so the view never sees a stale position.
class ResultsModel final : public ReportListModel {
    Q_OBJECT
public:
    explicit ResultsModel(QObject* parent = nullptr);

    QString headerText(int column) const;

    qsizetype size() const { return qsizetype(m_rows.size()); }
    // Positions and columns are 1-based; a missing row or column throws Failure.
    QString text(qsizetype row, int column) const;
    const QString& contact(qsizetype row) const;
    ResultField field(qsizetype row) const;
    const QString& value(qsizetype row) const;
    bool isChecked(qsizetype row) const;
    void setChecked(qsizetype row, bool checked) override;

    // Appends a ticked row. Shown by the view at the next announcePending(), or at once when
    // announcements are not deferred.
    void append(const QString& contact, ResultField field, const QString& value);
    void setDeferAnnouncements(bool defer);
    void announcePending();
    qsizetype pendingCount() const { return size() - m_announced; }

    void removeRow(qsizetype row);
    // Removes the rows at the given positions (ascending, 1-based) in one pass; the other rows
    // keep their order. Throws Failure, removing nothing, when a position is out of order or
    // names no row.
    void removePositions(const std::vector<qsizetype>& ascendingPositions);
    void clear();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    using Row = ResultsRow;
    const Row& rowAt(qsizetype row) const;

    // A QList, not a std::vector: rows are relocatable, so growing a list of millions of rows
    // reallocates in place instead of moving every row (which stalls the window).
    QList<Row> m_rows;
    qsizetype m_announced = 0;
    bool m_deferAnnouncements = false;
};

} // namespace velmoran

Q_DECLARE_TYPEINFO(velmoran::ResultsRow, Q_RELOCATABLE_TYPE);
