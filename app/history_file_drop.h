#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class QAbstractItemView;

namespace velmoran {

class HistoryLoader;

// Lets the user give the program a history without the command line: a history file dropped
// on the window is added for the rest of the session, and while no history file is known the
// empty contact list shows a short hint on how to give one.
class HistoryFileDrop final : public QObject {
public:
    HistoryFileDrop(QWidget& window, QAbstractItemView& contactList, HistoryLoader& loader);

    // The hint as the empty contact list shows it.
    static QString hintText();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void paintHint();

    QWidget& m_window;
    QAbstractItemView& m_contactList;
    HistoryLoader& m_loader;
    // Kept apart: the viewport still gets events while the list is being destroyed, when the
    // list must no longer be asked for it.
    QPointer<QWidget> m_viewport;
};

} // namespace velmoran
