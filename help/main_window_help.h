#pragma once

#include <QString>

namespace velmoran {

// The relative name of the video that shows the chat client's permission prompt.
inline constexpr char16_t HelpVideoName[] = u"/Help Video/Skype Allow.avi";

// The help video's path as the program hands it to the shell: in double quotes, so that
// blanks in the program's folder stay inside one argument.
QString quotedHelpVideoPath(const QString& programFolder);

struct ShellOpenRequest;

// The shell request that opens the help video, from the program's folder.
ShellOpenRequest helpVideoRequest(const QString& programFolder);

// The four paragraphs of the main window's help, joined by CR CR; the third names the
// caption the "List Contacts" button has now.
QString mainWindowHelpText(const QString& listContactsCaption);

} // namespace velmoran
