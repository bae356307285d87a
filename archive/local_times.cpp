#include "archive/local_times.h"

#include <QDateTime>

namespace velmoran {

namespace {

constexpr qint64 MsPerMinute = 60'000;
constexpr int SecondsPerDay = 86'400;

} // namespace

LocalTimes::LocalTimes(qint64 fromMs, qint64 toMs)
    : m_fromMs(fromMs)
    , m_toMs(toMs)
    , m_offsets(fromMs, toMs)
{
}

int LocalTimes::offsetAt(qint64 utcMs)
{
    // A quote may name a time long before the span; it is asked for on its own.
    if (utcMs < m_fromMs || utcMs > m_toMs)
        return localOffsetSeconds(utcMs);
    return int(m_offsets.offsetMs(utcMs) / 1000);
}

qint64 LocalTimes::minuteOf(qint64 utcMs)
{
    return utcMs / MsPerMinute - (utcMs % MsPerMinute < 0 ? 1 : 0);
}

void LocalTimes::appendSeconds(QString& out, qint64 utcMs)
{
    const int seconds = int((utcMs - minuteOf(utcMs) * MsPerMinute) / 1000);
    out += QChar(u'0' + seconds / 10);
    out += QChar(u'0' + seconds % 10);
}

const LocalTimes::Minute& LocalTimes::minute(qint64 utcMs)
{
    const qint64 start = minuteOf(utcMs) * MsPerMinute;
    if (m_valid && start == m_minuteStart)
        return m_minute;
    m_valid = true;
    m_minuteStart = start;
    const int offset = offsetAt(start);
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(start + qint64(offset) * 1000, Qt::UTC);
    const QDate date = local.date();
    if (date != m_minute.date) {
        m_minute.date = date;
        m_minute.dateText = m_locale.toString(date, QLocale::ShortFormat);
        m_minute.datePrefix = local.toString(QStringLiteral("yyyy-MM-dd "));
    }
    m_minute.time = local.time();
    const auto twoDigits = [](QString& out, int n) {
        out += QChar(u'0' + n / 10);
        out += QChar(u'0' + n % 10);
    };
    m_minute.shortTime.truncate(0);
    twoDigits(m_minute.shortTime, m_minute.time.hour());
    m_minute.shortTime += u':';
    twoDigits(m_minute.shortTime, m_minute.time.minute());
    m_minute.exactPrefix.truncate(0);
    m_minute.exactPrefix += m_minute.datePrefix;
    m_minute.exactPrefix += m_minute.shortTime;
    m_minute.exactPrefix += u':';
    if (offset != m_offsetShown) {
        m_offsetShown = offset;
        const int minutes = std::abs(offset) / 60;
        m_minute.offset = QChar(offset < 0 ? u'-' : u'+');
        twoDigits(m_minute.offset, minutes / 60);
        m_minute.offset += u':';
        twoDigits(m_minute.offset, minutes % 60);
    }
    return m_minute;
}

void LocalTimes::appendExact(QString& out, qint64 utcMs)
{
    const Minute& m = minute(utcMs);
    out += m.exactPrefix;
    appendSeconds(out, utcMs);
    out += u' ';
    out += m.offset;
}

const QString& LocalTimes::copyText(qint64 utcMs)
{
    const qint64 second = utcMs / 1000 - (utcMs % 1000 < 0 ? 1 : 0);
    if (m_copyValid && second == m_copySecond)
        return m_copyText;
    m_copyValid = true;
    m_copySecond = second;
    // The local time within the minute is the minute's start plus the seconds: the offset
    // holds for the whole minute. Each second of the day is formatted once.
    const Minute& m = minute(utcMs);
    const int ofDay = m.time.msecsSinceStartOfDay() / 1000 + int(second - minuteOf(utcMs) * 60);
    if (m_timeTexts.empty())
        m_timeTexts.resize(SecondsPerDay);
    QString& time = m_timeTexts[size_t(ofDay % SecondsPerDay)];
    if (time.isNull())
        time = m_locale.toString(QTime::fromMSecsSinceStartOfDay(ofDay % SecondsPerDay * 1000),
                                 QLocale::ShortFormat);
    m_copyText.truncate(0);
    m_copyText += m.dateText;
    m_copyText += u' ';
    m_copyText += time;
    return m_copyText;
}

} // namespace velmoran
