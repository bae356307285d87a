#include "chat/message_blocks.h"

#include <algorithm>

namespace velmoran {

void MessageBlocks::truncate(size_t count)
{
    while (m_size > count) {
        std::vector<HistoryMessage>& last = m_blocks.back();
        const size_t drop = std::min(m_size - count, last.size());
        last.erase(last.end() - qsizetype(drop), last.end());
        m_size -= drop;
        if (last.empty())
            m_blocks.pop_back();
    }
}

std::vector<HistoryMessage> MessageBlocks::takeInTimeOrder(const std::function<void()>& between)
{
    auto byTime = [](const HistoryMessage& a, const HistoryMessage& b) {
        return a.timestampMs < b.timestampMs;
    };
    std::vector<HistoryMessage> ordered;
    if (m_blocks.size() <= 1) {
        if (!m_blocks.empty())
            ordered = std::move(m_blocks.front());
        if (!std::is_sorted(ordered.begin(), ordered.end(), byTime))
            std::stable_sort(ordered.begin(), ordered.end(), byTime);
        ordered.shrink_to_fit();
        *this = {};
        return ordered;
    }
    // Sorted as (time, place read) keys, a run at a time, then runs merged pairwise.
    struct Key {
        qint64 time;
        size_t index;
        bool operator<(const Key& other) const
        {
            return time != other.time ? time < other.time : index < other.index;
        }
    };
    std::vector<Key> keys(m_size);
    bool sorted = true;
    for (size_t i = 0; i < m_size; ++i) {
        keys[i] = {at(i).timestampMs, i};
        sorted = sorted && (i == 0 || keys[i - 1].time <= keys[i].time);
    }
    if (!sorted) {
        const size_t run = 8 * BlockSize;
        for (size_t from = 0; from < m_size; from += run) {
            std::sort(keys.begin() + qsizetype(from),
                      keys.begin() + qsizetype(std::min(m_size, from + run)));
            between();
        }
        std::vector<Key> merged(m_size);
        for (size_t width = run; width < m_size; width *= 2) {
            for (size_t from = 0; from < m_size; from += 2 * width) {
                const size_t middle = std::min(m_size, from + width);
                const size_t end = std::min(m_size, from + 2 * width);
                std::merge(keys.begin() + qsizetype(from), keys.begin() + qsizetype(middle),
                           keys.begin() + qsizetype(middle), keys.begin() + qsizetype(end),
                           merged.begin() + qsizetype(from));
                between();
            }
            keys.swap(merged);
        }
    }
    ordered.reserve(m_size);
    for (size_t i = 0; i < m_size; ++i) {
        const size_t from = keys[i].index;
        ordered.push_back(std::move(m_blocks[from / BlockSize][from % BlockSize]));
        if ((i + 1) % BlockSize == 0)
            between();
    }
    *this = {};
    return ordered;
}

} // namespace velmoran
