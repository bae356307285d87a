#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace velmoran {

// What a save dialog is asked to show. The dialog adds no extension and asks nothing about
// overwriting; the caller does that.
struct SaveDialogRequest {
    QString title;
    QString filter;   // "Name (*.ext)|*.ext|..." pairs, as the program writes them
    QString fileName; // initial name
};

// What an open dialog is asked to show: existing files only, several may be chosen.
struct OpenDialogRequest {
    QString title;
    QString filter; // "Name (patterns)|patterns|..." pairs, as for the save dialog
    QString folder; // where the dialog starts; "" leaves it to the dialog
};

// What a folder dialog is asked to show: existing folders only, one may be chosen.
struct FolderDialogRequest {
    QString title;
    QString folder; // where the dialog starts; "" leaves it to the dialog
};

// Every modal dialog of the program goes through this interface, so tests can answer them.
// Texts are passed exactly as the program builds them (a CR stays a CR); implementations that
// draw them show each CR as a line break.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // OK button, no icon, the application title.
    virtual void message(const QString& text) = 0;
    // Yes and No, Yes the default, no icon, the application title. True for Yes.
    virtual bool question(const QString& text) = 0;
    // Yes and No, No the default, a warning icon, the application title: for a Yes that may do
    // harm (running what came from a chat history, filling the disk). True for Yes.
    virtual bool warningQuestion(const QString& text) = 0;
    // The failure report: title "Application Error", warning icon, OK.
    virtual void errorReport(const QString& text) = 0;
    // Prompt, the application title, empty default text. Cancel answers "".
    virtual QString inputBox(const QString& prompt) = 0;
    // The chosen full path, or "" when cancelled.
    virtual QString saveFileName(const SaveDialogRequest& request) = 0;
    // The chosen full paths, or none when cancelled.
    virtual QStringList openFileNames(const OpenDialogRequest& request) = 0;
    // The chosen folder's full path, or "" when cancelled. Dialogs that have no folder dialog
    // answer as cancelled.
    virtual QString existingFolder(const FolderDialogRequest& request)
    {
        Q_UNUSED(request);
        return {};
    }

    // The window the dialogs are modal to and shown over: a handle of the window layer's (a
    // QWidget there), only passed on below it; nullptr for none. DialogParent sets it for a
    // while.
    virtual void setParentWindow(QObject* window) { Q_UNUSED(window); }
    virtual QObject* parentWindow() const { return nullptr; }
};

// While it lives, dialogs are modal to window (a window other than the main one asks them:
// the main window must not come in front of it). Restores the one before.
class DialogParent {
public:
    DialogParent(Dialogs& dialogs, QObject* window)
        : m_dialogs(dialogs)
        , m_before(dialogs.parentWindow())
    {
        m_dialogs.setParentWindow(window);
    }
    ~DialogParent() { m_dialogs.setParentWindow(m_before); }
    DialogParent(const DialogParent&) = delete;
    DialogParent& operator=(const DialogParent&) = delete;

private:
    Dialogs& m_dialogs;
    QObject* m_before;
};

} // namespace velmoran
