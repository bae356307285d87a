#include "find/archive_command.h"

#include "archive/archive_folder.h"
#include "archive/archive_writer.h"
#include "chat/history_loader.h"
#include "chat/sample_history.h"
#include "core/failure.h"
#include "core/stop_signals.h"
#include "core/terminal_text.h"
#include "find/conversation_view.h"
#include "find/history_arguments.h"

#include <QCommandLineParser>
#include <QDate>
#include <QElapsedTimer>
#include <QLocale>
#include <QRegularExpression>

#include <csignal>

namespace velmoran {

namespace {

const char ProgramName[] = "velmoran-archive";

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int)
{
    stopRequested = 1;
}

// --until DATE: a date alone counts to its end (the start of the next day).
std::optional<qint64> parseUntil(const QString& text)
{
    static const QRegularExpression dateAlone(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    if (dateAlone.match(text).hasMatch()) {
        const QDate date = QDate::fromString(text, Qt::ISODate);
        if (!date.isValid())
            return std::nullopt;
        return parseMoment(date.addDays(1).toString(Qt::ISODate));
    }
    return parseMoment(text);
}

// A bar on the terminal, redrawn at most ten times a second; cleared when done.
class ProgressBar {
public:
    ProgressBar(QIODevice& errors, bool shown)
        : m_errors(errors)
        , m_shown(shown)
    {
        m_timer.start();
    }
    ~ProgressBar() { clear(); }

    void show(const QString& what, double done)
    {
        if (!m_shown || (m_drawn && m_timer.elapsed() < 100 && done < 1))
            return;
        m_timer.restart();
        m_drawn = true;
        constexpr int Width = 30;
        const int filled = int(std::clamp(done, 0.0, 1.0) * Width);
        putText(m_errors, QStringLiteral("\r[%1%2] %3% %4\x1b[K")
                              .arg(QString(filled, u'#'), QString(Width - filled, u'.'))
                              .arg(int(done * 100), 3)
                              .arg(what));
    }
    void clear()
    {
        if (m_drawn)
            putText(m_errors, QStringLiteral("\r\x1b[K"));
        m_drawn = false;
    }

private:
    QIODevice& m_errors;
    bool m_shown;
    bool m_drawn = false;
    QElapsedTimer m_timer;
};

QString kindText(ArchiveFolder::Kind kind)
{
    switch (kind) {
    case ArchiveFolder::Kind::New:
        return QStringLiteral("a new folder");
    case ArchiveFolder::Kind::Empty:
        return QStringLiteral("an empty folder");
    case ArchiveFolder::Kind::Earlier:
        return QStringLiteral("replacing the archive that was there");
    }
    return {};
}

} // namespace

void stopArchiveOnSignals()
{
    handleStopSignals(onSignal);
}

int runArchive(const QStringList& arguments, QIODevice& output, QIODevice& errors, bool terminal)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes the whole chat history into DIR as an archive that needs no program to read: "
        "index.html lists every conversation, each has its pages by month and a "
        "conversation.txt, shared files are copied beside them. DIR must be new, an empty "
        "folder or an earlier archive of this program, which is replaced whole. Exit status: "
        "0 when the archive was written, 2 on an error."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption sample(QStringLiteral("sample"),
                                    QStringLiteral("Archive the built-in sample history."));
    const QCommandLineOption conversation(
        QStringLiteral("conversation"),
        QStringLiteral("Archive this conversation only (its id, as velmoran-find --list shows "
                       "it, or its partner's handle); repeat for several."),
        QStringLiteral("ID"));
    const QCommandLineOption since(
        QStringLiteral("since"),
        QStringLiteral("Only messages at or after DATE: YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS], "
                       "local time unless it ends in Z or an offset (+HH:MM)."),
        QStringLiteral("DATE"));
    const QCommandLineOption until(
        QStringLiteral("until"),
        QStringLiteral("Only messages before DATE (as --since); a date alone counts to its end."),
        QStringLiteral("DATE"));
    const QCommandLineOption noMedia(
        QStringLiteral("no-media"),
        QStringLiteral("Leave the shared files out; the pages name them as not included."));
    parser.addOptions({sample, conversation, since, until, noMedia});
    parser.addPositionalArgument(QStringLiteral("DIR"),
                                 QStringLiteral("The folder the archive is written to."));
    parser.addPositionalArgument(QStringLiteral("HISTORY"), historyArgumentHelp(),
                                 QStringLiteral("[--sample | HISTORY...]"));

    if (const std::optional<int> settled =
            parseCommandLine(parser, arguments, ProgramName, output, errors))
        return *settled;

    ArchiveOptions options;
    options.media = !parser.isSet(noMedia);
    for (const auto& [option, moment, parse] : {std::tuple{&since, &options.sinceMs, &parseMoment},
                                                std::tuple{&until, &options.untilMs, &parseUntil}})
        if (const std::optional<int> failed =
                readDateOption(parser, *option, parse, *moment, ProgramName, errors))
            return *failed;

    QStringList files = parser.positionalArguments();
    if (files.isEmpty())
        return usageFailure(errors, ProgramName,
                            QStringLiteral("No folder for the archive was given."));
    const QString dir = files.takeFirst();
    if (parser.isSet(sample) && !files.isEmpty())
        return usageFailure(errors, ProgramName,
                            QStringLiteral("--sample and history files do not go together."));

    QElapsedTimer clock;
    clock.start();
    HistoryLoader loader(parser.isSet(sample) ? QStringList() : files, discoverUserHistoryFiles);
    ProgressBar bar(errors, terminal);
    try {
        ArchiveFolder folder(dir, parser.isSet(sample) ? QStringList() : loader.files());
        loader.setProgress([&](double done) {
            if (stopRequested)
                throw ProgramClosing{};
            bar.show(QStringLiteral("reading the history"), done);
        });
        QString failure;
        const ChatHistoryPtr history =
            parser.isSet(sample) ? sampleHistory()
                                 : loadArgumentHistory(loader, failure, [&](const QString& notice) {
                                       bar.clear();
                                       tellError(errors, ProgramName, notice);
                                   });
        if (!history)
            return failWithError(errors, ProgramName, failure);

        for (const QString& id : parser.values(conversation)) {
            bool found = false;
            for (size_t i = 0; i < history->chats.size(); ++i) {
                const HistoryChat& chat = history->chats[i];
                if (chat.id == id || (!chat.peerHandle.isEmpty() && chat.peerHandle == id)) {
                    options.chats.push_back(i);
                    found = true;
                }
            }
            if (!found)
                return usageFailure(errors, ProgramName,
                                    QStringLiteral("The history holds no conversation "
                                                   "\"%1\" (velmoran-find --list lists "
                                                   "them).")
                                        .arg(id));
        }

        const QString temporary = folder.begin();
        const std::optional<ArchiveSummary> summary =
            writeArchive(*history, temporary, options, [&](qint64 done, qint64 total) {
                if (stopRequested)
                    return false;
                bar.show(QStringLiteral("%1 of %2 messages")
                             .arg(QLocale().toString(done), QLocale().toString(total)),
                         total > 0 ? double(done) / double(total) : 1.0);
                return true;
            });
        if (!summary || stopRequested)
            return failWithError(errors, ProgramName,
                                 QStringLiteral("Stopped; \"%1\" was left as it was.").arg(dir));
        folder.commit();
        bar.clear();
        const QLocale locale;
        putText(output,
                QStringLiteral("%1 conversations, %2 messages, %3 files, %4 in %5 s: \"%6\", "
                               "%7.\n")
                    .arg(locale.toString(summary->conversations),
                         locale.toString(summary->messages), locale.toString(summary->files),
                         locale.formattedDataSize(summary->bytes),
                         QString::number(double(clock.elapsed()) / 1000, 'f', 1),
                         terminalText(folder.path()), kindText(folder.kind())));
        return 0;
    } catch (const Failure& failure) {
        bar.clear();
        return failWithError(errors, ProgramName, failure.description());
    } catch (const ProgramClosing&) {
        bar.clear();
        return failWithError(errors, ProgramName,
                             QStringLiteral("Stopped; \"%1\" was left as it was.").arg(dir));
    } catch (const std::bad_alloc&) {
        bar.clear();
        return failWithError(errors, ProgramName,
                             QStringLiteral("Out of memory; \"%1\" was left as it was.").arg(dir));
    }
}

} // namespace velmoran
