#pragma once

namespace velmoran {

struct CommandContext;

class ErrorReporter;
struct Platform;

// "2. Click 'Allow access' In Skype": plays the video of the chat client's permission prompt
// by handing it to the shell. It talks to no chat client and does not look at what the shell
// answers.
class AllowAccessCommand {
public:
    explicit AllowAccessCommand(CommandContext& context);

    void PushButton1_Click();

private:
    CommandContext& m_context;
};

} // namespace velmoran
