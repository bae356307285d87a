#pragma once

#include "chat/chat_service.h"
#include "chat/history_loader.h"

#include <QStringList>

#include <memory>
#include <optional>

namespace velmoran {

// What the command line of velmoran asks for.
struct CommandLine {
    // Where the history comes from; answers null while there is none (a client that is not
    // running).
    HistoryChatServiceFactory::Provider historyProvider;
    // The history files behind historyProvider (the files named on the command line, or those
    // found in the usual places); null with --sample.
    std::shared_ptr<HistoryLoader> historyLoader;
    // Set when the program should end at once with this status (--help, --version, a usage
    // error); the text has been printed already.
    std::optional<int> exitCode;
    // --check-files: report on the files beside the program instead of opening the window.
    bool checkFiles = false;
    // --conversation HANDLE: open the conversation with that contact (or conversation id).
    QString conversation;
};

CommandLine parseCommandLine(const QStringList& arguments);

// True when the arguments ask only for text (--help, --version), which needs no window system.
bool answersWithoutWindow(const QStringList& arguments);

} // namespace velmoran
