// Any bytes given as messages.json: the parser answers a history or a Failure, nothing else.
#include "chat/export_reader.h"
#include "core/failure.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    try {
        const velmoran::ChatHistory history = velmoran::parseExportJson(
            QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)),
            QStringLiteral("fuzz.json"));
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
    } catch (const velmoran::Failure& failure) {
        if (failure.description().isEmpty())
            std::abort();
    }
    return 0;
}
