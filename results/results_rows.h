#pragma once

#include "chat/chat_history.h"

#include <QList>
#include <QString>

#include <vector>

namespace velmoran {

// Where a results row's message is: a history the results list keeps (by its slot, 1 to 255;
// 0 for none) and the chat and message indexes (0-based) in it. Small, as millions of rows
// carry one.
struct MessageRef {
    quint8 source = 0;
    quint32 chat = 0;
    quint32 message = 0;
    bool isSet() const { return source != 0; }
};

// One row of the results list: the contact, the message field and its value, a tick, and the
// message it came from when known.
struct ResultsRow {
    QString contact;
    QString value;
    MessageField field;
    bool checked;
    quint8 source = 0;
    quint32 chat = 0;
    quint32 message = 0;
};

} // namespace velmoran

Q_DECLARE_TYPEINFO(velmoran::ResultsRow, Q_RELOCATABLE_TYPE);

namespace velmoran {

// The rows of a results list as data, built for millions of rows. Positions and columns are
// 1-based (1 contact, 2 field, 3 value); a missing row or column throws Failure.
class ResultRows {
public:
    qsizetype size() const { return m_rows.size(); }
    QString text(qsizetype row, int column) const;
    const QString& contact(qsizetype row) const { return rowAt(row).contact; }
    MessageField field(qsizetype row) const { return rowAt(row).field; }
    const QString& value(qsizetype row) const { return rowAt(row).value; }
    bool isChecked(qsizetype row) const { return rowAt(row).checked; }
    void setChecked(qsizetype row, bool checked);

    // The row at a 0-based index, unchecked (for views that already know it exists).
    const ResultsRow& operator[](qsizetype index) const { return m_rows[index]; }

    // Appends a ticked row.
    void append(const QString& contact, MessageField field, const QString& value)
    {
        m_rows.push_back({contact, value, field, true});
    }
    // Appends a ticked row that knows its message.
    void append(const QString& contact, MessageField field, const QString& value, MessageRef ref)
    {
        m_rows.push_back({contact, value, field, true, ref.source, ref.chat, ref.message});
    }
    MessageRef messageRef(qsizetype row) const
    {
        const ResultsRow& r = rowAt(row);
        return {r.source, r.chat, r.message};
    }

    // Throws Failure unless the positions rise strictly and each names a row.
    void checkPositions(const std::vector<qsizetype>& ascendingPositions) const;
    // Removes rows first to last (inclusive); the positions must exist.
    void removeRange(qsizetype first, qsizetype last);
    // Removes the rows at checked positions in one pass; the other rows keep their order.
    void removePositions(const std::vector<qsizetype>& ascendingPositions);
    void clear();

private:
    const ResultsRow& rowAt(qsizetype row) const;

    // A QList, not a std::vector: rows are relocatable, so growing a list of millions of rows
    // reallocates in place instead of moving every row (which stalls the window).
    QList<ResultsRow> m_rows;
};

} // namespace velmoran
