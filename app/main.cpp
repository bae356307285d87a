#include "app/command_line.h"
#include "app/conversation_entry.h"
#include "app/form1.h"
#include "app/program_files.h"
#include "app/termination_signals.h"

#include "app/desktop_platform.h"
#include "app/history_file_drop.h"
#include "app/history_load_progress.h"
#include "chat/chat_service.h"
#include "chat/history_loader.h"

#include <QApplication>
#include <QTableView>

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char* argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("velmoran"));
    // Settings are kept in ~/.config/velmoran/velmoran.conf.
    QCoreApplication::setOrganizationName(QStringLiteral("velmoran"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORAN_VERSION));

    // --help and --version only print: they must work without a display.
    QStringList rawArguments;
    for (int i = 0; i < argc; ++i)
        rawArguments << QString::fromLocal8Bit(argv[i]);
    if (velmoran::answersWithoutWindow(rawArguments)) {
        QCoreApplication console(argc, argv);
        return velmoran::parseCommandLine(console.arguments()).exitCode.value_or(0);
    }

    // Qt reads its own options (-platform, -platformpluginpath, …) only before "--": after it
    // every argument is a history file's name, whatever it looks like.
    int qtArgc = 0;
    while (qtArgc < argc && std::strcmp(argv[qtArgc], "--") != 0)
        ++qtArgc;
    std::vector<char*> qtArgv(argv, argv + qtArgc);
    qtArgv.push_back(nullptr);
    QApplication app(qtArgc, qtArgv.data());
    // Lets the desktop match the window to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.velmoran.Velmoran"));

    QStringList arguments = app.arguments();
    for (int i = int(qtArgv.size()) - 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const velmoran::CommandLine commandLine = velmoran::parseCommandLine(arguments);
    if (commandLine.exitCode)
        return *commandLine.exitCode;

    velmoran::DesktopPlatform desktop;
    if (commandLine.checkFiles) {
        const velmoran::ProgramFilesReport report =
            velmoran::checkProgramFiles(desktop.platform().programFolder);
        std::fputs(qUtf8Printable(report.text), stdout);
        return report.ok ? 0 : 1;
    }
    velmoran::HistoryChatServiceFactory chatServices(commandLine.historyProvider);
    if (commandLine.historyLoader) {
        // A history file that cannot be read is told once per command that needs it.
        commandLine.historyLoader->setReport([&desktop](const QString& description) {
            desktop.platform().dialogs.message(description);
        });
        // Messages left out of a file are told once, after the contact listing.
        commandLine.historyLoader->setNotice(
            [&chatServices](const QString& notice) { chatServices.addNotice(notice); });
    }
    velmoran::Form1 window(desktop.platform(), chatServices);
    desktop.dialogs().setParentWindow(&window);
    if (commandLine.historyLoader)
        velmoran::showHistoryLoadProgress(*commandLine.historyLoader, window.eventPump(),
                                          window.progress());
    if (commandLine.historyLoader)
        new velmoran::HistoryFileDrop(window, *window.contactListView(), *commandLine.historyLoader,
                                      desktop.platform().dialogs);
    window.Form_Load();
    window.show();
    velmoran::closeOnTerminationSignals(window);
    if (!commandLine.conversation.isEmpty())
        window.conversations().showContact(commandLine.conversation);
    return app.exec();
}
