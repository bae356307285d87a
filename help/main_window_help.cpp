#include "help/main_window_help.h"

#include "core/platform.h"

namespace velmoran {

ShellOpenRequest helpVideoRequest(const QString& programFolder)
{
    ShellOpenRequest request;
    request.file = quotedHelpVideoPath(programFolder);
    // The system's root folder, as the video request names the system drive's root.
    request.workingFolder = QStringLiteral("/");
    request.showMode = 5;
    return request;
}

QString quotedHelpVideoPath(const QString& programFolder)
{
    return QLatin1Char('"') + programFolder + QString::fromUtf16(HelpVideoName) + QLatin1Char('"');
}

QString mainWindowHelpText(const QString& listContactsCaption)
{
    const QString paragraphBreak = QStringLiteral("\r\r");
    return QStringLiteral("For your information: I have Skype Version 5.6.0.110 installed on my "
                          "computer and this software works well with it.")
           + paragraphBreak
           + QStringLiteral("In order to use this software, please make sure that you have Skype "
                            "open and you are logged into your account.")
           + paragraphBreak + QStringLiteral("Also, after clicking the '") + listContactsCaption
           + QStringLiteral(
               "' button, Skype will ask if this software has permission to can access "
               "it. You will have to switch from looking at this software to looking "
               "at Skype and click 'Allow'.")
           + paragraphBreak
           + QStringLiteral(
               "Would you like to see a video showing how this 'Allow' message appears "
               "in Skype?");
}

} // namespace velmoran
