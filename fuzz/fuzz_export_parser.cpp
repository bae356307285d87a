// Any bytes given as messages.json: the parser answers a history or a Failure, nothing else;
// reading it in small windows answers the very same as reading it at once; and a read with a
// sieve answers that history without the messages the sieve turns down.
#include "chat/export_reader.h"
#include "chat/message_sieve.h"
#include "core/failure.h"

#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

struct Outcome {
    std::optional<velmoran::ChatHistory> history;
    QString failure;
};

// Keeps about half the messages, by their content, so a message read twice is kept or not
// both times.
class HalfSieve final : public velmoran::MessageSieve {
public:
    static bool wanted(const velmoran::HistoryMessage& message)
    {
        return (qHash(message.body) ^ qHash(message.senderDisplayName)
                ^ size_t(message.timestampMs))
                   % 2
               == 0;
    }
    bool keeps(const velmoran::HistoryMessage& message) override { return wanted(message); }
    // Half the time the same answer from the body's bytes, before the body is made.
    bool mayKeep(const velmoran::HistoryMessage& message, std::string_view bodyUtf8) override
    {
        if (!early)
            return true;
        velmoran::HistoryMessage made = message;
        made.body = QString::fromUtf8(bodyUtf8.data(), qsizetype(bodyUtf8.size()));
        return wanted(made);
    }
    bool early = false;
};

Outcome read(QByteArrayView json, size_t window, velmoran::MessageSieve* sieve = nullptr)
{
    Outcome outcome;
    try {
        outcome.history =
            velmoran::parseExportJsonInWindows(json, QStringLiteral("fuzz.json"), window, sieve);
    } catch (const velmoran::Failure& failure) {
        outcome.failure = failure.description();
        if (outcome.failure.isEmpty())
            std::abort();
    }
    return outcome;
}

bool sameMessages(const velmoran::HistoryChat& a, const velmoran::HistoryChat& b)
{
    if (a.messages.size() != b.messages.size())
        return false;
    for (size_t i = 0; i < a.messages.size(); ++i) {
        const velmoran::HistoryMessage& x = a.messages[i];
        const velmoran::HistoryMessage& y = b.messages[i];
        if (x.timestampMs != y.timestampMs || x.body != y.body || x.senderId != y.senderId
            || x.senderDisplayName != y.senderDisplayName || bool(x.file) != bool(y.file))
            return false;
    }
    return true;
}

bool same(const Outcome& a, const Outcome& b)
{
    if (a.failure != b.failure || a.history.has_value() != b.history.has_value())
        return false;
    if (!a.history)
        return true;
    const velmoran::ChatHistory& x = *a.history;
    const velmoran::ChatHistory& y = *b.history;
    if (x.contacts != y.contacts || x.skippedMessages != y.skippedMessages
        || x.firstSkipped != y.firstSkipped || x.chats.size() != y.chats.size())
        return false;
    for (size_t c = 0; c < x.chats.size(); ++c) {
        const velmoran::HistoryChat& p = x.chats[c];
        const velmoran::HistoryChat& q = y.chats[c];
        if (p.id != q.id || p.name != q.name || p.kind != q.kind || p.peerHandle != q.peerHandle
            || p.members != q.members || !sameMessages(p, q))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const QByteArrayView json(reinterpret_cast<const char*>(data), qsizetype(size));
    // Read as one document, in one window, and in windows of 1 to 64 bytes, which put their
    // cuts everywhere in a small document.
    const Outcome whole = read(json, 0);
    if (!same(whole, read(json, size + 1)) || !same(whole, read(json, size % 64 + 1)))
        std::abort();
    if (!whole.history)
        return 0;
    Outcome sifted = whole;
    for (velmoran::HistoryChat& chat : sifted.history->chats)
        std::erase_if(chat.messages, [](const auto& m) { return !HalfSieve::wanted(m); });
    HalfSieve sieve;
    sieve.early = size % 2 == 0;
    if (!same(sifted, read(json, size % 64 + 1, &sieve)))
        std::abort();
    const velmoran::ChatHistory& history = *whole.history;
    // Every one-to-one chat's partner is a contact, and messages are in time order.
    // A left-out message is always described, and only then.
    if (history.skippedMessages < 0
        || (history.skippedMessages > 0) == history.firstSkipped.isEmpty())
        std::abort();
    for (const velmoran::HistoryChat& chat : history.chats) {
        if (!chat.peerHandle.isEmpty() && !history.contacts.contains(chat.peerHandle))
            std::abort();
        // Only one-to-one chats have a partner, and every chat has its id and a name.
        if ((chat.kind == velmoran::ConversationKind::OneToOne)
                != chat.id.startsWith(QStringLiteral("8:"))
            || (chat.kind != velmoran::ConversationKind::OneToOne && !chat.peerHandle.isEmpty())
            || chat.id.isEmpty()
            || (chat.name.isEmpty() && chat.kind != velmoran::ConversationKind::OneToOne))
            std::abort();
        for (size_t i = 1; i < chat.messages.size(); ++i) {
            if (chat.messages[i - 1].timestampMs > chat.messages[i].timestampMs)
                std::abort();
        }
    }
    return 0;
}
