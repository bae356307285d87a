#include "timestamp_text.h"

#include <QDateTime>
#include <QRegularExpression>

namespace velmoran {

QString longTimeFormatWithoutZone(const QLocale& locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    // Drop the zone field ("t", "tt", …) outside quoted literals, with the blank before it.
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
{
}

QString TimestampText::format(qint64 utcMilliseconds) const
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(utcMilliseconds, Qt::LocalTime);
    const QString date = m_locale.toString(local.date(), m_dateFormat);
    const QTime time = local.time();
    if (time == QTime(0, 0))
        return date;
    return date + QLatin1Char(' ') + m_locale.toString(time, m_timeFormat);
}

} // namespace velmoran
