#pragma once

#include <QElapsedTimer>

namespace velmoran {

// The yield of long commands: lets pending window events run, so the window stays usable and
// other commands (a stop click among them) run in between.
//
// Events are let through at most once per minimumInterval milliseconds; a yield in between
// returns at once. That keeps tight loops cheap while no event waits longer than the interval.
//
// Once the main window has been closed every yield throws ProgramClosing, which unwinds the
// running command (and any command it was interrupted by) without running another step.
class EventPump {
public:
    EventPump();

    void yield();
    // Lets events run now, whatever the interval.
    void yieldNow();
    // True when yield() would let events run (or throw, once the window is closed).
    bool isDue() const;

    void setMinimumInterval(int milliseconds) { m_minimumIntervalMs = milliseconds; }
    int minimumInterval() const { return m_minimumIntervalMs; }

    void requestClose() { m_closing = true; }
    bool isClosing() const { return m_closing; }
    // Throws ProgramClosing when the window has been closed.
    void throwIfClosing() const;

private:
    QElapsedTimer m_sinceLastYield;
    int m_minimumIntervalMs = 5;
    bool m_closing = false;
};

} // namespace velmoran
