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

std::optional<int> readDateOption(const QCommandLineParser& parser,
                                  const QCommandLineOption& option,
                                  std::optional<qint64> (*parse)(const QString&),
                                  std::optional<qint64>& moment, const char* program,
                                  QIODevice& errors)
{
    if (!parser.isSet(option))
        return std::nullopt;
    const QString value = parser.value(option);
    moment = parse(value);
    if (moment)
        return std::nullopt;
    return usageFailure(errors, program,
                        QStringLiteral("--%1 %2 is no date; give YYYY-MM-DD or "
                                       "YYYY-MM-DDTHH:MM[:SS], optionally ending "
                                       "in Z or an offset such as +01:00.")
                            .arg(option.names().constLast(), value));
}

} // namespace velmoran
