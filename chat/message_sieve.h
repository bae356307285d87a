#pragma once

#include "chat/chat_history.h"

#include <string_view>

namespace velmoran {

// Asked by a reader, message by message as it reads, which messages to keep, for a program
// that wants only some of a history (velmoran-find keeps the messages its search can report).
// A reader given a sieve may leave out the messages it turns down: the history is then the
// file's own with those messages missing, while everything else (contacts, chats, their ids,
// names and members, the messages left out as faulty) stays as the whole file gives it. A
// reader may keep more than the sieve asks (the legacy database keeps every message).
//
// keeps() sees a message as the history would hold it; it must not hold on to the message's
// texts once it has answered.
class MessageSieve {
public:
    virtual ~MessageSieve() = default;
    virtual bool keeps(const HistoryMessage& message) = 0;
    // Asked first, with the message's body not made yet (empty) and the plain text it is to be
    // made of, in UTF-8: false turns the message down at once, which spares making the body.
    // keeps() is asked next only about the message mayKeep() has just said yes to.
    virtual bool mayKeep(const HistoryMessage& message, std::string_view bodyUtf8)
    {
        Q_UNUSED(message);
        Q_UNUSED(bodyUtf8);
        return true;
    }
};

} // namespace velmoran
