#pragma once

#include "app/report_list_model.h"
#include "results/results_rows.h"

#include <functional>
#include <vector>

namespace velmoran {

// The results list as the window shows it: the rows of results with a tick each, built for
// millions of rows.
//
// The program reads and changes rows through size(), text(), append() and remove...(); those
// always see every row. The view is told of appended rows in batches (announcePending()), so a
// search that appends thousands of rows a second does not re-lay out the view for each one.
// Every removal announces pending rows first, so the view never sees a stale position.
class ResultsModel final : public ReportListModel {
    Q_OBJECT
public:
    explicit ResultsModel(QObject* parent = nullptr);

    // Every row, announced or not, as the exports read them.
    const ResultRows& rows() const { return m_rows; }
    // The header texts of the columns added so far.
    const QStringList& headerTexts() const { return headers(); }

    qsizetype size() const { return m_rows.size(); }
    // Positions and columns are 1-based; a missing row or column throws Failure.
    QString text(qsizetype row, int column) const { return m_rows.text(row, column); }
    const QString& contact(qsizetype row) const { return m_rows.contact(row); }
    MessageField field(qsizetype row) const { return m_rows.field(row); }
    const QString& value(qsizetype row) const { return m_rows.value(row); }
    bool isChecked(qsizetype row) const { return m_rows.isChecked(row); }
    void setChecked(qsizetype row, bool checked) override;

    // Appends a ticked row. Shown by the view at the next announcePending(), or at once when
    // announcements are not deferred.
    void append(const QString& contact, MessageField field, const QString& value);
    // The same for a row that knows its message.
    void append(const QString& contact, MessageField field, const QString& value, MessageRef ref);
    MessageRef messageRef(qsizetype row) const { return m_rows.messageRef(row); }

    // The histories rows refer to are kept here, each once, until the list is cleared: a row's
    // message can still be shown, or found again in a history read since. The slot for a
    // history (0 when it is null or the table is full), and the history of a slot.
    quint8 sourceSlot(const ChatHistoryPtr& history);
    ChatHistoryPtr sourceHistory(quint8 slot) const;
    static constexpr size_t MaxSources = 255;
    void setDeferAnnouncements(bool defer);
    // Runs before every append with the number of rows; what it throws reaches the caller and
    // no row is added. Lets tests make an append fail as running out of memory does.
    void setAppendCheck(std::function<void(qsizetype rows)> check)
    {
        m_appendCheck = std::move(check);
    }
    void announcePending();

    void removeRow(qsizetype row);
    // Removes the rows at the given positions (ascending, 1-based) in one pass; the other rows
    // keep their order. Throws Failure, removing nothing, when a position is out of order or
    // names no row.
    void removePositions(const std::vector<qsizetype>& ascendingPositions);
    void clear();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    ResultRows m_rows;
    std::vector<ChatHistoryPtr> m_sources;
    qsizetype m_announced = 0;
    bool m_deferAnnouncements = false;
    std::function<void(qsizetype)> m_appendCheck;
};

} // namespace velmoran
