#pragma once

#include "core/failure.h"
#include "results/text_table.h"

#include <QStringList>

#include <vector>

namespace velmoran::test {

// A list held in memory for the exports: header texts and rows of texts with ticks.
class MemoryTable final : public TextTable {
public:
    explicit MemoryTable(QStringList headers)
        : m_headers(std::move(headers))
    {
    }
    void add(QStringList cells, bool checked = true)
    {
        m_rows.push_back({std::move(cells), checked});
    }

    int columns() const override { return int(m_headers.size()); }
    QString headerText(int column) const override { return m_headers.at(column - 1); }
    qsizetype size() const override { return qsizetype(m_rows.size()); }
    QString text(qsizetype row, int column) const override
    {
        return rowAt(row).cells.at(column - 1);
    }
    bool isChecked(qsizetype row) const override { return rowAt(row).checked; }

private:
    struct Row {
        QStringList cells;
        bool checked;
    };
    const Row& rowAt(qsizetype row) const
    {
        if (row < 1 || row > size())
            throw Failure(QStringLiteral("Invalid index: row %1 does not exist.").arg(row));
        return m_rows[size_t(row - 1)];
    }
    QStringList m_headers;
    std::vector<Row> m_rows;
};

} // namespace velmoran::test
