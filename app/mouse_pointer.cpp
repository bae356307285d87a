#include "app/mouse_pointer.h"

#include <QAbstractScrollArea>

namespace velmoran {

void MousePointer::attach(QWidget* window)
{
    m_window = window;
    m_ownDefaults.clear();
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* widget : widgets) {
        m_ownDefaults.insert(widget, widget->testAttribute(Qt::WA_SetCursor)
                                         ? std::optional<QCursor>(widget->cursor())
                                         : std::nullopt);
    }
    apply();
}

void MousePointer::set(int value)
{
    // The value is written on every call; the controls are only touched when it changes.
    const bool changed = value != m_value;
    m_value = value;
    if (changed)
        apply();
}

void MousePointer::setIcon(const QCursor& icon)
{
    m_icon = icon;
    apply();
}

void MousePointer::apply()
{
    if (!m_window)
        return;
    for (auto it = m_ownDefaults.cbegin(); it != m_ownDefaults.cend(); ++it) {
        QWidget* widget = it.key();
        if (m_value == Hourglass)
            widget->setCursor(Qt::WaitCursor);
        else if (m_value == Custom && m_icon)
            widget->setCursor(*m_icon);
        else if (m_value == Custom)
            widget->setCursor(Qt::ArrowCursor);
        else if (it.value())
            widget->setCursor(*it.value());
        else
            widget->unsetCursor();
    }
}

} // namespace velmoran
