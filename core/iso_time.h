#pragma once

#include <QtGlobal>

#include <optional>
#include <string_view>

namespace velmoran {

// The one reader of ISO 8601 dates and times, for the export's message times and the command
// line's --since and --until: "2021-03-04", "2021-03-04T05:06", "2021-03-04T05:06:07.890Z",
// "2021-03-04 05:06:07+01:00". Each caller says which of the optional pieces it takes.
struct IsoFields {
    int year = 0;
    int month = 0;
    int day = 0;
    bool hasTime = false;        // a time follows the date
    bool spaceSeparated = false; // by " " rather than "T"
    int hour = 0;
    int minute = 0;
    bool hasSeconds = false;
    int second = 0;         // up to 60, a leap second
    int fractionDigits = 0; // digits after the seconds' "."
    int millis = 0;         // the first three of them
    bool hasZone = false;   // "Z" or an offset follows
    int offsetMinutes = 0;  // east of UTC
};

// The fields of text, which must be of that form whole with every field in its range (a real
// day of its month, hours to 23, minutes to 59, offsets to 23:59); nothing otherwise.
std::optional<IsoFields> readIsoFields(std::string_view text);

// Milliseconds since the epoch of the fields' date and time less their offset (none: as UTC).
qint64 isoUtcMs(const IsoFields& fields);

} // namespace velmoran
