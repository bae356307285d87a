#pragma once

#include "core/dialogs.h"
#include "core/platform.h"

#include <QPointer>
#include <QWidget>

#include <random>

namespace velmoran {

// Real dialogs, modal to the window they are given.
class WidgetDialogs final : public Dialogs {
public:
    void setParentWindow(QObject* window) override { m_parent = qobject_cast<QWidget*>(window); }
    QObject* parentWindow() const override { return m_parent.data(); }

    void message(const QString& text) override;
    bool question(const QString& text) override;
    bool warningQuestion(const QString& text) override;
    void errorReport(const QString& text) override;
    QString inputBox(const QString& prompt) override;
    QString saveFileName(const SaveDialogRequest& request) override;
    QStringList openFileNames(const OpenDialogRequest& request) override;
    QString existingFolder(const FolderDialogRequest& request) override;

private:
    QPointer<QWidget> m_parent;
};

// Opens documents and addresses with the desktop's default applications (xdg-open and the
// like, through Qt). A request that wants to hear of a failure is told when xdg-open cannot be
// started, the file is gone or xdg-open exits with status 2 to 4 (no file, no application, the
// opening failed).
class DesktopShell final : public Shell {
public:
    void openDocument(const ShellOpenRequest& request) override;
    void openUrl(const QUrl& url) override;
    QString defaultApplication(const QString& mimeType) override;
};

// The system clipboard through Qt. A text counts as set when the clipboard reads it back.
class SystemClipboard final : public Clipboard {
public:
    bool clear() override;
    bool setText(const QString& text, int format) override;
};

class StdRandomSource final : public RandomSource {
public:
    void seed(quint32 seed) override { m_engine.seed(seed); }
    double next() override;

private:
    std::mt19937 m_engine;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// Every desktop service in one place, for main().
class DesktopPlatform {
public:
    DesktopPlatform();
    Platform& platform() { return m_platform; }
    WidgetDialogs& dialogs() { return m_dialogs; }

private:
    WidgetDialogs m_dialogs;
    DesktopShell m_shell;
    SystemClipboard m_clipboard;
    StdRandomSource m_random;
    SystemClock m_clock;
    Platform m_platform;
};

// Converts the program's CR line breaks to the newlines that Qt's labels understand.
QString displayText(const QString& text);

// The path of a document as the program quotes it, without its double quotes.
QString unquotedPath(const QString& quoted);

// "Text Files (*.txt)|*.txt|All Files (*.*)|*.*|" as Qt's file dialogs write filters.
QString qtFileDialogFilter(const QString& pipeSeparated);

} // namespace velmoran
