#pragma once

#include <QHash>
#include <QLocale>
#include <QString>

#include <vector>

namespace velmoran {

class SearchPattern;

// A message's timestamp as the results list shows and searches it: the user's locale's short
// date, a blank and its long time without a time-zone name, in local time; the date alone when
// the local time is exactly midnight.
//
// A search formats a timestamp for every message it reads, so the texts are built from caches:
// the local time offset per UTC day, the date text per local day and the time text per second
// of the day. Days on which the offset changes are converted one timestamp at a time.
class TimestampText {
public:
    explicit TimestampText(const QLocale& locale = QLocale::system());

    QString format(qint64 utcMilliseconds);
    // The same text, valid until the next call.
    QStringView view(qint64 utcMilliseconds);

    // pattern.matches(view(utcMilliseconds), cs), mostly without writing the text: a search
    // text with a character that no timestamp text has is never found, and one without a blank
    // cannot reach across the blank between date and time, so whether a day's date or a
    // second's time holds it is worked out once and kept (for the last pattern text and case
    // asked).
    bool contains(qint64 utcMilliseconds, const SearchPattern& pattern, Qt::CaseSensitivity cs);

    // True when times of day are written without the locale's formatter (checked against it
    // when the object is made).
    bool writesTimesItself() const { return !m_timeTokens.empty(); }

    // The text without any cache, straight from the locale (for comparison).
    QString formatUncached(qint64 utcMilliseconds) const;

private:
    struct UtcDay {
        qint64 day = 0;
        int offsetMs = 0;
        bool uniform = false; // one offset for the whole UTC day
    };
    const UtcDay& utcDay(qint64 utcMilliseconds);
    const QString& dateText(qint64 localDay);
    const QString& timeText(int localMsOfDay);
    // Writes the time of day in the locale's digits and day-half texts, without a lookup.
    void appendTime(QString& out, int secondOfDay) const;
    bool compileTimeFormat();
    bool canOccur(const QString& text, Qt::CaseSensitivity cs);

    struct TimeToken {
        enum Kind : quint8 { Literal, Hour24, Hour12, Minute, Second, DayHalf };
        Kind kind;
        bool twoDigits;
        QString literal; // the text, or the morning's text of a day half
        QString afternoon = {};
    };

    QLocale m_locale;
    QString m_dateFormat;
    QString m_timeFormat;
    bool m_timeHasMilliseconds = false;

    UtcDay m_lastUtcDay;
    bool m_haveUtcDay = false;
    QHash<qint64, UtcDay> m_utcDays;
    qint64 m_lastLocalDay = 0;
    QString m_lastDateText;
    bool m_haveLocalDay = false;
    QHash<qint64, QString> m_dateTexts;
    std::vector<TimeToken> m_timeTokens; // empty: the format needs the locale's own formatting
    char16_t m_zeroDigit = u'0';
    std::vector<QString> m_timeTexts; // per second of the day, filled as needed
    QString m_buffer;

    // What contains() has worked out, for m_matchText and m_matchCase.
    QString m_matchText;
    Qt::CaseSensitivity m_matchCase = Qt::CaseSensitive;
    bool m_haveMatches = false;
    bool m_matchImpossible = false; // the text has a character no timestamp text has
    bool m_matchHasBlank = false;
    QString m_alphabet; // every character a timestamp text can have, once
    QHash<qint64, bool> m_dateMatches;
    qint64 m_matchDay = 0; // the last day asked, and whether its date holds the text
    bool m_matchDayDate = false;
    bool m_haveMatchDay = false;
    std::vector<qint8> m_timeMatches; // per second of the day: -1 not known yet, 0 or 1
};

// The locale's long time format with its time-zone field removed.
QString longTimeFormatWithoutZone(const QLocale& locale);

} // namespace velmoran
