#include "find_command.h"

#include "chat_service.h"
#include "dialogs.h"
#include "error_report.h"
#include "failure.h"
#include "guarded_routine.h"
#include "history_loader.h"
#include "results_model.h"
#include "sample_history.h"
#include "search_engine.h"
#include "search_pattern.h"
#include "text_file_writer.h"
#include "text_table.h"
#include "timestamp_text.h"

#include <QCommandLineParser>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace velmoran {

qint64 DescriptorDevice::writeData(const char* data, qint64 size)
{
    qint64 written = 0;
    while (written < size) {
        const ssize_t n = ::write(m_descriptor, data + written, size_t(size - written));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            setErrorString(QString::fromLocal8Bit(std::strerror(errno)));
            return -1;
        }
        written += n;
    }
    return written;
}

namespace {

const char ProgramName[] = "velmoran-find";

// The shared failure report, without a window: the description of the first failure is kept
// for the one error line; nothing is ever asked.
class FirstFailure final : public Dialogs {
public:
    void message(const QString&) override {}
    bool question(const QString&) override { return false; }
    void errorReport(const QString& text) override
    {
        // The report's first line is the failure's description; the rest names the step.
        if (m_description.isEmpty())
            m_description = text.section(QStringLiteral("\r\n"), 0, 0);
    }
    QString inputBox(const QString&) override { return {}; }
    QString saveFileName(const SaveDialogRequest&) override { return {}; }

    bool failed() const { return !m_description.isEmpty(); }
    const QString& description() const { return m_description; }

private:
    QString m_description;
};

// The contact rows of the command line: all ticked, in the order given.
class HandleRows final : public SearchContacts {
public:
    explicit HandleRows(QStringList handles)
        : m_handles(std::move(handles))
    {
    }
    qsizetype size() const override { return m_handles.size(); }
    bool isChecked(qsizetype row) const override
    {
        check(row);
        return true;
    }
    QString text(qsizetype row) const override
    {
        check(row);
        return m_handles[row - 1];
    }

private:
    void check(qsizetype row) const
    {
        if (row < 1 || row > m_handles.size())
            throw Failure(QStringLiteral("Invalid index: contact row %1 does not exist.").arg(row));
    }
    QStringList m_handles;
};

// A search without a window: case as asked, never stopped, nothing shown.
class FixedCase final : public SearchObserver {
public:
    explicit FixedCase(Qt::CaseSensitivity cs)
        : m_cs(cs)
    {
    }
    Qt::CaseSensitivity caseSensitivity() const override { return m_cs; }

private:
    Qt::CaseSensitivity m_cs;
};

void put(QIODevice& device, const QString& text)
{
    if (!device.isOpen())
        device.open(QIODevice::WriteOnly);
    device.write(text.toUtf8());
}

int fail(QIODevice& errors, const QString& description)
{
    put(errors, QLatin1String(ProgramName) + QStringLiteral(": ") + description
                    + QLatin1Char('\n'));
    return 2;
}

int usageError(QIODevice& errors, const QString& description)
{
    return fail(errors, description + QStringLiteral(" (see --help)"));
}

ChatHistoryPtr loadHistory(bool sample, const QStringList& files, QString& failure)
{
    if (sample)
        return sampleHistory();
    HistoryLoader loader(files, discoverUserHistoryFiles);
    loader.setReport([&](const QString& description) {
        if (failure.isEmpty())
            failure = description;
    });
    ChatHistoryPtr history = loader.load();
    if (failure.isEmpty() && !history)
        failure = QStringLiteral("No chat history was found in the download folder or the old "
                                 "client's profile folder; name one (an export .tar, its "
                                 "messages.json or a main.db) or use --sample.");
    return failure.isEmpty() ? history : nullptr;
}

} // namespace

int runFind(const QStringList& arguments, QIODevice& output, QIODevice& errors)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Searches a chat history for TEXT as the window's \"Start Finding\" does (sender name, "
        "body and timestamp of every message of the chosen contacts) and writes the results "
        "as \"Save Results As Text File\" does. Exit status: 0 when rows were found, 1 when "
        "none were, 2 on an error."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption sample(QStringLiteral("sample"),
                                    QStringLiteral("Search the built-in sample history."));
    const QCommandLineOption contact(
        QStringList{QStringLiteral("c"), QStringLiteral("contact")},
        QStringLiteral("Search the chats of this contact only; repeat for several, in this "
                       "order (a contact given twice is searched twice). Default: every contact "
                       "of the history."),
        QStringLiteral("HANDLE"));
    const QCommandLineOption ignoreCase(QStringList{QStringLiteral("i"), QStringLiteral("ignore-case")},
                                        QStringLiteral("Letter case does not count."));
    const QCommandLineOption outputFile(
        QStringList{QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Write the results into FILE, replacing it only once it is written "
                       "whole, instead of to standard output."),
        QStringLiteral("FILE"));
    parser.addOptions({sample, contact, ignoreCase, outputFile});
    parser.addPositionalArgument(
        QStringLiteral("HISTORY"),
        historyArgumentHelp(),
        QStringLiteral("[--sample | HISTORY...]"));
    parser.addPositionalArgument(QStringLiteral("TEXT"),
                                 QStringLiteral("The text to find; \"\" finds every non-empty field."));

    if (!parser.parse(arguments))
        return usageError(errors, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        put(output, parser.helpText());
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        put(output, QLatin1String(ProgramName) + QLatin1Char(' ')
                        + QStringLiteral(VELMORAN_VERSION) + QLatin1Char('\n'));
        return 0;
    }
    QStringList files = parser.positionalArguments();
    if (files.isEmpty())
        return usageError(errors, QStringLiteral("No text to find was given."));
    const QString text = files.takeLast();
    if (parser.isSet(sample) && !files.isEmpty())
        return usageError(errors, QStringLiteral("--sample and history files do not go together."));

    QString failure;
    const ChatHistoryPtr history = loadHistory(parser.isSet(sample), files, failure);
    if (!history)
        return fail(errors, failure);

    FirstFailure reports;
    ErrorReporter reporter(reports);
    ResultsModel results;
    for (const char* header : {"Contact", "Field", "Value"})
        results.addColumn(QLatin1String(header));
    {
        GuardedRoutine routine(reporter, routineLabel(QStringLiteral("Form1"),
                                                      QStringLiteral("PushButton7_Click")));
        HistoryChatService service(history);
        const HandleRows contacts(parser.isSet(contact) ? parser.values(contact) : history->contacts);
        const SearchPattern pattern(text);
        TimestampText timestamps;
        FixedCase observer(parser.isSet(ignoreCase) ? Qt::CaseInsensitive : Qt::CaseSensitive);
        searchChats(routine, service, contacts, pattern, timestamps, observer, results);
    }
    if (reports.failed())
        return fail(errors, reports.description());

    const ResultsTable table(results);
    const bool written = parser.isSet(outputFile)
        ? SaveListviewProperlySpaced(table, parser.value(outputFile), nullptr, nullptr, reporter)
        : SaveListviewProperlySpaced(table, output, QStringLiteral("standard output"), nullptr,
                                     nullptr, reporter);
    if (!written)
        return fail(errors, reports.failed() ? reports.description()
                                             : QStringLiteral("The results could not be written."));
    return results.size() > 0 ? 0 : 1;
}

} // namespace velmoran
