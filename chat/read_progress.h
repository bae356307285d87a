#pragma once

#include <algorithm>
#include <functional>

namespace velmoran {

// Told now and then how far the read of a history has come: the fraction done, from 0 to 1,
// never falling. It may let window events run; to stop the read it throws, and the reader
// releases what it holds and lets the exception through.
using ReadProgress = std::function<void(double done)>;

// What a reading does next, as a callback inside a reader answers it. A Stop must not be
// dropped: whoever gets one returns it, or acts on it.
enum class [[nodiscard]] ReadStep{Continue, Stop};

// The progress of a read made of parts, on the scale of the whole from 0 to 1: each part
// tells its own fraction done (0 to 1, clamped), which is placed in the part's span; the level
// reached never falls.
class ProgressScale {
public:
    // A read whose one part spans from to to of the whole; the level starts at from.
    constexpr explicit ProgressScale(double from = 0, double to = 1)
        : m_from(from)
        , m_width(to - from)
        , m_level(from)
    {
    }

    // The part now read: it starts start units into the whole of total units and is width
    // units wide. The level stays where it is.
    void setPart(double start, double width, double total)
    {
        m_from = start;
        m_width = width;
        m_total = total;
    }

    // Where done of the part lies on the whole's scale.
    double place(double done) const
    {
        return (m_from + m_width * std::clamp(done, 0.0, 1.0)) / m_total;
    }

    // Raises the level to place(done); answers whether that lies above it (else the level
    // stays).
    bool raise(double done)
    {
        const double at = place(done);
        if (at <= m_level)
            return false;
        m_level = at;
        return true;
    }

    double level() const { return m_level; }

private:
    double m_from;
    double m_width;
    double m_total = 1;
    double m_level;
};

} // namespace velmoran
