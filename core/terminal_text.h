#pragma once

#include <QString>

namespace velmoran {

// text as it may be written to a terminal in an error or notice line: every character that
// would act on the terminal or hide how the text reads is shown as a visible escape instead.
// Control characters (C0 with newline, carriage return and tab, DEL, C1) become "\n", "\r",
// "\t" or "\x1b"; line and paragraph separators, unpaired surrogates and format characters
// (bidi controls such as U+202E, zero-width spaces) become "\u202e" (or "\U0001d173"). The
// joiners U+200C and U+200D and the tag characters, which emoji and scripts are written with,
// stay, as does everything else: letters of any script, CJK, emoji, and the backslash itself.
QString terminalText(const QString& text);

} // namespace velmoran
