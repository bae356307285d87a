#pragma once

#include <QtGlobal>

#include <string_view>

namespace velmoran {

// Message times the history keeps: from 1970-01-01T00:00:00Z up to the end of the year 9999.
inline constexpr qint64 FirstPossibleMs = 0;
inline constexpr qint64 EndOfPossibleMs = 253'402'300'800'000; // 10000-01-01T00:00:00Z

// Parses an ISO 8601 UTC date and time as the export writes it ("2021-03-04T05:06:07.890Z",
// zero to three fraction digits; more are cut off; a "+hh:mm"/"-hh:mm" offset is applied) to
// milliseconds since the epoch. Answers false for anything else.
bool parseIsoTimestampMs(std::string_view text, qint64& ms);

// A time of a message's properties: UTC milliseconds written as digits (trailing white space
// allowed), before the end of the year 9999; -1 for anything else.
qint64 propertyTimeMs(std::string_view digits);

} // namespace velmoran
