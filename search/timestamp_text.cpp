#include "search/timestamp_text.h"

#include "core/local_time.h"
#include "search/search_pattern.h"

#include <QDateTime>

#include <algorithm>
#include <limits>

namespace velmoran {

namespace {

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

// The caches work with the day's bounds and the local time, which lie up to a day beyond a
// timestamp; nearer the ends of qint64 that would overflow, so those go the slow way.
bool nearTheLimits(qint64 utcMilliseconds)
{
    return utcMilliseconds < std::numeric_limits<qint64>::min() + 2 * MsPerDay
           || utcMilliseconds > std::numeric_limits<qint64>::max() - 2 * MsPerDay;
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
    // The zone settings as they are now, for every offset this object works out.
    tzset();
    if (!compileTimeFormat())
        m_timeTokens.clear();
}

// Splits the time format into fields and literals. Answers false for a format with fields
// other than hours, minutes, seconds and the day half, for digits outside the basic plane, or
// when the result differs from the locale's own for any sampled time of day.
bool TimestampText::compileTimeFormat()
{
    const QString zero = m_locale.zeroDigit();
    if (zero.size() != 1)
        return false;
    m_zeroDigit = zero[0].unicode();
    const QString& f = m_timeFormat;
    auto literal = [&](QString text) {
        if (!m_timeTokens.empty() && m_timeTokens.back().kind == TimeToken::Literal)
            m_timeTokens.back().literal += text;
        else
            m_timeTokens.push_back({TimeToken::Literal, false, std::move(text)});
    };
    bool twelveHour = false;
    for (qsizetype i = 0; i < f.size();) {
        const QChar c = f[i];
        qsizetype run = 1;
        while (i + run < f.size() && f[i + run] == c)
            ++run;
        if (c == u'\'') {
            const qsizetype end = f.indexOf(u'\'', i + 1);
            if (end < 0)
                return false;
            literal(end == i + 1 ? QStringLiteral("'") : f.mid(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        if (c == u'A' || c == u'a') {
            const bool withP = i + 1 < f.size() && (f[i + 1] == u'P' || f[i + 1] == u'p');
            if (withP && f[i + 1].isUpper() != c.isUpper())
                return false;
            const bool upper = c == u'A';
            m_timeTokens.push_back(
                {TimeToken::DayHalf, false,
                 upper ? m_locale.amText().toUpper() : m_locale.amText().toLower(),
                 upper ? m_locale.pmText().toUpper() : m_locale.pmText().toLower()});
            twelveHour = true;
            i += withP ? 2 : 1;
            continue;
        }
        if (c.isLetter() && c.unicode() < 128) {
            if (run > 2)
                return false;
            TimeToken::Kind kind;
            if (c == u'H')
                kind = TimeToken::Hour24;
            else if (c == u'h')
                kind = TimeToken::Hour12;
            else if (c == u'm')
                kind = TimeToken::Minute;
            else if (c == u's')
                kind = TimeToken::Second;
            else
                return false;
            m_timeTokens.push_back({kind, run == 2, {}});
            i += run;
            continue;
        }
        literal(QString(c));
        ++i;
    }
    if (!twelveHour) {
        for (TimeToken& token : m_timeTokens) {
            if (token.kind == TimeToken::Hour12)
                token.kind = TimeToken::Hour24;
        }
    }
    QString mine;
    for (int second = 0; second < 86'400; second += 997) {
        for (int t : {second, (second * 7 + 43'200) % 86'400}) {
            mine.resize(0);
            appendTime(mine, t);
            if (mine != m_locale.toString(QTime::fromMSecsSinceStartOfDay(t * 1000), m_timeFormat))
                return false;
        }
    }
    return true;
}

void TimestampText::appendTime(QString& out, int secondOfDay) const
{
    const int hour = secondOfDay / 3600;
    auto number = [&](int value, bool twoDigits) {
        if (twoDigits || value >= 10)
            out.append(QChar(char16_t(m_zeroDigit + value / 10)));
        out.append(QChar(char16_t(m_zeroDigit + value % 10)));
    };
    for (const TimeToken& token : m_timeTokens) {
        switch (token.kind) {
        case TimeToken::Literal:
            out.append(token.literal);
            break;
        case TimeToken::Hour24:
            number(hour, token.twoDigits);
            break;
        case TimeToken::Hour12:
            number(hour % 12 == 0 ? 12 : hour % 12, token.twoDigits);
            break;
        case TimeToken::Minute:
            number(secondOfDay / 60 % 60, token.twoDigits);
            break;
        case TimeToken::Second:
            number(secondOfDay % 60, token.twoDigits);
            break;
        case TimeToken::DayHalf:
            out.append(hour < 12 ? token.literal : token.afternoon);
            break;
        }
    }
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
        const int first = localOffsetSeconds(day * MsPerDay);
        const int last = localOffsetSeconds((day + 1) * MsPerDay - 1);
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
    if (nearTheLimits(utcMilliseconds)) {
        m_buffer = formatUncached(utcMilliseconds);
        return m_buffer;
    }
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
        if (!m_timeTokens.empty())
            appendTime(m_buffer, msOfDay / 1000);
        else
            m_buffer.append(timeText(msOfDay));
    }
    return m_buffer;
}

// False when text holds a character that no timestamp text can hold. The texts vary by their
// numbers, written in the locale's digits, and by the names of months and weekdays and the day
// halves: a whole leap year of dates and every hour of the day meet every one of those.
bool TimestampText::canOccur(const QString& text, Qt::CaseSensitivity cs)
{
    if (m_alphabet.isNull()) {
        // The blank between date and time, the signs of years.
        QString all = QStringLiteral(" +-");
        for (int digit = 0; digit < 10; ++digit)
            all += m_locale.toString(digit);
        for (QDate date(2000, 1, 1); date.year() == 2000; date = date.addDays(1))
            all += m_locale.toString(date, m_dateFormat);
        for (int hour = 0; hour < 24; ++hour)
            all += m_locale.toString(QTime(hour, 59, 59), m_timeFormat);
        std::sort(all.begin(), all.end());
        all.erase(std::unique(all.begin(), all.end()), all.end());
        m_alphabet = all;
    }
    for (const QChar c : text) {
        if (m_alphabet.contains(c, cs))
            continue;
        return false;
    }
    return true;
}

bool TimestampText::contains(qint64 utcMilliseconds, const SearchPattern& pattern,
                             Qt::CaseSensitivity cs)
{
    const QString& text = pattern.text();
    // An expression may match anything, an empty text matches any text: those test the whole
    // text, as does every timestamp view() writes without its caches.
    if (pattern.isRegularExpression() || text.isEmpty() || m_timeHasMilliseconds
        || nearTheLimits(utcMilliseconds))
        return pattern.matches(view(utcMilliseconds), cs);
    if (!m_haveMatches || cs != m_matchCase || text.size() != m_matchText.size()
        || (text.constData() != m_matchText.constData() && text != m_matchText)) {
        m_matchText = text;
        m_matchCase = cs;
        m_haveMatches = true;
        m_matchImpossible = !canOccur(text, cs);
        m_matchHasBlank = text.contains(u' ');
        m_dateMatches.clear();
        m_haveMatchDay = false;
        m_timeMatches.assign(86'400, -1);
    }
    if (m_matchImpossible)
        return false;
    const UtcDay& day = utcDay(utcMilliseconds);
    // A text with a blank may reach across the one between date and time.
    if (!day.uniform || m_matchHasBlank)
        return pattern.matches(view(utcMilliseconds), cs);
    const qint64 local = utcMilliseconds + day.offsetMs;
    const qint64 localDay = floorDiv(local, MsPerDay);
    const int msOfDay = int(local - localDay * MsPerDay);
    if (m_matchDay != localDay || !m_haveMatchDay) {
        auto date = m_dateMatches.constFind(localDay);
        if (date == m_dateMatches.constEnd())
            date = m_dateMatches.insert(localDay, pattern.matches(dateText(localDay), cs));
        m_matchDay = localDay;
        m_matchDayDate = *date;
        m_haveMatchDay = true;
    }
    if (m_matchDayDate)
        return true;
    // At midnight the text is the date alone.
    if (msOfDay == 0)
        return false;
    qint8& time = m_timeMatches[size_t(msOfDay / 1000)];
    if (time < 0) {
        if (!m_timeTokens.empty()) {
            m_buffer.resize(0);
            appendTime(m_buffer, msOfDay / 1000);
            time = pattern.matches(m_buffer, cs) ? 1 : 0;
        } else {
            time = pattern.matches(timeText(msOfDay), cs) ? 1 : 0;
        }
    }
    return time == 1;
}

QString TimestampText::format(qint64 utcMilliseconds)
{
    return view(utcMilliseconds).toString();
}

} // namespace velmoran
