#pragma once

#include "core/dialogs.h"
#include "core/failure.h"
#include "core/platform.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QQueue>
#include <QStringList>

#include <functional>

namespace velmoran::test {

// One dialog the program showed, as it asked for it.
struct ShownDialog {
    enum Kind {
        Message,
        Question,
        WarningQuestion,
        ErrorReport,
        InputBox,
        SaveFile,
        OpenFiles,
        Folder
    };
    Kind kind;
    QString text; // message text, prompt, or file or folder dialog title
    SaveDialogRequest save;
    OpenDialogRequest open;
    FolderDialogRequest folder = {};
    QObject* parent = nullptr; // the window it was modal to
};

// Answers dialogs from a script and records every one shown. A dialog without a scripted
// answer gets the harmless one: OK, No, cancel. onShow runs while the dialog is "open", so a
// test can act at that moment (for example, close the window).
class ScriptedDialogs final : public Dialogs {
public:
    void message(const QString& text) override;
    bool question(const QString& text) override;
    // Answered from the same script as question().
    bool warningQuestion(const QString& text) override;
    void errorReport(const QString& text) override;
    QString inputBox(const QString& prompt) override;
    QString saveFileName(const SaveDialogRequest& request) override;
    QStringList openFileNames(const OpenDialogRequest& request) override;
    QString existingFolder(const FolderDialogRequest& request) override;
    void setParentWindow(QObject* window) override { m_parent = window; }
    QObject* parentWindow() const override { return m_parent; }

    void answerQuestion(bool yes) { m_questionAnswers.enqueue(yes); }
    void answerInput(const QString& text) { m_inputAnswers.enqueue(text); }
    void answerSaveFile(const QString& path) { m_saveAnswers.enqueue(path); }
    void answerOpenFiles(const QStringList& paths) { m_openAnswers.enqueue(paths); }
    void answerFolder(const QString& path) { m_folderAnswers.enqueue(path); }

    QList<ShownDialog> shown;
    std::function<void(const ShownDialog&)> onShow;

    QStringList texts(ShownDialog::Kind kind) const;
    QStringList errorReports() const { return texts(ShownDialog::ErrorReport); }
    QStringList messages() const { return texts(ShownDialog::Message); }

private:
    void record(ShownDialog dialog);

    QQueue<bool> m_questionAnswers;
    QQueue<QString> m_inputAnswers;
    QQueue<QString> m_saveAnswers;
    QQueue<QStringList> m_openAnswers;
    QQueue<QString> m_folderAnswers;
    QPointer<QObject> m_parent;
};

// Records what the program asks the shell to open. With a failure text set, every request
// throws Failure with it instead, as a shell that cannot be reached does.
class RecordingShell final : public Shell {
public:
    void openDocument(const ShellOpenRequest& request) override
    {
        failIfAsked();
        documents << request;
        if (!cannotOpen.isEmpty() && request.failed)
            request.failed(cannotOpen);
    }
    void openUrl(const QUrl& url) override
    {
        failIfAsked();
        urls << url;
    }
    QString defaultApplication(const QString& mimeType) override
    {
        return defaultApplications.value(mimeType);
    }

    QList<ShellOpenRequest> documents;
    QList<QUrl> urls;
    // Desktop entries by MIME type; none registered unless a test says so.
    QHash<QString, QString> defaultApplications;
    QString failure;
    // When set, a document request is recorded and then told that the desktop cannot open it,
    // with this reason (as xdg-open finding no application does).
    QString cannotOpen;

private:
    void failIfAsked() const
    {
        if (!failure.isEmpty())
            throw Failure(failure);
    }
};

class MemoryClipboard final : public Clipboard {
public:
    bool clear() override;
    bool setText(const QString& text, int format) override;

    QString text;
    int format = -1;
    int clearCalls = 0;
    int setTextCalls = 0;
    // Attempts that fail before one succeeds (another program holding the clipboard).
    int failuresBeforeSuccess = 0;
};

class FixedRandomSource final : public RandomSource {
public:
    void seed(quint32 value) override { seeds << value; }
    double next() override { return value; }

    double value = 0.5;
    QList<quint32> seeds;
};

class FixedClock final : public Clock {
public:
    QDateTime now() const override { return time; }
    QDateTime time = QDateTime(QDate(2026, 1, 2), QTime(10, 20, 30));
};

// All fakes together, with a platform that points at them.
struct FakePlatform {
    explicit FakePlatform(QString programFolder = QString());

    ScriptedDialogs dialogs;
    RecordingShell shell;
    MemoryClipboard clipboard;
    FixedRandomSource random;
    FixedClock clock;
    Platform platform;
};

} // namespace velmoran::test
