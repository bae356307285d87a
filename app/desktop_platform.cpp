#include "app/desktop_platform.h"

#include "core/application_title.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace velmoran {

QString displayText(const QString& text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

namespace {

int runMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                  const QString& text, QMessageBox::StandardButtons buttons,
                  QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, title, displayText(text), buttons, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    return box.exec();
}

} // namespace

void WidgetDialogs::message(const QString& text)
{
    runMessageBox(m_parent, QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok,
                  QMessageBox::Ok);
}

bool WidgetDialogs::question(const QString& text)
{
    return runMessageBox(m_parent, QMessageBox::NoIcon, applicationTitle(), text,
                         QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
           == QMessageBox::Yes;
}

bool WidgetDialogs::warningQuestion(const QString& text)
{
    return runMessageBox(m_parent, QMessageBox::Warning, applicationTitle(), text,
                         QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
           == QMessageBox::Yes;
}

void WidgetDialogs::errorReport(const QString& text)
{
    runMessageBox(m_parent, QMessageBox::Warning, QStringLiteral("Application Error"), text,
                  QMessageBox::Ok, QMessageBox::Ok);
}

QString WidgetDialogs::inputBox(const QString& prompt)
{
    bool ok = false;
    const QString answer = QInputDialog::getText(m_parent, applicationTitle(), displayText(prompt),
                                                 QLineEdit::Normal, QString(), &ok);
    return ok ? answer : QString();
}

QString WidgetDialogs::saveFileName(const SaveDialogRequest& request)
{
    return QFileDialog::getSaveFileName(m_parent, request.title, request.fileName,
                                        qtFileDialogFilter(request.filter), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

QStringList WidgetDialogs::openFileNames(const OpenDialogRequest& request)
{
    return QFileDialog::getOpenFileNames(m_parent, request.title, request.folder,
                                         qtFileDialogFilter(request.filter));
}

QString WidgetDialogs::existingFolder(const FolderDialogRequest& request)
{
    return QFileDialog::getExistingDirectory(m_parent, request.title, request.folder);
}

QString unquotedPath(const QString& quoted)
{
    if (quoted.size() >= 2 && quoted.startsWith(QLatin1Char('"'))
        && quoted.endsWith(QLatin1Char('"')))
        return quoted.mid(1, quoted.size() - 2);
    return quoted;
}

QString qtFileDialogFilter(const QString& pipeSeparated)
{
    // Pairs of description and pattern; Qt shows the description, which already names the
    // patterns.
    const QStringList parts = pipeSeparated.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        filters << parts[i];
    return filters.join(QStringLiteral(";;"));
}

void DesktopShell::openDocument(const ShellOpenRequest& request)
{
    // xdg-open hands the file to the desktop's default application and returns; started
    // detached so the program neither waits for it nor looks at its outcome.
    const QString path = unquotedPath(request.file);
    // With parameters the file is a program to start with them, as a shell runs it.
    if (!request.parameters.isEmpty()) {
        QProcess::startDetached(path, QProcess::splitCommand(request.parameters),
                                request.workingFolder);
        return;
    }
    if (!request.failed) {
        if (!QProcess::startDetached(QStringLiteral("xdg-open"), {path}, request.workingFolder))
            QDesktopServices::openUrl(QUrl::fromLocalFile(path));
        return;
    }
    if (!QFileInfo::exists(path)) {
        request.failed(QObject::tr("the file is no longer there"));
        return;
    }
    // Watched to its end for its exit status, without waiting for it. Not owned by anything:
    // an opener still running when the program ends (a viewer xdg-open runs itself) is left
    // running, not killed.
    auto* opener = new QProcess;
    opener->setWorkingDirectory(request.workingFolder);
    opener->setProgram(QStringLiteral("xdg-open"));
    opener->setArguments({path});
    opener->setStandardInputFile(QProcess::nullDevice());
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    const auto failed = request.failed;
    QObject::connect(opener, &QProcess::finished, opener,
                     [opener, failed](int status, QProcess::ExitStatus how) {
                         opener->deleteLater();
                         if (how != QProcess::NormalExit)
                             return;
                         // xdg-open's statuses: 2 no such file, 3 no tool or application for
                         // it, 4 the application failed.
                         if (status == 2)
                             failed(QObject::tr("the file is no longer there"));
                         else if (status == 3)
                             failed(QObject::tr("no application to open it is installed"));
                         else if (status == 4)
                             failed(QObject::tr("the application for it failed to open it"));
                     });
    QObject::connect(opener, &QProcess::errorOccurred, opener,
                     [opener, failed, path](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         opener->deleteLater();
                         if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
                             failed(QObject::tr("no program to open files with (xdg-open) "
                                                "could be started"));
                     });
    opener->start();
}

void DesktopShell::openUrl(const QUrl& url)
{
    QDesktopServices::openUrl(url);
}

QString DesktopShell::defaultApplication(const QString& mimeType)
{
    // The desktop's own answer (mimeapps.list, then the MIME cache), as xdg-open would use it.
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), mimeType});
    if (!query.waitForFinished(10000)) {
        query.kill();
        query.waitForFinished();
        return {};
    }
    const QString entry = QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
    // A default that names an application no longer installed opens nothing.
    if (entry.isEmpty()
        || QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry).isEmpty())
        return {};
    return entry;
}

bool SystemClipboard::clear()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->clear();
    return true;
}

bool SystemClipboard::setText(const QString& text, int format)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    if (format == 0) {
        clipboard->setText(text);
        return clipboard->text() == text;
    }
    auto* data = new QMimeData;
    data->setData(QStringLiteral("application/x-velmoran-format-%1").arg(format), text.toUtf8());
    clipboard->setMimeData(data);
    return clipboard->mimeData() != nullptr;
}

double StdRandomSource::next()
{
    return std::uniform_real_distribution<double>(0.0, 1.0)(m_engine);
}

DesktopPlatform::DesktopPlatform()
    : m_platform{m_dialogs, m_shell, m_clipboard,
                 m_random,  m_clock, QCoreApplication::applicationDirPath()}
{
}

} // namespace velmoran
