#pragma once

#include <QString>
#include <QStringList>

namespace velmoran {

class ResultRows;

// A list as the exports read it: columns 1..columns() with header texts, rows 1..size() with a
// text per column and a tick. A missing row or column throws Failure.
class TextTable {
public:
    virtual ~TextTable() = default;
    virtual int columns() const = 0;
    virtual QString headerText(int column) const = 0;
    virtual qsizetype size() const = 0;
    virtual QString text(qsizetype row, int column) const = 0;
    virtual bool isChecked(qsizetype row) const = 0;
};

// Rows of results seen as a TextTable, under the given column headers ("Contact", "Field",
// "Value" in the window).
class ResultsTable final : public TextTable {
public:
    ResultsTable(const ResultRows& rows, QStringList headers)
        : m_rows(rows)
        , m_headers(std::move(headers))
    {
    }
    int columns() const override;
    QString headerText(int column) const override;
    qsizetype size() const override;
    QString text(qsizetype row, int column) const override;
    bool isChecked(qsizetype row) const override;

private:
    const ResultRows& m_rows;
    QStringList m_headers;
};

} // namespace velmoran
