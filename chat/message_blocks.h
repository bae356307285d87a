#pragma once

#include "chat/chat_history.h"

#include <functional>
#include <vector>

namespace velmoran {

// The messages of a conversation as they are read, in blocks, so a long chat never moves what
// it holds while it grows. At the end they are put in time order (ties in reading order) into
// one list of their exact size, a piece at a time: a chat of half a million messages takes a
// while to sort and move, and window events run between the pieces.
class MessageBlocks {
public:
    size_t size() const { return m_size; }
    const HistoryMessage& at(size_t i) const { return m_blocks[i / BlockSize][i % BlockSize]; }

    void push_back(HistoryMessage&& message)
    {
        if (m_blocks.empty() || m_blocks.back().size() == BlockSize) {
            m_blocks.emplace_back();
            // The first block grows as needed, so a short chat takes little room.
            if (m_blocks.size() > 1)
                m_blocks.back().reserve(BlockSize);
        }
        m_blocks.back().push_back(std::move(message));
        ++m_size;
    }

    // Forgets the messages from the count-th on.
    void truncate(size_t count);

    // The messages in time order; calls between() between pieces of the work. Leaves this
    // empty.
    std::vector<HistoryMessage> takeInTimeOrder(const std::function<void()>& between);

private:
    static constexpr size_t BlockSize = 8192;
    std::vector<std::vector<HistoryMessage>> m_blocks;
    size_t m_size = 0;
};

} // namespace velmoran
