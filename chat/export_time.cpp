#include "chat/export_time.h"

#include "core/iso_time.h"

#include <cstring>

namespace velmoran {

bool parseIsoTimestampMs(std::string_view text, qint64& ms)
{
    // The export writes the seconds and the zone, "T" or " " between date and time.
    const std::optional<IsoFields> fields = readIsoFields(text);
    if (!fields || !fields->hasSeconds || !fields->hasZone)
        return false;
    ms = isoUtcMs(*fields);
    return true;
}

qint64 propertyTimeMs(std::string_view digits)
{
    while (!digits.empty() && std::strchr(" \t\r\n", digits.back()))
        digits.remove_suffix(1);
    if (digits.empty() || digits.size() > 15)
        return -1;
    qint64 ms = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return -1;
        ms = ms * 10 + (c - '0');
    }
    return ms < EndOfPossibleMs ? ms : -1;
}

} // namespace velmoran
