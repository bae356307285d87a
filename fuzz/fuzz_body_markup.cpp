// Any bytes as a message body: decoding never grows the text and leaves plain text alone.
#include "chat/body_markup.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const std::string_view markup(reinterpret_cast<const char*>(data), size);
    std::string plain;
    velmoran::appendPlainText(markup, plain);
    // Tags only go and every reference is longer than what it stands for.
    if (plain.size() > markup.size())
        std::abort();
    if (!velmoran::mayHoldMarkup(markup) && plain != markup)
        std::abort();
    return 0;
}
