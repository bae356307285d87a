#include "app/results_removal_lock.h"

namespace velmoran {

void ResultsRemovalLock::addControl(QWidget* control)
{
    m_controls << control;
    control->setEnabled(removalAllowed());
}

void ResultsRemovalLock::setControlsEnabled(bool enabled)
{
    for (const QPointer<QWidget>& control : std::as_const(m_controls)) {
        if (control)
            control->setEnabled(enabled);
    }
}

ResultsRemovalLock::Hold::Hold(ResultsRemovalLock& lock)
    : m_lock(lock)
{
    if (m_lock.m_holders++ == 0)
        m_lock.setControlsEnabled(false);
}

ResultsRemovalLock::Hold::~Hold()
{
    if (--m_lock.m_holders == 0)
        m_lock.setControlsEnabled(true);
}

} // namespace velmoran
