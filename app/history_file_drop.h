#pragma once

#include "core/dialogs.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

class QAbstractItemView;

namespace velmoran {

class Dialogs;
class HistoryLoader;

// Lets the user give the program a history without the command line: a history file dropped
// on the window, or chosen in an open dialog (Ctrl+O, or a click on the hint), is added for
// the rest of the session, and while no history file is known the empty contact list shows a
// short hint on how to give one.
class HistoryFileDrop final : public QObject {
public:
    HistoryFileDrop(QWidget& window, QAbstractItemView& contactList, HistoryLoader& loader,
                    Dialogs& dialogs);

    // The hint as the empty contact list shows it.
    static QString hintText();
    // The open dialog as the window asks for it.
    static OpenDialogRequest openRequest();

    // Asks for history files and adds the chosen ones.
    void chooseFiles();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool hintShown() const;
    void paintHint();
    void addFiles(const QStringList& files);

    QWidget& m_window;
    QAbstractItemView& m_contactList;
    HistoryLoader& m_loader;
    Dialogs& m_dialogs;
    // Kept apart: the viewport still gets events while the list is being destroyed, when the
    // list must no longer be asked for it.
    QPointer<QWidget> m_viewport;
};

} // namespace velmoran
