#pragma once

#include <functional>

#include <QString>

namespace velmoran {

class ErrorReporter;
struct Platform;

// "Help": tells the user what the chat client needs and offers the video of its permission
// prompt. Also run by the commands that find the client not running.
class MainWindowHelpCommand {
public:
    // listContactsCaption answers the current caption of the "List Contacts" button.
    MainWindowHelpCommand(Platform& platform, ErrorReporter& reporter,
                          std::function<QString()> listContactsCaption);

    void PushButton13_Click();

private:
    Platform& m_platform;
    ErrorReporter& m_reporter;
    std::function<QString()> m_listContactsCaption;
};

} // namespace velmoran
