#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

namespace velmoran {

// Keeps results rows where they are while a command holds positions into the list (a filter
// between its scan and its removal, an export reading rows by position). While it is held,
// every command that removes results rows refuses to run and its controls are disabled.
class ResultsRemovalLock {
public:
    // A control that removes results rows: disabled while the lock is held.
    void addControl(QWidget* control);

    bool removalAllowed() const { return m_holders == 0; }

    // Holds the lock for its lifetime; holds nest.
    class Hold {
    public:
        explicit Hold(ResultsRemovalLock& lock);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        ResultsRemovalLock& m_lock;
    };

private:
    void setControlsEnabled(bool enabled);

    int m_holders = 0;
    QList<QPointer<QWidget>> m_controls;
};

} // namespace velmoran
