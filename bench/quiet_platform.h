#pragma once

#include "core/dialogs.h"
#include "core/platform.h"

#include <QDateTime>
#include <QString>

#include <cstdio>
#include <functional>

namespace velmoran::bench {

// Dialogs that answer at once: no to questions, cancel to input and open dialogs, saveAs to
// save dialogs. Failure
// reports are printed, since a benchmark that fails must not look fast; onMessage lets a
// benchmark see "Done.".
class QuietDialogs final : public Dialogs {
public:
    void message(const QString& text) override
    {
        if (onMessage)
            onMessage(text);
    }
    bool question(const QString&) override { return false; }
    bool warningQuestion(const QString&) override { return false; }
    void errorReport(const QString& text) override
    {
        std::fprintf(stderr, "report: %s\n", qPrintable(text));
    }
    QString inputBox(const QString&) override { return {}; }
    QString saveFileName(const SaveDialogRequest&) override { return saveAs; }
    QStringList openFileNames(const OpenDialogRequest&) override { return {}; }

    std::function<void(const QString&)> onMessage;
    // The file a save dialog answers with; empty is a cancel.
    QString saveAs;
};

class NoShell final : public Shell {
public:
    void openDocument(const ShellOpenRequest&) override {}
    void openUrl(const QUrl&) override {}
};

// Takes the text as the desktop clipboard would, without a window system in between.
class TakingClipboard final : public Clipboard {
public:
    bool clear() override
    {
        text.clear();
        return true;
    }
    bool setText(const QString& newText, int) override
    {
        text = newText;
        return true;
    }
    QString text;
};

// Never draws the site visit.
class FirstDraw final : public RandomSource {
public:
    void seed(quint32) override {}
    double next() override { return 0; }
};

class Now final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// A desktop that shows nothing and opens nothing, for benchmarks that run commands.
struct QuietPlatform {
    explicit QuietPlatform(QString programFolder = QString())
        : platform{dialogs, shell, clipboard, random, clock, std::move(programFolder)}
    {
    }
    QuietDialogs dialogs;
    NoShell shell;
    TakingClipboard clipboard;
    FirstDraw random;
    Now clock;
    Platform platform;
};

} // namespace velmoran::bench
