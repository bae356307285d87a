#pragma once

#include <QElapsedTimer>

#include <functional>

namespace velmoran {

// The one yield of long commands: lets pending window events run, so the window stays usable
// and other commands (a stop click among them) run in between.
//
// Events are let through at most once per minimumInterval milliseconds; a yield in between
// returns at once. Loops yield several times per row, so while the interval is positive the
// clock is read only at every 32nd yield. That keeps tight loops cheap while no event waits
// much longer than the interval.
//
// Once the main window has been closed every yield throws ProgramClosing, which unwinds the
// running command (and any command it was interrupted by) without running another step.
class EventPump {
public:
    EventPump();

    void yield();
    // Lets events run now, whatever the interval.
    void yieldNow();

    void setMinimumInterval(int milliseconds) { m_minimumIntervalMs = milliseconds; }
    int minimumInterval() const { return m_minimumIntervalMs; }

    // Run right before and right after events are let through, while a command that keeps
    // something back for the window (a text to show, rows to announce) has them set. Setting
    // them again replaces them; empty functions clear them.
    void setEventHooks(std::function<void()> before, std::function<void()> after);

    void requestClose() { m_closing = true; }
    bool isClosing() const { return m_closing; }
    // Throws ProgramClosing when the window has been closed.
    void throwIfClosing() const;

private:
    bool isDue() const;

    QElapsedTimer m_sinceLastYield;
    int m_minimumIntervalMs = 5;
    unsigned m_calls = 0;
    bool m_closing = false;
    std::function<void()> m_before;
    std::function<void()> m_after;
};

// The yield of a loop that may run without a window: a null pump lets nothing run.
inline void yieldTo(EventPump* pump)
{
    if (pump)
        pump->yield();
}

} // namespace velmoran
