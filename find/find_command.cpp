#include "find/find_command.h"

#include "chat/chat_service.h"
#include "core/error_report.h"
#include "core/failure.h"
#include "core/guarded_routine.h"
#include "chat/history_loader.h"
#include "results/results_rows.h"
#include "chat/sample_history.h"
#include "search/search_engine.h"
#include "search/search_pattern.h"
#include "results/text_file_writer.h"
#include "results/text_table.h"
#include "search/timestamp_text.h"

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

// The failures of the search and the writer, without a window: the description of the first
// one is kept for the one error line.
class FirstFailure final : public ErrorReporter {
public:
    void report(const QString& description, const QString&, int) override
    {
        if (!m_failed)
            m_description = description;
        m_failed = true;
    }
    bool failed() const { return m_failed; }
    const QString& description() const { return m_description; }

private:
    QString m_description;
    bool m_failed = false;
};

// Found rows are kept in order, ticked, for the writer.
class RowsSink final : public SearchSink {
public:
    explicit RowsSink(ResultRows& rows)
        : m_rows(rows)
    {
    }
    void found(const QString& contact, MessageField field, const QString& value) override
    {
        m_rows.append(contact, field, value);
    }

private:
    ResultRows& m_rows;
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
    // The handles of the command line do not change.
    quint64 textsVersion() const override { return 0; }

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

ChatHistoryPtr loadHistory(bool sample, const QStringList& files, QString& failure, QIODevice& errors)
{
    if (sample)
        return sampleHistory();
    HistoryLoader loader(files, discoverUserHistoryFiles);
    loader.setReport([&](const QString& description) {
        if (failure.isEmpty())
            failure = description;
    });
    // Messages left out of a file: one line each, the search goes on.
    loader.setNotice([&](const QString& notice) {
        put(errors, QLatin1String(ProgramName) + QStringLiteral(": ") + notice + QLatin1Char('\n'));
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
    const ChatHistoryPtr history = loadHistory(parser.isSet(sample), files, failure, errors);
    if (!history)
        return fail(errors, failure);

    FirstFailure reporter;
    ResultRows results;
    {
        GuardedRoutine routine(reporter, routineLabel(QStringLiteral("Form1"),
                                                      QStringLiteral("PushButton7_Click")));
        HistoryChatService service(history);
        const HandleRows contacts(parser.isSet(contact) ? parser.values(contact) : history->contacts);
        const SearchPattern pattern(text);
        TimestampText timestamps;
        FixedCase observer(parser.isSet(ignoreCase) ? Qt::CaseInsensitive : Qt::CaseSensitive);
        RowsSink sink(results);
        searchChats(routine, service, contacts, pattern, timestamps, observer, sink);
    }
    if (reporter.failed())
        return fail(errors, reporter.description());

    const ResultsTable table(results, {QStringLiteral("Contact"), QStringLiteral("Field"),
                                       QStringLiteral("Value")});
    const bool written = parser.isSet(outputFile)
        ? SaveListviewProperlySpaced(table, parser.value(outputFile), nullptr, nullptr, reporter)
        : SaveListviewProperlySpaced(table, output, QStringLiteral("standard output"), nullptr,
                                     nullptr, reporter);
    if (!written)
        return fail(errors, reporter.failed() ? reporter.description()
                                             : QStringLiteral("The results could not be written."));
    return results.size() > 0 ? 0 : 1;
}

} // namespace velmoran
