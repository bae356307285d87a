#include "results/workbook_writer.h"

#include "core/event_pump.h"
#include "core/failure.h"
#include "results/text_table.h"

#include <QFile>

#include <xlsxwriter.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace velmoran {

namespace {

// The widest a worksheet column can be, in characters.
constexpr double MaxColumnWidth = 255;

QString workbookFailure(const QString& path, lxw_error error)
{
    return QStringLiteral("Cannot write the workbook %1: %2")
        .arg(path, QString::fromUtf8(lxw_strerror(error)));
}

// A workbook that was not closed (written) is dropped without writing anything.
struct WorkbookDiscarder {
    void operator()(lxw_workbook* workbook) const { lxw_workbook_free(workbook); }
};

struct RowsExhausted {};

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// True when an "_xHHHH_" escape starts at text[at].
bool startsEscape(QStringView text, qsizetype at)
{
    if (at + 7 > text.size() || text[at] != u'_' || text[at + 1] != u'x' || text[at + 6] != u'_')
        return false;
    for (qsizetype i = at + 2; i < at + 6; ++i) {
        if (!isHexDigit(text[i]))
            return false;
    }
    return true;
}

// The text as a cell's XML holds it. A reader turns every "_xHHHH_" back into the character
// HHHH, so an underscore that starts such a pattern is written as "_x005F_"; NUL, which
// libxlsxwriter cannot take in its C strings, is written as "_x0000_". libxlsxwriter escapes
// the other control characters itself and leaves these patterns as they are.
//
// libxlsxwriter refuses a text of more characters (code points) than a cell holds, counting
// the escapes, so a text that grows beyond it is cut, at a character, to what fits: text is
// shortened to the part that was kept.
QString cellXmlText(QString& text)
{
    if (!text.contains(QChar(u'\0')) && !text.contains(u"_x"))
        return text;
    QString xml;
    qsizetype codePoints = 0;
    qsizetype at = 0;
    auto add = [&](QStringView piece, qsizetype units, qsizetype points) {
        if (codePoints + points > MaxCellText)
            return false;
        xml += piece;
        codePoints += points;
        at += units;
        return true;
    };
    while (at < text.size()) {
        const QChar c = text[at];
        bool added;
        if (c == u'\0')
            added = add(u"_x0000_", 1, 7);
        else if (startsEscape(text, at))
            added = add(u"_x005F_", 1, 7);
        else if (c.isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate())
            added = add(QStringView(text).mid(at, 2), 2, 1);
        else
            added = add(QStringView(text).mid(at, 1), 1, 1);
        if (!added) {
            text.truncate(at);
            break;
        }
    }
    return xml;
}

class SheetWriter {
public:
    SheetWriter(lxw_worksheet* sheet, const QString& path)
        : m_sheet(sheet)
        , m_path(path)
    {
    }

    // Writes a text cell; row and column count from 0.
    void write(lxw_row_t row, lxw_col_t column, QString text)
    {
        if (row >= LXW_ROW_MAX)
            throw RowsExhausted{};
        if (text.size() > MaxCellText) {
            qsizetype cut = MaxCellText;
            if (text[cut - 1].isHighSurrogate())
                --cut;
            text.truncate(cut);
        }
        const QByteArray utf8 = cellXmlText(text).toUtf8();
        const lxw_error error =
            worksheet_write_string(m_sheet, row, column, utf8.constData(), nullptr);
        if (error != LXW_NO_ERROR)
            throw Failure(workbookFailure(m_path, error));
        if (size_t(column) >= m_widths.size())
            m_widths.resize(size_t(column) + 1, 0);
        m_widths[column] = std::max(m_widths[column], fittedWidth(text));
    }

    void fitColumns()
    {
        for (size_t column = 0; column < m_widths.size(); ++column) {
            const double width = std::min(MaxColumnWidth, double(m_widths[column]) + 1);
            worksheet_set_column(m_sheet, lxw_col_t(column), lxw_col_t(column), width, nullptr);
        }
    }

private:
    lxw_worksheet* m_sheet;
    const QString& m_path;
    std::vector<qsizetype> m_widths;
};

} // namespace

qsizetype fittedWidth(const QString& text)
{
    qsizetype widest = 0;
    qsizetype lineStart = 0;
    for (;;) {
        const qsizetype lineEnd = text.indexOf(QLatin1Char('\n'), lineStart);
        const qsizetype end = lineEnd < 0 ? text.size() : lineEnd;
        qsizetype length = end - lineStart;
        if (length > 0 && text[end - 1] == QLatin1Char('\r'))
            --length;
        widest = std::max(widest, length);
        if (lineEnd < 0)
            return widest;
        lineStart = lineEnd + 1;
    }
}

std::optional<QString> writeWorkbook(const TextTable& list, const QString& path, EventPump* pump)
{
    const QByteArray file = QFile::encodeName(path);
    std::unique_ptr<lxw_workbook, WorkbookDiscarder> workbook(workbook_new(file.constData()));
    lxw_worksheet* sheet = workbook ? workbook_add_worksheet(workbook.get(), nullptr) : nullptr;
    if (!sheet)
        throw Failure(QStringLiteral("Cannot create the workbook %1.").arg(path));
    SheetWriter writer(sheet, path);

    const int columns = list.columns();
    const qsizetype n = list.size();
    auto yield = [pump] { yieldTo(pump); };
    lxw_col_t column = 0;
    for (int k = 1; k <= columns && n > 0; ++k) {
        yield();
        if (!list.text(1, k).isEmpty())
            writer.write(0, column++, list.headerText(k));
    }
    std::optional<QString> shortened;
    try {
        for (qsizetype r = 1; r <= n; ++r) {
            yield();
            column = 0;
            for (int k = 1; k <= columns; ++k) {
                yield();
                QString text = list.text(r, k);
                if (text.isEmpty())
                    continue;
                if (k > 1)
                    text.remove(QLatin1Char('='));
                writer.write(lxw_row_t(r), column++, std::move(text));
            }
        }
    } catch (const RowsExhausted&) {
        shortened = QStringLiteral("The workbook holds the first %1 rows of results only: a "
                                   "worksheet has no more rows.")
                        .arg(LXW_ROW_MAX - 1);
    }
    writer.fitColumns();

    const lxw_error closed = workbook_close(workbook.release());
    if (closed != LXW_NO_ERROR)
        throw Failure(workbookFailure(path, closed));
    return shortened;
}

} // namespace velmoran
