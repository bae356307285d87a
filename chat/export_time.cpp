#include "chat/export_time.h"

#include <chrono>
#include <cstring>

namespace velmoran {

namespace {

bool readDigits(std::string_view text, size_t at, size_t count, int& value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

} // namespace

bool parseIsoTimestampMs(std::string_view text, qint64& ms)
{
    int year, month, day, hour, minute, second;
    if (!readDigits(text, 0, 4, year) || text.size() < 19 || text[4] != '-'
        || !readDigits(text, 5, 2, month) || text[7] != '-' || !readDigits(text, 8, 2, day)
        || (text[10] != 'T' && text[10] != ' ') || !readDigits(text, 11, 2, hour) || text[13] != ':'
        || !readDigits(text, 14, 2, minute) || text[16] != ':' || !readDigits(text, 17, 2, second))
        return false;
    if (hour > 23 || minute > 59 || second > 60)
        return false;
    size_t i = 19;
    int millis = 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        int digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            if (digits < 3)
                millis = millis * 10 + (text[i] - '0');
            ++digits;
            ++i;
        }
        if (digits == 0)
            return false;
        for (int d = digits; d < 3; ++d)
            millis *= 10;
    }
    int offsetMinutes = 0;
    if (i < text.size() && text[i] == 'Z') {
        ++i;
    } else if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        const int sign = text[i] == '+' ? 1 : -1;
        int offsetHours, offsetMins;
        if (!readDigits(text, i + 1, 2, offsetHours) || i + 3 >= text.size() || text[i + 3] != ':'
            || !readDigits(text, i + 4, 2, offsetMins) || offsetHours > 23 || offsetMins > 59)
            return false;
        offsetMinutes = sign * (offsetHours * 60 + offsetMins);
        i += 6;
    } else {
        return false;
    }
    if (i != text.size())
        return false;
    using namespace std::chrono;
    const year_month_day date{std::chrono::year(year), std::chrono::month(unsigned(month)),
                              std::chrono::day(unsigned(day))};
    if (!date.ok())
        return false;
    const qint64 days = sys_days(date).time_since_epoch().count();
    ms = ((days * 24 + hour) * 60 + minute) * 60000LL + second * 1000LL + millis
         - offsetMinutes * 60000LL;
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
