#include "archive/svg_charts.h"

#include "archive/html_text.h"

#include <QDate>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace velmoran {

namespace {

constexpr double Width = 720;
constexpr double Left = 48; // room for the counts of the grid lines
constexpr double Right = 712;

// The top of the scale: most itself when small, else the next of a few round steps, so the
// busiest bar nearly fills the chart.
qint64 roundedUp(qint64 most)
{
    if (most <= 10)
        return most;
    for (qint64 power = 1;; power *= 10) {
        for (const qint64 step : {10, 12, 15, 20, 25, 30, 40, 50, 60, 80}) {
            if (step * power >= most)
                return step * power;
        }
    }
}

// The labels under the bars: years (every few years for a long span), or months of a span of
// two years or less, each where there is room for it.
void appendMonthLabels(QString& out, QString& ticks, int first, int last, double slot, double y,
                       double tickTop, double tickBottom)
{
    const QLocale locale;
    const int count = last - first + 1;
    const auto xOf = [&](int month) { return Left + (month - first) * slot; };
    const auto tick = [&](int month) {
        ticks += u'M';
        appendUnits(ticks, xOf(month));
        ticks += u' ';
        appendUnits(ticks, tickTop);
        ticks += u'V';
        appendUnits(ticks, tickBottom);
    };
    if (count <= 24) {
        const int step = count <= 8 ? 1 : count <= 16 ? 2 : 3;
        bool firstLabel = true;
        for (int month = first; month <= last; ++month) {
            if (month % step != 0 && count > 1)
                continue;
            const QDate date(month / 12, month % 12 + 1, 1);
            const bool withYear = firstLabel || date.month() == 1;
            firstLabel = false;
            const QString text = locale.toString(date, withYear ? QStringLiteral("MMM yyyy")
                                                                : QStringLiteral("MMM"));
            appendText(out, "m", xOf(month) + slot / 2, y, text);
            if (month > first && date.month() == 1)
                tick(month);
        }
        return;
    }
    const int firstYear = first / 12;
    const int lastYear = last / 12;
    int step = 1;
    for (const int candidate : {1, 2, 5, 10, 20, 50, 100}) {
        step = candidate;
        if ((lastYear - firstYear) / candidate + 1 <= 12)
            break;
    }
    for (int year = firstYear; year <= lastYear; ++year) {
        const int january = year * 12;
        if (step == 1) {
            // Under the middle of the year's months, when at least three of them are shown.
            const int from = std::max(january, first);
            const int to = std::min(january + 11, last);
            if (to - from >= 2)
                appendText(out, "m", (xOf(from) + xOf(to + 1)) / 2, y, QString::number(year));
            if (january > first)
                tick(january);
        } else if (year % step == 0 && january >= first) {
            const double x = xOf(january);
            appendText(out,
                       x - Left < 16    ? "s"
                       : Right - x < 16 ? "e"
                                        : "m",
                       x, y, QString::number(year));
            tick(january);
        }
    }
}

} // namespace

int monthNumber(int year, int month)
{
    return year * 12 + month - 1;
}

QString monthText(int month)
{
    return QLocale().toString(QDate(month / 12, month % 12 + 1, 1), QStringLiteral("MMMM yyyy"));
}

QString messagesText(qint64 count)
{
    return count == 1 ? QStringLiteral("1 message")
                      : QStringLiteral("%1 messages").arg(QLocale().toString(count));
}

void appendUnits(QString& out, double units)
{
    const qint64 tenths = std::llround(units * 10);
    out += QString::number(tenths / 10);
    if (const qint64 rest = std::abs(tenths % 10); rest != 0) {
        out += u'.';
        out += QChar(u'0' + int(rest));
    }
}

void appendText(QString& out, const char* cssClass, double x, double y, QStringView text)
{
    out += QLatin1StringView("<text class=\"");
    out += QLatin1StringView(cssClass);
    out += QLatin1StringView("\" x=\"");
    appendUnits(out, x);
    out += QLatin1StringView("\" y=\"");
    appendUnits(out, y);
    out += QLatin1StringView("\">");
    appendHtmlText(out, text);
    out += QLatin1StringView("</text>");
}

void appendMonthChart(QString& out, const std::vector<MonthCount>& months, int firstMonth,
                      int lastMonth, int height, QStringView label)
{
    const QLocale locale;
    const int count = std::max(1, lastMonth - firstMonth + 1);
    const double top = 8;
    const double bottom = height - 18;
    const double slot = (Right - Left) / count;
    const double barWidth = slot >= 3 ? slot * 0.8 : slot;
    qint64 most = 0;
    qint64 total = 0;
    int busiest = firstMonth;
    for (const MonthCount& m : months) {
        total += m.messages;
        if (m.messages > most) {
            most = m.messages;
            busiest = m.month;
        }
    }
    const qint64 scale = roundedUp(std::max<qint64>(most, 1));

    QString description = label.toString();
    description += QStringLiteral(", %1 to %2: %3")
                       .arg(monthText(firstMonth), monthText(lastMonth), messagesText(total));
    if (most > 0)
        description +=
            QStringLiteral(", the most in %1 (%2)").arg(monthText(busiest), locale.toString(most));
    out += QLatin1StringView("<svg class=\"chart\" viewBox=\"0 0 ");
    appendUnits(out, Width);
    out += u' ';
    out += QString::number(height);
    out += QLatin1StringView("\" role=\"img\" aria-label=\"");
    appendHtmlText(out, description);
    out += QLatin1StringView("\">");

    // Grid lines at the scale and, on a chart tall enough, its half, with their counts.
    QString grid;
    for (const qint64 value : {scale, scale / 2}) {
        if (value == 0 || (value == scale / 2 && (scale % 2 != 0 || height < 100)))
            continue;
        const double y = bottom - (bottom - top) * double(value) / double(scale);
        grid += u'M';
        appendUnits(grid, Left);
        grid += u' ';
        appendUnits(grid, y);
        grid += u'H';
        appendUnits(grid, Right);
        appendText(out, "e", Left - 6, y + 4, locale.toString(value));
    }
    out += QLatin1StringView("<path class=\"grid\" d=\"");
    out += grid;
    out += QLatin1StringView("\"/>");

    // Each bar a stroke as wide as the group says: a month costs few bytes on a long span.
    out += QLatin1StringView("<g class=\"bars\" stroke-width=\"");
    appendUnits(out, std::max(0.1, barWidth));
    out += QLatin1StringView("\">");
    for (const MonthCount& m : months) {
        if (m.messages <= 0 || m.month < firstMonth || m.month > lastMonth)
            continue;
        out += QLatin1StringView("<path d=\"M");
        appendUnits(out, Left + (m.month - firstMonth + 0.5) * slot);
        out += u' ';
        appendUnits(out, bottom);
        out += QLatin1StringView("v-");
        appendUnits(out, std::max(1.0, (bottom - top) * double(m.messages) / double(scale)));
        out += QLatin1StringView("\"><title>");
        appendHtmlText(out, monthText(m.month));
        out += QLatin1StringView(": ");
        appendHtmlText(out, messagesText(m.messages));
        out += QLatin1StringView("</title></path>");
    }
    out += QLatin1StringView("</g>");

    QString ticks;
    ticks += u'M';
    appendUnits(ticks, Left);
    ticks += u' ';
    appendUnits(ticks, bottom);
    ticks += u'H';
    appendUnits(ticks, Right);
    appendMonthLabels(out, ticks, firstMonth, firstMonth + count - 1, slot, height - 4, bottom,
                      bottom + 5);
    out += QLatin1StringView("<path class=\"axis\" d=\"");
    out += ticks;
    out += QLatin1StringView("\"/></svg>\n");
}

} // namespace velmoran
