#pragma once

#include <QString>

namespace velmoran {

class ResultsModel;

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

// The results list seen as a TextTable: "Contact", "Field", "Value".
class ResultsTable final : public TextTable {
public:
    explicit ResultsTable(const ResultsModel& results)
        : m_results(results)
    {
    }
    int columns() const override;
    QString headerText(int column) const override;
    qsizetype size() const override;
    QString text(qsizetype row, int column) const override;
    bool isChecked(qsizetype row) const override;

private:
    const ResultsModel& m_results;
};

} // namespace velmoran
