#pragma once

#include <simdjson.h>

#include <QString>

#include <functional>
#include <string>
#include <string_view>

namespace velmoran {

// The text of a JSON string token that the parser refused to unescape: every escape that
// names no character (a lone surrogate, an unknown letter) becomes U+FFFD, the rest is decoded
// as usual. The token starts at its opening quote; the document's UTF-8 is already checked.
// Answers a view of out.
std::string_view unescapeWithReplacement(std::string_view token, std::string& out);

// The bytes with every invalid UTF-8 sequence replaced by U+FFFD. Converted in pieces cut
// before a lead byte, so a large file is not held as UTF-16 all at once; tick is called after
// each piece.
simdjson::padded_string withUtf8Repaired(std::string_view bytes, const std::function<void()>& tick);

// How many strings of a JSON document hold bytes that are no UTF-8, each counted once. tick is
// called after each piece of about a megabyte.
qsizetype stringsNotUtf8(std::string_view json, const std::function<void()>& tick);

// The first length bytes of text (UTF-8) in quotes, white space made single spaces, with an
// ellipsis when text is longer.
QString quotedExcerpt(std::string_view text, size_t length);

} // namespace velmoran
