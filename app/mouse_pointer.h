#pragma once

#include <QCursor>
#include <QHash>
#include <QPointer>
#include <QWidget>

#include <optional>

namespace velmoran {

// The main window's pointer selection, shown over the window and all its controls:
// 0 the default pointer, 11 the hourglass, 99 the custom pointer image (MouseIcon), which is
// the default pointer while no image is loaded.
class MousePointer {
public:
    enum : int { Default = 0, Hourglass = 11, Custom = 99 };

    // Applies the selection to the window and every control in it. Controls keep their own
    // default pointer (the text box's I-beam) for selection 0.
    void attach(QWidget* window);

    int value() const { return m_value; }
    void set(int value);

    const std::optional<QCursor>& icon() const { return m_icon; }
    void setIcon(const QCursor& icon);

private:
    void apply();

    QPointer<QWidget> m_window;
    QHash<QWidget*, std::optional<QCursor>> m_ownDefaults;
    std::optional<QCursor> m_icon;
    int m_value = Default;
};

} // namespace velmoran
