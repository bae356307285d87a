#pragma once

#include <QString>

#include <vector>

namespace velmoran {

// Inline SVG charts for the archive's pages: no scripts, colours from the style sheet's chart
// classes (so dark mode and print follow it), a <title> on every bar with its exact count and
// label, role="img" and an aria-label on the picture.

// A month as one number, year * 12 + month - 1, so months count and compare as integers.
int monthNumber(int year, int month);
// "November 2024" in the locale's month names.
QString monthText(int monthNumber);
// "1 message", "1,234 messages".
QString messagesText(qint64 count);

struct MonthCount {
    int month; // monthNumber
    qint64 messages;
};

// Appends the bars of messages per month from firstMonth to lastMonth (a month without
// messages keeps its place), months given in order within that span; labels years, or every
// few months of a short span. height: of the picture, in the units of its 720-wide view box.
void appendMonthChart(QString& out, const std::vector<MonthCount>& months, int firstMonth,
                      int lastMonth, int height, QStringView label);

// Appends a number of the view box's units, to a tenth.
void appendUnits(QString& out, double units);
// Appends an SVG text element of the style sheet's class cssClass at x, y (the text escaped).
void appendText(QString& out, const char* cssClass, double x, double y, QStringView text);

} // namespace velmoran
