#include "core/local_time.h"

#include <QDateTime>
#include <QTimeZone>

#include <ctime>
#include <limits>

namespace velmoran {

int localOffsetSeconds(qint64 utcMilliseconds)
{
    const time_t t = time_t(floorDiv(utcMilliseconds, 1000));
    tm local{};
    if (localtime_r(&t, &local))
        return int(local.tm_gmtoff);
    // Beyond the years the C library can write.
    return QDateTime::fromMSecsSinceEpoch(utcMilliseconds, Qt::LocalTime).offsetFromUtc();
}

QDateTime localWallClock(qint64 utcMilliseconds)
{
    return QDateTime::fromMSecsSinceEpoch(
        utcMilliseconds + qint64(localOffsetSeconds(utcMilliseconds)) * 1000, Qt::UTC);
}

LocalOffsets::LocalOffsets(qint64 fromMs, qint64 toMs)
{
    const QDateTime from = QDateTime::fromMSecsSinceEpoch(fromMs, Qt::UTC);
    const QTimeZone zone = QTimeZone::systemTimeZone();
    if (!zone.isValid()) {
        m_changes.push_back(
            {std::numeric_limits<qint64>::min(),
             qint64(QDateTime::fromMSecsSinceEpoch(fromMs).offsetFromUtc()) * 1000});
        return;
    }
    m_changes.push_back(
        {std::numeric_limits<qint64>::min(), qint64(zone.offsetFromUtc(from)) * 1000});
    if (!zone.hasTransitions())
        return;
    const auto transitions = zone.transitions(from, QDateTime::fromMSecsSinceEpoch(toMs, Qt::UTC));
    for (const QTimeZone::OffsetData& change : transitions)
        m_changes.push_back(
            {change.atUtc.toMSecsSinceEpoch(), qint64(change.offsetFromUtc) * 1000});
}

qint64 LocalOffsets::offsetMs(qint64 utcMs)
{
    while (m_at + 1 < m_changes.size() && utcMs >= m_changes[m_at + 1].fromMs)
        ++m_at;
    while (m_at > 0 && utcMs < m_changes[m_at].fromMs)
        --m_at;
    return m_changes[m_at].offsetMs;
}

} // namespace velmoran
