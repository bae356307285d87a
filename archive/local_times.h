#pragma once

#include "core/local_time.h"

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

#include <vector>

namespace velmoran {

// The local-time texts of message times. The local zone's offsets over the messages' span are
// read once, so a time's local date and time are plain arithmetic; texts are made once per
// minute (a day's once per day), as messages come in time order.
class LocalTimes {
public:
    // fromMs and toMs: the span (UTC milliseconds) most times asked about lie in.
    LocalTimes(qint64 fromMs, qint64 toMs);

    struct Minute {
        QDate date;          // local date
        QTime time;          // local time of the minute's start
        QString dateText;    // the locale's short date
        QString datePrefix;  // "2024-11-05 "
        QString shortTime;   // "10:00"
        QString exactPrefix; // "2024-11-05 10:00:"
        QString offset;      // "+01:00"
    };
    // The texts of the minute holding utcMs.
    const Minute& minute(qint64 utcMs);
    // Appends "2024-11-05 10:00:07 +01:00": the local time to the second, and its offset.
    void appendExact(QString& out, qint64 utcMs);
    // localDateTimeText (chat/message_text.h) of utcMs: the locale's short date and time.
    const QString& copyText(qint64 utcMs);

private:
    int offsetAt(qint64 utcMs);
    static qint64 minuteOf(qint64 utcMs);
    static void appendSeconds(QString& out, qint64 utcMs);

    QLocale m_locale;
    qint64 m_fromMs;
    qint64 m_toMs;
    LocalOffsets m_offsets;
    int m_offsetShown = -1;
    qint64 m_minuteStart = 0;
    bool m_valid = false;
    Minute m_minute;
    qint64 m_copySecond = 0;
    bool m_copyValid = false;
    QString m_copyText;
    std::vector<QString> m_timeTexts; // the locale's short time by second of the day
};

} // namespace velmoran
