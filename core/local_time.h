#pragma once

#include <QDateTime>
#include <QtGlobal>

#include <vector>

namespace velmoran {

// Local time for messages stored in UTC: the one place that asks what the local zone's offset
// is, and the arithmetic that turns UTC milliseconds into local days. Histories span years and
// hold millions of messages, so offsets are read once and then looked up.

inline constexpr qint64 MsPerDay = 86'400'000;
// The Julian day of 1 January 1970 (QDate::fromJulianDay of a day number since then).
inline constexpr qint64 UnixEpochJulianDay = 2'440'588;

// a / b rounded down (towards minus infinity); b > 0.
constexpr qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// The local zone's offset from UTC at utcMilliseconds, in seconds, as the C library tells it
// (it reads the zone settings once per process, where QDateTime reads them again each time);
// QDateTime's answer beyond the years the C library handles.
int localOffsetSeconds(qint64 utcMilliseconds);

// The local date and time of utcMilliseconds: a QDateTime in UTC whose date and time read as
// the local ones, so reading them never asks the zone settings again (a local QDateTime does,
// at every conversion).
QDateTime localWallClock(qint64 utcMilliseconds);

// The local zone's offsets over a span of time, read once from the zone's transitions, so the
// local day of any time in the span is plain arithmetic. Times are looked up mostly in rising
// order; times outside the span take the nearest end's offset.
class LocalOffsets {
public:
    LocalOffsets(qint64 fromMs, qint64 toMs);

    // The offset from UTC at utcMs, in milliseconds.
    qint64 offsetMs(qint64 utcMs);
    // Days since 1 January 1970 of a UTC time, in local time.
    qint64 localDay(qint64 utcMs) { return floorDiv(utcMs + offsetMs(utcMs), MsPerDay); }

private:
    struct Change {
        qint64 fromMs;
        qint64 offsetMs;
    };
    std::vector<Change> m_changes; // by time; the first holds from the start of time
    size_t m_at = 0;
};

} // namespace velmoran
