#pragma once

#include "chat/chat_history.h"

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
};

} // namespace velmoran
