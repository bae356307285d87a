#include "event_pump.h"

#include "failure.h"

#include <QCoreApplication>

namespace velmoran {

EventPump::EventPump()
{
    m_sinceLastYield.start();
}

void EventPump::throwIfClosing() const
{
    if (m_closing)
        throw ProgramClosing{};
}

bool EventPump::isDue() const
{
    return m_closing || m_minimumIntervalMs <= 0 || m_sinceLastYield.elapsed() >= m_minimumIntervalMs;
}

void EventPump::yield()
{
    if (!isDue())
        return;
    yieldNow();
}

void EventPump::yieldNow()
{
    throwIfClosing();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    m_sinceLastYield.restart();
    throwIfClosing();
}

} // namespace velmoran
