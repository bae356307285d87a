#pragma once

#include "chat/chat_history.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// velmoran-find run by tests, in this process or as the built program, and its csv and jsonl
// output read back.
namespace velmoran::test {

// An argument list from one text, split by QProcess::splitCommand: blanks part arguments,
// double quotes keep blanks in one ("-f csv \"a b\"" is three arguments). It gives no empty
// argument: append those.
QStringList args(const QString& text);
QStringList args(const char* utf8);

struct Run {
    int status = -1; // -1: the program did not end normally
    QByteArray out;
    QByteArray err;
};

// runFind in this process, over the given history when there is one (else the files or sample
// the arguments name); arguments leave out the program name.
Run runFindIn(const QStringList& arguments, ChatHistoryPtr history = nullptr);

// The program, as a script runs it, waiting a minute at most.
Run runProgram(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

// The records of a CSV text after RFC 4180, read strictly: every record ends in CR LF and
// quotes stand only around a whole field. Nothing when the text breaks those rules.
std::optional<std::vector<QStringList>> parseCsv(const QByteArray& bytes);

// The records of a jsonl text, each line one object with exactly the given keys, in that order,
// all strings; every line ends in LF. No records when a line breaks those rules, and problem
// (when given) says which and how.
std::vector<QStringList> parseJsonLines(const QByteArray& bytes, const QStringList& keys,
                                        QString* problem = nullptr);

} // namespace velmoran::test
