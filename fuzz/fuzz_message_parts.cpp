// Any bytes as a message's kept markup and body, for every kind of message: decoding never
// fails, links lie within their text, and the plain text is never empty.
#include "chat/message_parts.h"

#include <cstdint>
#include <cstdlib>

namespace {

void checkLinks(const QString& text, const std::vector<velmoran::TextLink>& links)
{
    qsizetype after = 0;
    for (const velmoran::TextLink& link : links) {
        if (link.start < after || link.length <= 0 || link.start + link.length > text.size())
            std::abort();
        const QString scheme = link.url.scheme();
        if (scheme != u"http" && scheme != u"https" && scheme != u"mailto")
            std::abort();
        after = link.start + link.length;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    velmoran::HistoryMessage message;
    message.kind = velmoran::MessageKind(data[0] % (int(velmoran::MessageKind::Other) + 1));
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    message.markup = text;
    message.body = text;
    message.senderId = QStringLiteral("live:anna");
    for (const velmoran::MessagePart& part : velmoran::decodeMessageParts(message)) {
        if (const auto* written = std::get_if<velmoran::TextPart>(&part))
            checkLinks(written->text, written->links);
        else if (const auto* quote = std::get_if<velmoran::QuotePart>(&part))
            checkLinks(quote->text, quote->links);
    }
    if (velmoran::messagePlainText(message).isEmpty())
        std::abort();
    return 0;
}
