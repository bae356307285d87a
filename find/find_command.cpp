#include "find/find_command.h"

#include "chat/chat_service.h"
#include "chat/history_loader.h"
#include "chat/message_sieve.h"
#include "chat/sample_history.h"
#include "core/error_report.h"
#include "core/failure.h"
#include "core/guarded_routine.h"
#include "find/conversation_view.h"
#include "find/find_output.h"
#include "find/history_arguments.h"
#include "find/history_overview.h"
#include "results/results_rows.h"
#include "results/text_file_writer.h"
#include "results/text_table.h"
#include "search/search_engine.h"
#include "search/search_pattern.h"
#include "search/timestamp_text.h"

#include <QCommandLineParser>
#include <QFile>
#include <QList>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace velmoran {

DescriptorDevice::~DescriptorDevice()
{
    if (isOpen())
        close();
}

bool DescriptorDevice::open(OpenMode mode)
{
    if (!m_path.isNull()) {
        // No O_TRUNC: the node is a FIFO or a device, written as it is.
        const int descriptor = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CLOEXEC);
        if (descriptor < 0) {
            setErrorString(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        m_descriptor = descriptor;
    }
    return QIODevice::open(mode | Unbuffered);
}

void DescriptorDevice::close()
{
    QIODevice::close();
    if (!m_path.isNull() && m_descriptor >= 0) {
        ::close(m_descriptor);
        m_descriptor = -1;
    }
}

qint64 DescriptorDevice::writeData(const char* data, qint64 size)
{
    qint64 written = 0;
    while (written < size) {
        const ssize_t n = ::write(m_descriptor, data + written, size_t(size - written));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EPIPE)
                m_readerGone = true;
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

// A row found, with the chat and the message it came from.
struct FoundRow {
    QString contact;
    QString value;
    MessageField field;
    const HistoryChat* chat;
    const HistoryMessage* message;
};

} // namespace
} // namespace velmoran

// Relocatable: a list of millions of rows grows in place instead of moving every row.
Q_DECLARE_TYPEINFO(velmoran::FoundRow, Q_RELOCATABLE_TYPE);

namespace velmoran {
namespace {

// Where found rows go, in order: the text file's rows alone (as the window keeps them), the
// rows with the chat and message they came from (csv, jsonl), or only their number.
struct FoundRows {
    ResultRows* text = nullptr;
    QList<FoundRow>* detailed = nullptr;
    qsizetype count = 0;
};

class RowsSink final : public SearchSink {
public:
    RowsSink(FoundRows& rows, ConversationView& view)
        : m_rows(rows)
        , m_view(view)
    {
    }
    void found(const QString& contact, MessageField field, const QString& value) override
    {
        foundAt(0, 0, contact, field, value);
    }
    void foundAt(qint32 chat, qint32 message, const QString& contact, MessageField field,
                 const QString& value) override
    {
        ++m_rows.count;
        if (m_rows.text)
            m_rows.text->append(contact, field, value);
        if (m_rows.detailed) {
            const bool known = chat > 0 && message > 0;
            m_rows.detailed->push_back({contact, value, field, known ? &m_view.chat(chat) : nullptr,
                                        known ? &m_view.messageAt(chat, message) : nullptr});
        }
    }

private:
    FoundRows& m_rows;
    ConversationView& m_view;
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

// Keeps, while the history is read, only the messages the search can report: those the filter
// lets through with a field that holds the pattern. The search tests them again; the history
// it searches then holds just them, never the whole file's texts. Once the pattern cannot
// settle a field, every message the filter lets through is kept untested, so that the search
// meets that field and reports it, and the reading wastes no more time on such fields.
class FoundFieldsSieve final : public MessageSieve {
public:
    FoundFieldsSieve(const SearchPattern& pattern, Qt::CaseSensitivity cs,
                     TimestampText& timestamps, const MessageFilter& filter)
        : m_pattern(pattern)
        , m_cs(cs)
        , m_timestamps(timestamps)
        , m_filter(filter)
    {
    }
    // Most bodies are turned down from their bytes, before they are made into text; a message
    // found by its sender or time is kept without looking at its body.
    bool mayKeep(const HistoryMessage& message, std::string_view bodyUtf8) override
    {
        if (!m_filter.accepts(message))
            return false;
        m_foundWithoutBody = holdsOrUnsettled([&] {
            return m_pattern.matches(message.senderDisplayName, m_cs)
                   || m_timestamps.contains(message.timestampMs, m_pattern, m_cs);
        });
        return m_foundWithoutBody || m_pattern.mayMatchUtf8(bodyUtf8, m_cs);
    }
    // Asked right after mayKeep() said yes for the same message.
    bool keeps(const HistoryMessage& message) override
    {
        return m_foundWithoutBody
               || holdsOrUnsettled([&] { return m_pattern.matches(message.body, m_cs); });
    }

private:
    template <typename Test> bool holdsOrUnsettled(Test&& test)
    {
        if (m_unsettled)
            return true;
        try {
            return test();
        } catch (const PatternMatchFailure&) {
            m_unsettled = true;
            return true;
        }
    }

    bool m_unsettled = false;
    bool m_foundWithoutBody = false;
    const SearchPattern& m_pattern;
    Qt::CaseSensitivity m_cs;
    TimestampText& m_timestamps;
    const MessageFilter& m_filter;
};

// True when the device is a descriptor whose reader has gone: the output is no longer wanted.
bool readerGone(QIODevice* device)
{
    const auto* descriptor = dynamic_cast<const DescriptorDevice*>(device);
    return descriptor && descriptor->readerGone();
}

// Writes found rows as CSV or JSON objects; field names and order as the header gives them.
// The rows of a message follow one another, so the columns that come from the message and its
// chat are written once per message and copied for its other rows.
class FoundRowWriter {
public:
    explicit FoundRowWriter(OutputFormat format)
        : m_csv(format == OutputFormat::Csv)
    {
    }

    void append(QByteArray& out, const FoundRow& row)
    {
        if (m_csv) {
            appendCsvField(out, row.contact);
            out += ',';
            appendCsvField(out, messageFieldText(row.field));
            out += ',';
            appendCsvField(out, row.value);
        } else {
            out += "{\"contact\":";
            appendJsonString(out, row.contact);
            out += ",\"field\":";
            appendJsonString(out, messageFieldText(row.field));
            out += ",\"value\":";
            appendJsonString(out, row.value);
        }
        if (!m_tailWritten || row.message != m_message || row.chat != m_chat)
            writeTail(row.message, row.chat);
        out += m_tail;
    }

private:
    // The columns from time on, and the end of the line.
    void writeTail(const HistoryMessage* message, const HistoryChat* chat)
    {
        m_message = message;
        m_chat = chat;
        m_tailWritten = true;
        m_tail.resize(0);
        static const QString none;
        const QString* values[] = {
            message ? &message->senderId : &none,
            message ? &message->senderDisplayName : &none,
            chat ? &chat->id : &none,
            chat ? &chat->name : &none,
        };
        if (m_csv) {
            m_tail += ',';
            if (message)
                appendIsoUtcTime(m_tail, message->timestampMs);
            for (const QString* value : values) {
                m_tail += ',';
                appendCsvField(m_tail, *value);
            }
            m_tail += "\r\n";
            return;
        }
        static const char* const names[] = {
            ",\"sender\":", ",\"sender_name\":", ",\"conversation\":", ",\"conversation_name\":"};
        m_tail += ",\"time\":\"";
        if (message)
            appendIsoUtcTime(m_tail, message->timestampMs);
        m_tail += '"';
        for (size_t i = 0; i < std::size(values); ++i) {
            m_tail += names[i];
            appendJsonString(m_tail, *values[i]);
        }
        m_tail += "}\n";
    }

    bool m_csv;
    bool m_tailWritten = false;
    const HistoryMessage* m_message = nullptr;
    const HistoryChat* m_chat = nullptr;
    QByteArray m_tail;
};

const char CsvHeader[] =
    "contact,field,value,time,sender,sender_name,conversation,conversation_name\r\n";

} // namespace

int runFind(const QStringList& arguments, QIODevice& output, QIODevice& errors)
{
    return runFind(arguments, output, errors, nullptr);
}

int runFind(const QStringList& arguments, QIODevice& output, QIODevice& errors,
            ChatHistoryPtr givenHistory)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Searches a chat history for TEXT as the window's \"Start Finding\" does (sender name, "
        "body and timestamp of every message of the chosen contacts) and writes the results "
        "as \"Save Results As Text File\" does, or as CSV or JSON lines. Exit status: 0 when "
        "rows were found, 1 when none were, 2 on an error."));
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
    const QCommandLineOption ignoreCase(
        QStringList{QStringLiteral("i"), QStringLiteral("ignore-case")},
        QStringLiteral("Letter case does not count."));
    const QCommandLineOption outputFile(
        QStringList{QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Write the results into FILE, replacing it only once it is written "
                       "whole, instead of to standard output. A FIFO or a device is written "
                       "straight through; a history file being read is refused."),
        QStringLiteral("FILE"));
    const QCommandLineOption format(
        QStringList{QStringLiteral("f"), QStringLiteral("format")},
        QStringLiteral("text (the window's text file, the default), csv or jsonl. csv and jsonl "
                       "rows add time, sender, sender_name, conversation and conversation_name."),
        QStringLiteral("FORMAT"), QStringLiteral("text"));
    const QCommandLineOption allChats(
        QStringLiteral("all-chats"),
        QStringLiteral("Also search the conversations that are not one-to-one (group chats, "
                       "bots); their rows follow, with the conversation's id as the contact."));
    const QCommandLineOption after(
        QStringLiteral("after"),
        QStringLiteral("Only messages at or after DATE: YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS], local "
                       "time unless it ends in Z or an offset (+HH:MM)."),
        QStringLiteral("DATE"));
    const QCommandLineOption before(QStringLiteral("before"),
                                    QStringLiteral("Only messages before DATE (as --after)."),
                                    QStringLiteral("DATE"));
    const QCommandLineOption from(
        QStringLiteral("from"),
        QStringLiteral("Only messages whose sender id or display name contains TEXT, letter "
                       "case ignored."),
        QStringLiteral("TEXT"));
    const QCommandLineOption regex(
        QStringList{QStringLiteral("E"), QStringLiteral("regex")},
        QStringLiteral("TEXT is a regular expression (Perl-compatible)."));
    const QCommandLineOption list(
        QStringLiteral("list"),
        QStringLiteral("List the history's conversations instead of searching: id, kind, name, "
                       "message count, first and last message time, tab-separated."));
    const QCommandLineOption count(QStringLiteral("count"),
                                   QStringLiteral("Write only the number of rows found."));
    const QCommandLineOption stats(
        QStringLiteral("stats"),
        QStringLiteral("Count the messages the search would read, per conversation and per "
                       "year (UTC), instead of searching."));
    parser.addOptions({sample, contact, ignoreCase, outputFile, format, allChats, after, before,
                       from, regex, list, count, stats});
    parser.addPositionalArgument(QStringLiteral("HISTORY"), historyArgumentHelp(),
                                 QStringLiteral("[--sample | HISTORY...]"));
    parser.addPositionalArgument(QStringLiteral("TEXT"),
                                 QStringLiteral("The text to find; \"\" finds every non-empty "
                                                "field. Not given with --list or --stats."));

    if (const std::optional<int> settled =
            parseCommandLine(parser, arguments, ProgramName, output, errors))
        return *settled;

    OutputFormat outputFormat = OutputFormat::Text;
    const QString formatName = parser.value(format);
    if (formatName == u"csv")
        outputFormat = OutputFormat::Csv;
    else if (formatName == u"jsonl")
        outputFormat = OutputFormat::JsonLines;
    else if (formatName != u"text")
        return usageFailure(
            errors, ProgramName,
            QStringLiteral("Unknown format \"%1\"; use text, csv or jsonl.").arg(formatName));
    const int modes = int(parser.isSet(list)) + int(parser.isSet(count)) + int(parser.isSet(stats));
    if (modes > 1)
        return usageFailure(errors, ProgramName,
                            QStringLiteral("Only one of --list, --count and --stats goes "
                                           "at a time."));
    const bool overview = parser.isSet(list) || parser.isSet(stats);

    MessageFilter filter;
    for (const auto& [option, moment] :
         {std::pair{&after, &filter.afterMs}, std::pair{&before, &filter.beforeMs}})
        if (const std::optional<int> failed =
                readDateOption(parser, *option, &parseMoment, *moment, ProgramName, errors))
            return *failed;
    filter.sender = parser.value(from);

    QStringList files = parser.positionalArguments();
    QString text;
    if (!overview) {
        if (files.isEmpty())
            return usageFailure(errors, ProgramName, QStringLiteral("No text to find was given."));
        text = files.takeLast();
    }
    if (parser.isSet(sample) && !files.isEmpty())
        return usageFailure(errors, ProgramName,
                            QStringLiteral("--sample and history files do not go together."));
    SearchPattern pattern(text);
    if (parser.isSet(regex)) {
        pattern = SearchPattern::regularExpression(text);
        if (!pattern.isValid())
            return usageFailure(errors, ProgramName,
                                QStringLiteral("The regular expression is not valid at "
                                               "position %1: %2.")
                                    .arg(pattern.errorOffset())
                                    .arg(pattern.errorText()));
    }

    // The output must not be one of the files being read: it would be replaced by the results.
    OutputTarget target(output, parser.isSet(outputFile) ? parser.value(outputFile) : QString());
    const bool fromFiles = !givenHistory && !parser.isSet(sample);
    HistoryLoader loader(fromFiles ? files : QStringList(), discoverUserHistoryFiles);
    if (fromFiles) {
        const QString conflict = target.conflictWith(loader.files());
        if (!conflict.isEmpty())
            return failWithError(errors, ProgramName, conflict);
    }

    // A search reads only what it can find; an overview counts every message.
    const Qt::CaseSensitivity cs =
        parser.isSet(ignoreCase) ? Qt::CaseInsensitive : Qt::CaseSensitive;
    TimestampText timestamps;
    FoundFieldsSieve sieve(pattern, cs, timestamps, filter);
    if (!overview)
        loader.setSieve(&sieve);

    // What the reading of a file left out or repaired: one line each, the search goes on.
    const auto notice = [&](const QString& text) { tellError(errors, ProgramName, text); };
    QString failure;
    const ChatHistoryPtr history = givenHistory ? givenHistory
                                   : parser.isSet(sample)
                                       ? sampleHistory()
                                       : loadArgumentHistory(loader, failure, notice);
    if (!history)
        return failWithError(errors, ProgramName, failure);

    const QStringList handles = parser.isSet(contact) ? parser.values(contact) : history->contacts;
    auto finishWriting = [&](bool written, int status) {
        if (written && target.finish())
            return status;
        if (readerGone(target.device()))
            return status;
        return failWithError(errors, ProgramName, target.errorText());
    };
    auto sinkFor = [&](ChunkedOutput& chunks) {
        return OutputSink{chunks.buffer(), [&chunks] { return chunks.maybeFlush(); }};
    };

    if (overview) {
        ChunkedOutput chunks(target);
        bool written = false;
        if (parser.isSet(list)) {
            written = writeConversationList(*history, outputFormat, sinkFor(chunks));
        } else {
            // The chats the search reads, each once.
            const QSet<QString> wanted(handles.begin(), handles.end());
            std::vector<const HistoryChat*> chats;
            for (const HistoryChat& chat : history->chats) {
                if (chat.peerHandle.isEmpty() ? parser.isSet(allChats)
                                              : wanted.contains(chat.peerHandle))
                    chats.push_back(&chat);
            }
            written = writeStatistics(chats, filter, outputFormat, sinkFor(chunks));
        }
        return finishWriting(written && chunks.flush(), 0);
    }

    FirstFailure reporter;
    ResultRows results;
    QList<FoundRow> rows;
    FoundRows found;
    if (!parser.isSet(count)) {
        if (outputFormat == OutputFormat::Text)
            found.text = &results;
        else
            found.detailed = &rows;
    }
    {
        GuardedRoutine routine(
            reporter, routineLabel(QStringLiteral("Form1"), QStringLiteral("PushButton7_Click")));
        FixedCase observer(cs);
        ConversationView chats = ConversationView::allChats(history, filter);
        RowsSink sink(found, chats);
        searchChats(routine, chats, HandleRows(handles), pattern, timestamps, observer, sink);
        // A failure ends the search with an error whatever the other chats hold.
        if (parser.isSet(allChats) && !reporter.failed()) {
            ConversationView others = ConversationView::otherChats(history, filter);
            RowsSink otherSink(found, others);
            searchChats(routine, others, HandleRows(others.peers()), pattern, timestamps, observer,
                        otherSink);
        }
    }
    if (reporter.failed())
        return failWithError(errors, ProgramName, reporter.description());
    const int status = found.count > 0 ? 0 : 1;

    if (parser.isSet(count)) {
        const bool written = target.write(QByteArray::number(found.count) + '\n');
        return finishWriting(written, status);
    }

    if (outputFormat == OutputFormat::Text) {
        const ResultsTable table(
            results, {QStringLiteral("Contact"), QStringLiteral("Field"), QStringLiteral("Value")});
        const bool written =
            target.kind() == OutputTarget::Kind::Replaced
                ? SaveListviewProperlySpaced(table, target.path(), nullptr, nullptr, reporter)
                : SaveListviewProperlySpaced(table, *target.device(), target.name(), nullptr,
                                             nullptr, reporter);
        if (written)
            return status;
        if (readerGone(target.device()))
            return status;
        return failWithError(errors, ProgramName,
                             reporter.failed()
                                 ? reporter.description()
                                 : QStringLiteral("The results could not be written."));
    }

    ChunkedOutput chunks(target);
    if (outputFormat == OutputFormat::Csv)
        chunks.buffer() += CsvHeader;
    bool written = true;
    FoundRowWriter writer(outputFormat);
    for (const FoundRow& row : rows) {
        writer.append(chunks.buffer(), row);
        if (!chunks.maybeFlush()) {
            written = false;
            break;
        }
    }
    return finishWriting(written && chunks.flush(), status);
}

} // namespace velmoran
