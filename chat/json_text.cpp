#include "chat/json_text.h"

#include <QByteArray>

#include <algorithm>

namespace velmoran {

namespace {

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xc0 | (c >> 6));
        out += char(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        out += char(0xe0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3f));
        out += char(0x80 | (c & 0x3f));
    } else {
        out += char(0xf0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3f));
        out += char(0x80 | ((c >> 6) & 0x3f));
        out += char(0x80 | (c & 0x3f));
    }
}

bool readHex4(std::string_view text, size_t at, char32_t& value)
{
    if (at + 4 > text.size())
        return false;
    value = 0;
    for (size_t i = at; i < at + 4; ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return false;
        value = value * 16 + char32_t(digit);
    }
    return true;
}

// Where the string whose text starts at from ends: its closing quote, the first one after
// an even number of backslashes; the size of json when it has none.
size_t closingQuote(std::string_view json, size_t from)
{
    for (size_t at = json.find('"', from); at != std::string_view::npos;
         at = json.find('"', at + 1)) {
        size_t backslashes = 0;
        while (at - backslashes > from && json[at - backslashes - 1] == '\\')
            ++backslashes;
        if (backslashes % 2 == 0)
            return at;
    }
    return json.size();
}

} // namespace

std::string_view unescapeWithReplacement(std::string_view token, std::string& out)
{
    const char32_t replacement = 0xfffd;
    out.clear();
    size_t i = token.find('"');
    i = i == std::string_view::npos ? token.size() : i + 1;
    while (i < token.size() && token[i] != '"') {
        if (token[i] != '\\') {
            out += token[i++];
            continue;
        }
        const char escape = i + 1 < token.size() ? token[i + 1] : '\0';
        i += 2;
        switch (escape) {
        case '"':
        case '\\':
        case '/':
            out += escape;
            continue;
        case 'b':
            out += '\b';
            continue;
        case 'f':
            out += '\f';
            continue;
        case 'n':
            out += '\n';
            continue;
        case 'r':
            out += '\r';
            continue;
        case 't':
            out += '\t';
            continue;
        case 'u':
            break;
        default:
            appendUtf8(out, replacement);
            continue;
        }
        char32_t unit = 0;
        if (!readHex4(token, i, unit)) {
            appendUtf8(out, replacement);
            continue;
        }
        i += 4;
        char32_t low = 0;
        if (unit >= 0xd800 && unit < 0xdc00 && token.substr(i, 2) == "\\u"
            && readHex4(token, i + 2, low) && low >= 0xdc00 && low < 0xe000) {
            appendUtf8(out, 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00));
            i += 6;
        } else if (unit >= 0xd800 && unit < 0xe000) {
            appendUtf8(out, replacement);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

simdjson::padded_string withUtf8Repaired(std::string_view bytes, const std::function<void()>& tick)
{
    const size_t piece = size_t(1) << 20;
    QByteArray repaired;
    repaired.reserve(qsizetype(bytes.size() + bytes.size() / 8));
    size_t at = 0;
    while (at < bytes.size()) {
        size_t end = std::min(bytes.size(), at + piece);
        for (int back = 0;
             back < 4 && end < bytes.size() && end > at + 1 && (uchar(bytes[end]) & 0xc0) == 0x80;
             ++back)
            --end;
        repaired += QString::fromUtf8(bytes.data() + at, qsizetype(end - at)).toUtf8();
        at = end;
        tick();
    }
    return simdjson::padded_string(repaired.constData(), size_t(repaired.size()));
}

// A quote outside a string opens one; bytes that are no UTF-8 are neither quotes nor
// backslashes, so they never end one.
qsizetype stringsNotUtf8(std::string_view json, const std::function<void()>& tick)
{
    const size_t piece = size_t(1) << 20;
    qsizetype count = 0;
    size_t ticked = 0;
    for (size_t open = json.find('"'); open != std::string_view::npos;) {
        const size_t close = closingQuote(json, open + 1);
        if (!simdjson::validate_utf8(json.data() + open + 1, close - open - 1))
            ++count;
        if (close - ticked >= piece) {
            ticked = close;
            tick();
        }
        open = close < json.size() ? json.find('"', close + 1) : std::string_view::npos;
    }
    return count;
}

QString quotedExcerpt(std::string_view text, size_t length)
{
    QString excerpt = QString::fromUtf8(text.data(), qsizetype(std::min(text.size(), length)));
    if (text.size() > length)
        excerpt += QChar(0x2026);
    return QLatin1Char('"') + excerpt.simplified() + QLatin1Char('"');
}

} // namespace velmoran
