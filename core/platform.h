#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>

#include <functional>

namespace velmoran {

class Dialogs;

// How the shell is asked to open a document with its default application. The file is given
// as the program builds it: a path in double quotes.
struct ShellOpenRequest {
    QString file;
    QString operation;     // empty: the default action for the file's type
    QString parameters;    // none
    QString workingFolder; // the folder the opened program starts in
    int showMode = 5;      // show and activate
    // Told when the desktop cannot open the file (no application for its type, no opener, the
    // file gone), possibly after openDocument returned: why, as a phrase. Unset: not told.
    std::function<void(const QString& reason)> failed;
};

// The desktop's shell: documents and addresses open in their default applications.
// Outcomes are not reported back, except to a document request that sets `failed`.
class Shell {
public:
    virtual ~Shell() = default;
    virtual void openDocument(const ShellOpenRequest& request) = 0;
    virtual void openUrl(const QUrl& url) = 0;
    // The desktop entry ("libreoffice-calc.desktop") of the application that opens documents of
    // a MIME type by default, or "" when none is registered. A shell that cannot tell answers "".
    virtual QString defaultApplication(const QString& mimeType)
    {
        Q_UNUSED(mimeType);
        return {};
    }
};

// The system clipboard. Either operation can fail while another program holds it.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual bool clear() = 0;
    // format 0 is plain text.
    virtual bool setText(const QString& text, int format) = 0;
};

// The program's random number generator.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual void seed(quint32 seed) = 0;
    // Uniform in [0, 1).
    virtual double next() = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

// The services of the desktop that the window uses, bundled so tests can replace each one.
struct Platform {
    Dialogs& dialogs;
    Shell& shell;
    Clipboard& clipboard;
    RandomSource& random;
    Clock& clock;
    // The folder that holds the program, without a trailing separator.
    QString programFolder;
};

} // namespace velmoran
