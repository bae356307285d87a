#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

namespace velmoran::test {

// The first worksheet of an .xlsx workbook read back: the text of every cell by its reference
// ("B2"), whether every cell is a shared-string (text) cell, and the column widths by column
// number. read is false when the workbook or its sheet cannot be read.
struct WorkbookSheet {
    QHash<QString, QString> cells;
    bool allText = true;
    QHash<int, double> widths;
    bool read = false;
};

WorkbookSheet readWorkbookSheet(const QString& path);

} // namespace velmoran::test
