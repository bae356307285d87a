#pragma once

#include <QList>
#include <QObject>

class QAbstractButton;
class QAbstractItemView;

namespace velmoran {

// The keys a user tries in the window beyond what the controls take by themselves: Tab and
// Shift+Tab leave a list along the window's focus order instead of walking its cells, Space
// ticks the current row of a list whatever column is current, and Enter presses a focused
// push button, as Space does (buttons stay without a default look).
class WindowKeyboard final : public QObject {
public:
    WindowKeyboard(QObject* parent, const QList<QAbstractItemView*>& lists,
                   const QList<QAbstractButton*>& buttons);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static void toggleCurrentTick(QAbstractItemView& list);

    QList<QAbstractItemView*> m_lists;
    QList<QAbstractButton*> m_buttons;
};

} // namespace velmoran
