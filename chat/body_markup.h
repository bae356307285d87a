#pragma once

#include <string>
#include <string_view>

namespace velmoran {

// Turns a message body as the client stores it (light XML-like markup: <b>, <a href=…>,
// <ss type=…>, <quote>, …) into the plain text the user saw: tags are removed and their inner
// text kept, character references and the usual named entities are decoded, and the edit
// marker element (<e_m …>…</e_m>) is dropped with whatever it holds.
//
// Works on UTF-8 and appends to out. Never fails: text that only looks like markup ("a < b",
// "<3", an unknown entity, an unterminated tag) is kept as written. Invalid UTF-8 in the input
// is copied through unchanged; the caller converts the result once.
void appendPlainText(std::string_view markup, std::string& out);

// True when appendPlainText would change the text, so plain bodies can skip the copy.
bool mayHoldMarkup(std::string_view text);

// The character a named entity that bodies carry stands for ("amp", "nbsp", "hellip", …, the
// name without '&' and ';'); 0 for a name it does not know.
char32_t namedEntityCodePoint(std::string_view name);

} // namespace velmoran
