#pragma once

#include "chat/chat_history.h"
#include "chat/history_loader.h"

#include <QCommandLineParser>
#include <QIODevice>
#include <QString>

#include <functional>
#include <optional>

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

// The command-line programs' lines. Writes text in UTF-8 to device, opened for writing first
// if it is not open yet.
void putText(QIODevice& device, const QString& text);
// One line on errors: "program: text", with what it quotes (file names, arguments) made
// harmless for a terminal.
void tellError(QIODevice& errors, const char* program, const QString& text);
// tellError, answering the exit status of a failure: 2.
int failWithError(QIODevice& errors, const char* program, const QString& text);
// The same for a wrong command line: text and " (see --help)".
int usageFailure(QIODevice& errors, const char* program, const QString& text);

// Parses the command line with parser (which has its help and version options). Answers the
// exit status when that settles the run: 0 once --help or --version is written to output, 2
// once a wrong command line is told on errors; nothing when the program goes on.
std::optional<int> parseCommandLine(QCommandLineParser& parser, const QStringList& arguments,
                                    const char* program, QIODevice& output, QIODevice& errors);

// Reads a date option, when it is set, into moment with parse (parseMoment or a variant).
// Answers the exit status 2 once a value that is no date is told on errors; nothing when the
// option is unset or read.
std::optional<int> readDateOption(const QCommandLineParser& parser,
                                  const QCommandLineOption& option,
                                  std::optional<qint64> (*parse)(const QString&),
                                  std::optional<qint64>& moment, const char* program,
                                  QIODevice& errors);

} // namespace velmoran
