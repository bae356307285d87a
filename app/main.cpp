#include "command_line.h"
#include "form1.h"

#include "chat_service.h"
#include "desktop_platform.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velmoran"));
    QApplication::setApplicationVersion(QStringLiteral(VELMORAN_VERSION));

    const velmoran::CommandLine commandLine = velmoran::parseCommandLine(app.arguments());
    if (commandLine.exitCode)
        return *commandLine.exitCode;

    velmoran::DesktopPlatform desktop;
    velmoran::HistoryChatServiceFactory chatServices(commandLine.historyProvider);
    velmoran::Form1 window(desktop.platform(), chatServices);
    desktop.dialogs().setParentWindow(&window);
    window.Form_Load();
    window.show();
    return app.exec();
}
