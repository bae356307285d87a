#include "chat/body_markup.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace velmoran {

namespace {

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isNameChar(char c)
{
    return isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == ':'
           || c == '.';
}

void appendUtf8(char32_t cp, std::string& out)
{
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

struct NamedEntity {
    std::string_view name;
    char32_t codePoint;
};

// The XML entities and the HTML ones that message bodies actually carry.
constexpr std::array<NamedEntity, 24> namedEntities{{
    {"amp", U'&'},     {"lt", U'<'},      {"gt", U'>'},      {"quot", U'"'},    {"apos", U'\''},
    {"nbsp", 0xA0},    {"copy", 0xA9},    {"reg", 0xAE},     {"trade", 0x2122}, {"hellip", 0x2026},
    {"mdash", 0x2014}, {"ndash", 0x2013}, {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C},
    {"rdquo", 0x201D}, {"laquo", 0xAB},   {"raquo", 0xBB},   {"euro", 0x20AC},  {"pound", 0xA3},
    {"times", 0xD7},   {"deg", 0xB0},     {"middot", 0xB7},  {"bull", 0x2022},
}};

bool isValidCodePoint(char32_t cp)
{
    return cp != 0 && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
}

// Decodes the reference that starts with '&' at in[at]. Answers the length consumed, or 0
// when the text is no reference (then the '&' is kept as written).
size_t decodeReference(std::string_view in, size_t at, std::string& out)
{
    constexpr size_t longestReference = 12; // "&#x0010FFFF;" and every named one fit
    const size_t found = in.substr(at + 1, longestReference).find(';');
    if (found == std::string_view::npos)
        return 0;
    const size_t semicolon = at + 1 + found;
    const std::string_view name = in.substr(at + 1, semicolon - at - 1);
    if (name.size() >= 2 && name[0] == '#') {
        char32_t cp = 0;
        const bool hex = name[1] == 'x' || name[1] == 'X';
        const std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty())
            return 0;
        for (char c : digits) {
            unsigned digit;
            if (c >= '0' && c <= '9')
                digit = unsigned(c - '0');
            else if (hex && c >= 'a' && c <= 'f')
                digit = unsigned(c - 'a' + 10);
            else if (hex && c >= 'A' && c <= 'F')
                digit = unsigned(c - 'A' + 10);
            else
                return 0;
            cp = cp * (hex ? 16 : 10) + digit;
            if (cp > 0x10FFFF)
                return 0;
        }
        if (!isValidCodePoint(cp))
            return 0;
        appendUtf8(cp, out);
        return semicolon - at + 1;
    }
    if (const char32_t cp = namedEntityCodePoint(name)) {
        appendUtf8(cp, out);
        return semicolon - at + 1;
    }
    return 0;
}

struct Tag {
    size_t length = 0; // 0: not a tag
    std::string_view name;
    bool closing = false;
    bool selfClosing = false;
};

// Recognises the tag that starts with '<' at in[at]. A tag ends at the first '>' outside a
// quoted attribute value; a '<' before it means the text was no tag, which keeps the scan
// linear however many unmatched '<' a body holds.
Tag readTag(std::string_view in, size_t at)
{
    Tag tag;
    size_t i = at + 1;
    if (i < in.size() && in[i] == '/') {
        tag.closing = true;
        ++i;
    }
    if (i >= in.size() || !isAsciiLetter(in[i]))
        return tag;
    const size_t nameStart = i;
    while (i < in.size() && isNameChar(in[i]))
        ++i;
    tag.name = in.substr(nameStart, i - nameStart);
    char quote = 0;
    for (; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '<')
            return Tag{};
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            tag.selfClosing = in[i - 1] == '/';
            tag.length = i - at + 1;
            return tag;
        }
    }
    return Tag{};
}

// Once a terminator is missing from the rest of the body it stays missing, so each is looked
// for to the end at most once.
struct SectionEnds {
    bool noCommentEnd = false;
    bool noCdataEnd = false;
};

// Comments are dropped; CDATA sections keep their text as written.
size_t skipSpecialSection(std::string_view in, size_t at, std::string& out, bool dropping,
                          SectionEnds& ends)
{
    const std::string_view rest = in.substr(at);
    if (rest.starts_with("<!--") && !ends.noCommentEnd) {
        const size_t end = in.find("-->", at + 4);
        ends.noCommentEnd = end == std::string_view::npos;
        return ends.noCommentEnd ? 0 : end + 3 - at;
    }
    if (rest.starts_with("<![CDATA[") && !ends.noCdataEnd) {
        const size_t end = in.find("]]>", at + 9);
        ends.noCdataEnd = end == std::string_view::npos;
        if (ends.noCdataEnd)
            return 0;
        if (!dropping)
            out.append(in.substr(at + 9, end - at - 9));
        return end + 3 - at;
    }
    return 0;
}

} // namespace

char32_t namedEntityCodePoint(std::string_view name)
{
    for (const NamedEntity& entity : namedEntities) {
        if (entity.name == name)
            return entity.codePoint;
    }
    return 0;
}

bool mayHoldMarkup(std::string_view text)
{
    if (text.empty())
        return false; // and memchr must not see a null pointer
    return std::memchr(text.data(), '<', text.size()) != nullptr
           || std::memchr(text.data(), '&', text.size()) != nullptr;
}

void appendPlainText(std::string_view in, std::string& out)
{
    // Depth inside edit-marker elements, whose content is not part of the message.
    size_t dropDepth = 0;
    SectionEnds ends;
    // The next '<' and '&' at or after i, each found with memchr and looked for again only
    // once i has passed it.
    if (in.empty())
        return; // and memchr must not see a null pointer
    auto following = [&](char c, size_t from) {
        const void* found = std::memchr(in.data() + from, c, in.size() - from);
        return found ? size_t(static_cast<const char*>(found) - in.data()) : in.size();
    };
    size_t nextTag = following('<', 0);
    size_t nextReference = following('&', 0);
    size_t i = 0;
    while (i < in.size()) {
        if (nextTag < i)
            nextTag = following('<', i);
        if (nextReference < i)
            nextReference = following('&', i);
        const size_t next = std::min(nextTag, nextReference);
        if (next > i) {
            if (dropDepth == 0)
                out.append(in.substr(i, next - i));
            i = next;
            continue;
        }
        const char c = in[i];
        if (c == '<') {
            if (const size_t special = skipSpecialSection(in, i, out, dropDepth > 0, ends)) {
                i += special;
                continue;
            }
            const Tag tag = readTag(in, i);
            if (tag.length > 0) {
                if (tag.name == "e_m" && !tag.selfClosing) {
                    if (!tag.closing)
                        ++dropDepth;
                    else if (dropDepth > 0)
                        --dropDepth;
                }
                i += tag.length;
                continue;
            }
        } else if (dropDepth == 0) {
            if (const size_t consumed = decodeReference(in, i, out)) {
                i += consumed;
                continue;
            }
        }
        if (dropDepth == 0)
            out.push_back(c);
        ++i;
    }
}

} // namespace velmoran
