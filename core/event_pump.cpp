#include "core/event_pump.h"

#include "core/failure.h"

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
    return m_closing || m_minimumIntervalMs <= 0
           || m_sinceLastYield.elapsed() >= m_minimumIntervalMs;
}

void EventPump::yield()
{
    if (m_minimumIntervalMs > 0 && !m_closing && (++m_calls & 31u) != 0)
        return;
    if (!isDue())
        return;
    yieldNow();
}

void EventPump::setEventHooks(std::function<void()> before, std::function<void()> after)
{
    m_before = std::move(before);
    m_after = std::move(after);
}

void EventPump::yieldNow()
{
    throwIfClosing();
    if (m_before)
        m_before();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    m_sinceLastYield.restart();
    throwIfClosing();
    if (m_after)
        m_after();
}

} // namespace velmoran
