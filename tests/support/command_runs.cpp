#include "command_runs.h"

#include "find/find_command.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace velmoran::test {

QStringList args(const QString& text)
{
    return QProcess::splitCommand(text);
}

QStringList args(const char* utf8)
{
    return QProcess::splitCommand(QString::fromUtf8(utf8));
}

Run runFindIn(const QStringList& arguments, ChatHistoryPtr history)
{
    QBuffer out;
    QBuffer err;
    Run run;
    const QStringList all = QStringList{QStringLiteral("velmoran-find")} + arguments;
    run.status = history ? runFind(all, out, err, history) : runFind(all, out, err);
    run.out = out.data();
    run.err = err.data();
    return run;
}

Run runProgram(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run run;
    if (!process.waitForFinished(60'000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

std::optional<std::vector<QStringList>> parseCsv(const QByteArray& bytes)
{
    std::vector<QStringList> records;
    QStringList record;
    QByteArray field;
    qsizetype i = 0;
    while (i < bytes.size()) {
        if (bytes[i] == '"') {
            // A quoted field: "" is a quote, the next lone quote ends it.
            for (++i;; ++i) {
                if (i >= bytes.size())
                    return std::nullopt;
                if (bytes[i] == '"') {
                    if (bytes.mid(i, 2) != "\"\"")
                        break;
                    ++i;
                }
                field += bytes[i];
            }
            ++i;
        } else {
            for (; i < bytes.size() && bytes[i] != ',' && bytes[i] != '\r' && bytes[i] != '\n';
                 ++i) {
                if (bytes[i] == '"')
                    return std::nullopt;
                field += bytes[i];
            }
        }
        record << QString::fromUtf8(std::exchange(field, {}));
        if (i < bytes.size() && bytes[i] == ',') {
            ++i;
            continue;
        }
        if (bytes.mid(i, 2) != "\r\n")
            return std::nullopt;
        i += 2;
        records.push_back(std::exchange(record, {}));
    }
    return records;
}

std::vector<QStringList> parseJsonLines(const QByteArray& bytes, const QStringList& keys,
                                        QString* problem)
{
    auto fail = [problem](const QString& text) {
        if (problem)
            *problem = text;
        return std::vector<QStringList>();
    };
    if (!bytes.isEmpty() && !bytes.endsWith('\n'))
        return fail(QStringLiteral("last line without LF"));
    std::vector<QStringList> records;
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype n = 0; n + 1 < lines.size(); ++n) {
        const QByteArray& line = lines[n];
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            return fail(QStringLiteral("line %1 is no JSON object: %2")
                            .arg(n + 1)
                            .arg(error.errorString()));
        const QJsonObject object = document.object();
        if (object.size() != keys.size())
            return fail(QStringLiteral("line %1 has %2 keys").arg(n + 1).arg(object.size()));
        // Key order as written: every key appears after the one before it.
        qsizetype at = 0;
        QStringList record;
        for (const QString& key : keys) {
            const qsizetype found = line.indexOf("\"" + key.toUtf8() + "\":", at);
            if (found < 0 || !object.value(key).isString())
                return fail(QStringLiteral("line %1: key %2 missing, out of order or no string")
                                .arg(n + 1)
                                .arg(key));
            at = found + 1;
            record << object.value(key).toString();
        }
        records.push_back(record);
    }
    return records;
}

} // namespace velmoran::test
