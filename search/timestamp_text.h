#pragma once

#include <QLocale>
#include <QString>

namespace velmoran {

// A message's timestamp as the results list shows and searches it: the user's locale's short
// date, a blank and its long time without a time-zone name, in local time; the date alone when
// the local time is exactly midnight.
class TimestampText {
public:
    explicit TimestampText(const QLocale& locale = QLocale::system());

    QString format(qint64 utcMilliseconds) const;

private:
    QLocale m_locale;
    QString m_dateFormat;
    QString m_timeFormat;
};

// The locale's long time format with its time-zone field removed.
QString longTimeFormatWithoutZone(const QLocale& locale);

} // namespace velmoran
