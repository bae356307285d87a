#include "timestamp_text.h"

#include <QDateTime>

namespace velmoran {

namespace {

const qint64 MsPerDay = 86'400'000;

qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// True when the format has field letter c outside quoted literals.
bool hasField(const QString& format, QChar c)
{
    bool quoted = false;
    for (QChar f : format) {
        if (f == QLatin1Char('\''))
            quoted = !quoted;
        else if (!quoted && f == c)
            return true;
    }
    return false;
}

} // namespace

QString longTimeFormatWithoutZone(const QLocale& locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    // Drop the zone field ("t", "tt", …) outside quoted literals, with the blank before it and
    // any brackets that held it alone.
    QString result;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            result += c;
        } else if (!quoted && c == QLatin1Char('t')) {
            while (!result.isEmpty() && result.back().isSpace())
                result.chop(1);
            if (!result.isEmpty() && result.back() == QLatin1Char('(') && i + 1 < format.size()
                && format[i + 1] == QLatin1Char(')')) {
                result.chop(1);
                ++i;
                while (!result.isEmpty() && result.back().isSpace())
                    result.chop(1);
            }
        } else {
            result += c;
        }
    }
    return result.trimmed();
}

TimestampText::TimestampText(const QLocale& locale)
    : m_locale(locale)
    , m_dateFormat(locale.dateFormat(QLocale::ShortFormat))
    , m_timeFormat(longTimeFormatWithoutZone(locale))
    , m_timeHasMilliseconds(hasField(m_timeFormat, QLatin1Char('z')))
{
}

QString TimestampText::formatUncached(qint64 utcMilliseconds) const
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(utcMilliseconds, Qt::LocalTime);
    const QString date = m_locale.toString(local.date(), m_dateFormat);
    const QTime time = local.time();
    if (time == QTime(0, 0))
        return date;
    return date + QLatin1Char(' ') + m_locale.toString(time, m_timeFormat);
}

const TimestampText::UtcDay& TimestampText::utcDay(qint64 utcMilliseconds)
{
    const qint64 day = floorDiv(utcMilliseconds, MsPerDay);
    if (m_haveUtcDay && m_lastUtcDay.day == day)
        return m_lastUtcDay;
    auto found = m_utcDays.constFind(day);
    if (found == m_utcDays.constEnd()) {
        // Offsets change at most once within a day; equal offsets at both ends mean none did.
        const int first = QDateTime::fromMSecsSinceEpoch(day * MsPerDay, Qt::LocalTime).offsetFromUtc();
        const int last = QDateTime::fromMSecsSinceEpoch((day + 1) * MsPerDay - 1, Qt::LocalTime)
                             .offsetFromUtc();
        found = m_utcDays.insert(day, UtcDay{day, first * 1000, first == last});
    }
    m_lastUtcDay = *found;
    m_haveUtcDay = true;
    return m_lastUtcDay;
}

const QString& TimestampText::dateText(qint64 localDay)
{
    if (m_haveLocalDay && m_lastLocalDay == localDay)
        return m_lastDateText;
    auto found = m_dateTexts.constFind(localDay);
    if (found == m_dateTexts.constEnd()) {
        const QDate date = QDate(1970, 1, 1).addDays(localDay);
        found = m_dateTexts.insert(localDay, m_locale.toString(date, m_dateFormat));
    }
    m_lastLocalDay = localDay;
    m_lastDateText = *found;
    m_haveLocalDay = true;
    return m_lastDateText;
}

const QString& TimestampText::timeText(int localMsOfDay)
{
    if (m_timeTexts.empty())
        m_timeTexts.resize(86'400);
    QString& text = m_timeTexts[size_t(localMsOfDay / 1000)];
    if (text.isNull())
        text = m_locale.toString(QTime::fromMSecsSinceStartOfDay(localMsOfDay / 1000 * 1000),
                                 m_timeFormat);
    return text;
}

QStringView TimestampText::view(qint64 utcMilliseconds)
{
    const UtcDay& day = utcDay(utcMilliseconds);
    if (!day.uniform || m_timeHasMilliseconds) {
        m_buffer = formatUncached(utcMilliseconds);
        return m_buffer;
    }
    const qint64 local = utcMilliseconds + day.offsetMs;
    const qint64 localDay = floorDiv(local, MsPerDay);
    const int msOfDay = int(local - localDay * MsPerDay);
    const QString& date = dateText(localDay);
    m_buffer.resize(0);
    m_buffer.append(date);
    if (msOfDay != 0) {
        m_buffer.append(QLatin1Char(' '));
        m_buffer.append(timeText(msOfDay));
    }
    return m_buffer;
}

QString TimestampText::format(qint64 utcMilliseconds)
{
    return view(utcMilliseconds).toString();
}

} // namespace velmoran
