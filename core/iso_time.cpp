#include "core/iso_time.h"

#include <chrono>

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

std::chrono::year_month_day dateOf(const IsoFields& f)
{
    return {std::chrono::year(f.year), std::chrono::month(unsigned(f.month)),
            std::chrono::day(unsigned(f.day))};
}

} // namespace

std::optional<IsoFields> readIsoFields(std::string_view text)
{
    IsoFields f;
    if (!readDigits(text, 0, 4, f.year) || text.size() < 10 || text[4] != '-'
        || !readDigits(text, 5, 2, f.month) || text[7] != '-' || !readDigits(text, 8, 2, f.day)
        || !dateOf(f).ok())
        return std::nullopt;
    size_t i = 10;
    if (i == text.size())
        return f;
    f.hasTime = true;
    f.spaceSeparated = text[i] == ' ';
    if ((text[i] != 'T' && text[i] != ' ') || !readDigits(text, 11, 2, f.hour) || text.size() < 16
        || text[13] != ':' || !readDigits(text, 14, 2, f.minute) || f.hour > 23 || f.minute > 59)
        return std::nullopt;
    i = 16;
    if (i < text.size() && text[i] == ':') {
        if (!readDigits(text, 17, 2, f.second) || f.second > 60)
            return std::nullopt;
        f.hasSeconds = true;
        i = 19;
        if (i < text.size() && text[i] == '.') {
            ++i;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
                if (f.fractionDigits < 3)
                    f.millis = f.millis * 10 + (text[i] - '0');
                ++f.fractionDigits;
                ++i;
            }
            if (f.fractionDigits == 0)
                return std::nullopt;
            for (int d = f.fractionDigits; d < 3; ++d)
                f.millis *= 10;
        }
    }
    if (i < text.size() && text[i] == 'Z') {
        f.hasZone = true;
        ++i;
    } else if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        int hours = 0;
        int minutes = 0;
        if (!readDigits(text, i + 1, 2, hours) || i + 3 >= text.size() || text[i + 3] != ':'
            || !readDigits(text, i + 4, 2, minutes) || hours > 23 || minutes > 59)
            return std::nullopt;
        f.hasZone = true;
        f.offsetMinutes = (text[i] == '+' ? 1 : -1) * (hours * 60 + minutes);
        i += 6;
    }
    if (i != text.size())
        return std::nullopt;
    return f;
}

qint64 isoUtcMs(const IsoFields& f)
{
    const qint64 days = std::chrono::sys_days(dateOf(f)).time_since_epoch().count();
    return ((days * 24 + f.hour) * 60 + f.minute) * 60000LL + f.second * 1000LL + f.millis
           - f.offsetMinutes * 60000LL;
}

} // namespace velmoran
