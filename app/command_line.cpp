#include "app/command_line.h"

#include "chat/sample_history.h"
#include "core/terminal_text.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace velmoran {

bool answersWithoutWindow(const QStringList& arguments)
{
    static const QStringList textOnly = {QStringLiteral("-h"), QStringLiteral("--help"),
                                         QStringLiteral("-?"), QStringLiteral("-v"),
                                         QStringLiteral("--version")};
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QStringLiteral("--"))
            return false;
        if (textOnly.contains(arguments[i]))
            return true;
    }
    return false;
}

CommandLine parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Searches a chat history for a text, by contact."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption sample(QStringLiteral("sample"),
                                    QStringLiteral("Use the built-in sample history."));
    parser.addOption(sample);
    const QCommandLineOption checkFiles(
        QStringLiteral("check-files"),
        QStringLiteral("Check the files the program uses beside itself and its icon, then exit."));
    parser.addOption(checkFiles);
    const QCommandLineOption conversation(
        QStringLiteral("conversation"),
        QStringLiteral("Open the conversation with a contact (its handle or conversation id)."),
        QStringLiteral("HANDLE"));
    parser.addOption(conversation);
    parser.addPositionalArgument(QStringLiteral("HISTORY"), historyArgumentHelp(),
                                 QStringLiteral("[HISTORY...]"));

    CommandLine result;
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "velmoran: %s\n", qUtf8Printable(terminalText(parser.errorText())));
        result.exitCode = 2;
        return result;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qUtf8Printable(parser.helpText()), stdout);
        result.exitCode = 0;
        return result;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s %s\n", qUtf8Printable(QCoreApplication::applicationName()),
                    qUtf8Printable(QCoreApplication::applicationVersion()));
        result.exitCode = 0;
        return result;
    }
    result.checkFiles = parser.isSet(checkFiles);
    result.conversation = parser.value(conversation);
    if (parser.isSet(sample)) {
        const ChatHistoryPtr history = sampleHistory();
        result.historyProvider = [history] { return history; };
    } else {
        auto loader =
            std::make_shared<HistoryLoader>(parser.positionalArguments(), discoverUserHistoryFiles);
        result.historyLoader = loader;
        result.historyProvider = [loader] { return loader->load(); };
    }
    return result;
}

} // namespace velmoran
