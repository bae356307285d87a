#include "app/window_keyboard.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QKeyEvent>

namespace velmoran {

WindowKeyboard::WindowKeyboard(QObject* parent, const QList<QAbstractItemView*>& lists,
                               const QList<QAbstractButton*>& buttons)
    : QObject(parent)
    , m_lists(lists)
    , m_buttons(buttons)
{
    for (QAbstractItemView* list : m_lists) {
        list->setTabKeyNavigation(false);
        list->installEventFilter(this);
    }
    for (QAbstractButton* button : m_buttons)
        button->installEventFilter(this);
}

bool WindowKeyboard::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    // Modifiers do not matter, as for the list's own tick in the first column; shortcuts such
    // as Ctrl+O are taken before the event gets here.
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Space) {
        for (QAbstractItemView* list : std::as_const(m_lists)) {
            if (watched == list) {
                // A held key ticks once, not back and forth.
                if (!key->isAutoRepeat())
                    toggleCurrentTick(*list);
                return true;
            }
        }
    } else if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        for (QAbstractButton* button : std::as_const(m_buttons)) {
            if (watched == button) {
                if (!key->isAutoRepeat() && button->isEnabled())
                    button->click();
                return true;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

void WindowKeyboard::toggleCurrentTick(QAbstractItemView& list)
{
    const QModelIndex current = list.currentIndex();
    if (!current.isValid())
        return;
    // The tick sits in the first column; the model refuses rows it cannot tick yet.
    const QModelIndex tick = current.siblingAtColumn(0);
    if (!(tick.flags() & Qt::ItemIsUserCheckable))
        return;
    const bool ticked = tick.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    list.model()->setData(tick, ticked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

} // namespace velmoran
