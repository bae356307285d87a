#pragma once

#include <QString>

namespace velmoran {

struct CommandContext;

class ChatServiceFactory;
class ContactListModel;
class ErrorReporter;
class MainWindowHelpCommand;
class MousePointer;

// The three buttons over the contact list: "List Contacts In Skype" fills it from the chat
// client and ticks every row, "Check All" and "Uncheck All" set every row's tick. None of them
// lets window events run while it works.
class ContactListCommands {
public:
    explicit ContactListCommands(CommandContext& context);

    // "List Contacts In Skype". Appends the client's non-empty contact handles (again, when
    // listed before) and then ticks every row of the list, old rows included. A client that
    // is not running gets the help instead and leaves the list as it was.
    void PushButton2_Click();
    // "Check All".
    void PushButton3_Click();
    // "Uncheck All".
    void PushButton4_Click();

private:
    void setEveryTick(const QString& routine, bool checked);

    CommandContext& m_context;
};

} // namespace velmoran
