#pragma once

#include "chat/chat_history.h"
#include "chat/history_loader.h"

#include <QString>

#include <functional>

namespace velmoran {

// The HISTORY arguments of the command-line programs: the files named, else those found in
// the download folder and the old client's profile folder (discoverUserHistoryFiles), else
// the failure noHistoryFoundText.

// "No chat history was found …; name one … or use --sample."
QString noHistoryFoundText();

// Loads the loader's files. A file that cannot be read sets failure (the first such
// description is kept); what a reader left out or repaired goes to notice, one sentence each.
// Answers null, with failure set, when a file failed or no history was found. The history is
// kept until the process ends: freeing a large one piece by piece only delays the exit.
ChatHistoryPtr loadArgumentHistory(HistoryLoader& loader, QString& failure,
                                   const std::function<void(const QString&)>& notice);

} // namespace velmoran
