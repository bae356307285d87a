#include "find/history_arguments.h"

namespace velmoran {

QString noHistoryFoundText()
{
    return QStringLiteral(
        "No chat history was found in the download folder or the old client's profile folder; "
        "name one (an export .tar, its messages.json or a main.db) or use --sample.");
}

ChatHistoryPtr loadArgumentHistory(HistoryLoader& loader, QString& failure,
                                   const std::function<void(const QString&)>& notice)
{
    loader.setReport([&](const QString& description) {
        if (failure.isEmpty())
            failure = description;
    });
    loader.setNotice(notice);
    ChatHistoryPtr history = loader.load();
    static auto* const keptUntilExit = new ChatHistoryPtr;
    *keptUntilExit = history;
    if (failure.isEmpty() && !history)
        failure = noHistoryFoundText();
    return failure.isEmpty() ? history : nullptr;
}

} // namespace velmoran
