#pragma once

namespace velmoran {

class ChatServiceFactory;
class ContactListModel;
class ErrorReporter;
class EventPump;
class MainWindowHelpCommand;
class MousePointer;
class ProgressDisplay;
class ResultsModel;
class ResultsRemovalLock;
struct Platform;

// What the window's commands work with: the desktop, the failure report, the yield, the
// pointer, the progress bar, the chat client and both lists. The window owns all of it and
// hands the same context to every command it creates.
struct CommandContext {
    Platform& platform;
    ErrorReporter& reporter;
    EventPump& pump;
    MousePointer& pointer;
    ProgressDisplay& progress;
    ChatServiceFactory& chatServices;
    ContactListModel& contacts;
    ResultsModel& results;
    // Held while positions into the results list must stay valid; commands that remove
    // results rows check removalAllowed() first.
    ResultsRemovalLock& resultsRemoval;
    // The help, also shown by commands that find the chat client not running.
    MainWindowHelpCommand& help;
};

} // namespace velmoran
