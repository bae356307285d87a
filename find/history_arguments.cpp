#include "find/history_arguments.h"

#include "core/terminal_text.h"

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

void putText(QIODevice& device, const QString& text)
{
    if (!device.isOpen())
        device.open(QIODevice::WriteOnly);
    device.write(text.toUtf8());
}

void tellError(QIODevice& errors, const char* program, const QString& text)
{
    putText(errors,
            QLatin1String(program) + QStringLiteral(": ") + terminalText(text) + QLatin1Char('\n'));
}

int failWithError(QIODevice& errors, const char* program, const QString& text)
{
    tellError(errors, program, text);
    return 2;
}

int usageFailure(QIODevice& errors, const char* program, const QString& text)
{
    return failWithError(errors, program, text + QStringLiteral(" (see --help)"));
}

std::optional<int> parseCommandLine(QCommandLineParser& parser, const QStringList& arguments,
                                    const char* program, QIODevice& output, QIODevice& errors)
{
    if (!parser.parse(arguments))
        return usageFailure(errors, program, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        putText(output, parser.helpText());
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        putText(output, QLatin1String(program) + QLatin1Char(' ') + QStringLiteral(VELMORAN_VERSION)
                            + QLatin1Char('\n'));
        return 0;
    }
    return std::nullopt;
}

} // namespace velmoran
