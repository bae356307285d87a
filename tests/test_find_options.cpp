// velmoran-find's options for scripts: the csv and jsonl rows and what they carry, the other
// conversations, time and sender filters (around midnight and summer-time changes), regular
// expressions, --list, --count and --stats; and its manners as a command: closed pipes, output
// that must not replace a history being read or a FIFO or device.
#include "chat/history_loader.h"
#include "chat/sample_history.h"
#include "find/find_command.h"
#include "history_files.h"
#include "history_generator.h"
#include "search/timestamp_text.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <ctime>
#include <limits>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

using namespace velmoran;

namespace {

const QString FindProgram = QStringLiteral(VELMORAN_FIND_PATH);
const QStringList RowKeys{QStringLiteral("contact"),      QStringLiteral("field"),
                          QStringLiteral("value"),        QStringLiteral("time"),
                          QStringLiteral("sender"),       QStringLiteral("sender_name"),
                          QStringLiteral("conversation"), QStringLiteral("conversation_name")};

struct Run {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

Run runIn(const QStringList& arguments, ChatHistoryPtr history = nullptr)
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

Run runProgram(const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(FindProgram, arguments);
    Run run;
    if (!process.waitForFinished(60'000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// A CSV reader after RFC 4180, strict: every record ends in CR LF, quotes only around a whole
// field. Answers no records when the text breaks the rules.
std::vector<QStringList> parseCsv(const QByteArray& bytes, bool* ok)
{
    std::vector<QStringList> records;
    QStringList record;
    QByteArray field;
    *ok = false;
    qsizetype i = 0;
    while (i < bytes.size()) {
        if (bytes[i] == '"') {
            ++i;
            for (;;) {
                if (i >= bytes.size())
                    return {};
                if (bytes[i] == '"') {
                    if (i + 1 < bytes.size() && bytes[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += bytes[i++];
            }
        } else {
            while (i < bytes.size() && bytes[i] != ',' && bytes[i] != '\r' && bytes[i] != '\n') {
                if (bytes[i] == '"')
                    return {};
                field += bytes[i++];
            }
        }
        record << QString::fromUtf8(field);
        field.clear();
        if (i < bytes.size() && bytes[i] == ',') {
            ++i;
            continue;
        }
        if (bytes.mid(i, 2) != "\r\n")
            return {};
        i += 2;
        records.push_back(record);
        record.clear();
    }
    *ok = true;
    return records;
}

// jsonl: every line one object with exactly the given keys in that order, all strings.
std::vector<QStringList> parseJsonLines(const QByteArray& bytes, const QStringList& keys,
                                        QString* problem)
{
    std::vector<QStringList> records;
    if (!bytes.isEmpty() && !bytes.endsWith('\n')) {
        *problem = QStringLiteral("last line without LF");
        return {};
    }
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype n = 0; n + 1 < lines.size(); ++n) {
        const QByteArray& line = lines[n];
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            *problem =
                QStringLiteral("line %1 is no JSON object: %2").arg(n + 1).arg(error.errorString());
            return {};
        }
        const QJsonObject object = document.object();
        if (object.size() != keys.size()) {
            *problem = QStringLiteral("line %1 has %2 keys").arg(n + 1).arg(object.size());
            return {};
        }
        // Key order as written: every key appears after the one before it.
        qsizetype at = 0;
        QStringList record;
        for (const QString& key : keys) {
            const qsizetype found = line.indexOf("\"" + key.toUtf8() + "\":", at);
            if (found < 0 || !object.value(key).isString()) {
                *problem = QStringLiteral("line %1: key %2 missing, out of order or no string")
                               .arg(n + 1)
                               .arg(key);
                return {};
            }
            at = found + 1;
            record << object.value(key).toString();
        }
        records.push_back(record);
    }
    return records;
}

qint64 utc(const char* iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs).toMSecsSinceEpoch();
}

HistoryMessage message(qint64 timeMs, const QString& senderId, const QString& name,
                       const QString& body)
{
    HistoryMessage m;
    m.timestampMs = timeMs;
    m.senderId = senderId;
    m.senderDisplayName = name;
    m.body = body;
    return m;
}

HistoryChat chat(const QString& peer, const QString& id, const QString& name, ConversationKind kind)
{
    HistoryChat c;
    c.peerHandle = peer;
    c.id = id;
    c.name = name;
    c.kind = kind;
    return c;
}

// Messages around summer-time changes: New York on 2021-03-14 (07:00Z), Berlin on 2021-03-28
// (01:00Z) and 2021-10-31 (01:00Z); each body is its own UTC time, so rows tell which passed.
ChatHistoryPtr momentsHistory()
{
    auto history = std::make_shared<ChatHistory>();
    history->contacts << QStringLiteral("ann");
    HistoryChat c = chat(QStringLiteral("ann"), QStringLiteral("8:ann"), QStringLiteral("Ann"),
                         ConversationKind::OneToOne);
    const char* times[] = {
        "2021-03-14T04:59:59.999Z", "2021-03-14T05:00:00.000Z", "2021-03-14T06:59:59.999Z",
        "2021-03-14T07:00:00.000Z", "2021-03-15T03:59:59.999Z", "2021-03-15T04:00:00.000Z",
        "2021-03-27T22:59:59.999Z", "2021-03-27T23:00:00.000Z", "2021-03-28T00:59:59.999Z",
        "2021-03-28T01:00:00.000Z", "2021-03-28T21:59:59.999Z", "2021-03-28T22:00:00.000Z",
        "2021-10-31T00:30:00.000Z", "2021-10-31T01:30:00.000Z"};
    int n = 0;
    for (const char* time : times) {
        const bool ann = n++ % 2 == 0;
        c.messages.push_back(message(
            utc(time), ann ? QStringLiteral("ann") : QStringLiteral("live:bob.smith"),
            ann ? QStringLiteral("Ann") : QStringLiteral("Bob Smith"), QString::fromLatin1(time)));
    }
    history->chats.push_back(std::move(c));
    // São Paulo skipped its midnight on 2018-11-04: the day began at 01:00 (03:00Z).
    history->contacts << QStringLiteral("cara");
    HistoryChat cara = chat(QStringLiteral("cara"), QStringLiteral("8:cara"),
                            QStringLiteral("Cara"), ConversationKind::OneToOne);
    for (const char* time : {"2018-11-04T02:59:59.999Z", "2018-11-04T03:00:00.000Z"})
        cara.messages.push_back(message(utc(time), QStringLiteral("cara"), QStringLiteral("Cara"),
                                        QString::fromLatin1(time)));
    history->chats.push_back(std::move(cara));
    return history;
}

// A body that CSV and JSON must escape or must leave as it is, with the bytes each writes.
struct AwkwardValue {
    QString body;
    QByteArray json; // the JSON string, quotes included
    QByteArray csv;  // the CSV field
    qint64 time = 0; // UTC milliseconds; 0: 1001 ms after the message before
};

const AwkwardValue AwkwardValues[] = {
    {QStringLiteral("plain words"), "\"plain words\"", "plain words"},
    {QStringLiteral("a, b and \"quoted\" words"), "\"a, b and \\\"quoted\\\" words\"",
     "\"a, b and \"\"quoted\"\" words\""},
    {QStringLiteral("line one\r\nline two\nthree\rfour"),
     "\"line one\\r\\nline two\\nthree\\rfour\"", "\"line one\r\nline two\nthree\rfour\""},
    {QStringLiteral("tab\there, back\\slash, bell\x07, nul-free \x01\x1f end"),
     "\"tab\\there, back\\\\slash, bell\\u0007, nul-free \\u0001\\u001f end\"",
     "\"tab\there, back\\slash, bell\x07, nul-free \x01\x1f end\""},
    {QStringLiteral("Grüße 👋 日本語 — ok"), "\"Grüße 👋 日本語 — ok\"", "Grüße 👋 日本語 — ok"},
    {QStringLiteral("\"\""), "\"\\\"\\\"\"", "\"\"\"\"\"\""},
    {QStringLiteral("carriage\rreturn alone"), "\"carriage\\rreturn alone\"",
     "\"carriage\rreturn alone\""},
    // Line and paragraph separators pass as they are; so does DEL.
    {QStringLiteral("line\u2028separator\u2029paragraph"),
     "\"line\xE2\x80\xA8separator\xE2\x80\xA9paragraph\"",
     "line\xE2\x80\xA8separator\xE2\x80\xA9paragraph", -1},
    {QStringLiteral("del\x7f, back\bspace, form\ffeed, vt\x0b, esc\x1b[0m"),
     "\"del\x7f, back\\bspace, form\\ffeed, vt\\u000b, esc\\u001b[0m\"",
     "\"del\x7f, back\bspace, form\ffeed, vt\x0b, esc\x1b[0m\"", -62135596800000},
    {QStringLiteral("🎉 first and last 😀"), "\"🎉 first and last 😀\"", "🎉 first and last 😀",
     253402300799999},
    // UTF-8 cannot carry an unpaired surrogate: each is written as "?".
    {QStringLiteral("lone \xD800 high, \xDC00 low, \xDC00\xD800 swapped, \xD800\xD83D\xDE00 then "
                    "a pair, last \xD800"),
     "\"lone ? high, ? low, ?? swapped, ?😀 then a pair, last ?\"",
     "\"lone ? high, ? low, ?? swapped, ?😀 then a pair, last ?\"", 951782399999},
};

// Values that CSV and JSON must escape, and text they must leave as it is.
ChatHistoryPtr awkwardHistory()
{
    auto history = std::make_shared<ChatHistory>();
    history->contacts << QStringLiteral("zoë");
    HistoryChat c = chat(QStringLiteral("zoë"), QStringLiteral("8:zoë"),
                         QStringLiteral("Zoë, \"Z\" Ünal"), ConversationKind::OneToOne);
    qint64 t = utc("2020-02-29T23:59:59.007Z") - 1001;
    for (const AwkwardValue& value : AwkwardValues) {
        t = value.time ? value.time : t + 1001;
        c.messages.push_back(
            message(t, QStringLiteral("zoë"), QStringLiteral("Zoë \"Z\""), value.body));
    }
    history->chats.push_back(std::move(c));
    return history;
}

// Sets the local time zone of this process (the search reads the C library's local time).
void setTimeZone(const QByteArray& zone)
{
    qputenv("TZ", zone);
    ::tzset();
}

QByteArray digest(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

} // namespace

class FindOptionsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QFile::exists(FindProgram));
        m_zone = qgetenv("TZ");
        m_tar = m_dir.filePath(QStringLiteral("generated_export.tar"));
        generator::Options options;
        options.messages = 4000;
        options.seed = 11;
        QCOMPARE(generator::writeExportTar(m_tar.toStdString(), options), std::string());
    }
    void cleanup() { setTimeZone(m_zone); }

    // A search reads from the file only the messages it can report. Whatever the options, it
    // writes what a search of the whole history writes: the same rows with the same times,
    // senders and conversation names (many chats of the export are named only by messages that
    // hold no text found).
    void aSearchThatReadsOnlyWhatItFindsWritesTheSame_data()
    {
        QTest::addColumn<QStringList>("arguments");
        const QString csv = QStringLiteral("--format=csv");
        const QString jsonl = QStringLiteral("--format=jsonl");
        QTest::newRow("a word") << QStringList{jsonl, QStringLiteral("--all-chats"),
                                               QStringLiteral("the")};
        QTest::newRow("letter case ignored") << QStringList{
            csv, QStringLiteral("-i"), QStringLiteral("--all-chats"), QStringLiteral("THANKS")};
        QTest::newRow("words with a blank")
            << QStringList{csv, QStringLiteral("--all-chats"), QStringLiteral("a lot")};
        QTest::newRow("in timestamps and bodies") << QStringList{jsonl, QStringLiteral("1")};
        QTest::newRow("a time of day") << QStringList{csv, QStringLiteral(":0")};
        QTest::newRow("a date and a time") << QStringList{csv, QStringLiteral("2015 0")};
        QTest::newRow("sender names") << QStringList{
            jsonl, QStringLiteral("-i"), QStringLiteral("--all-chats"), QStringLiteral("ann")};
        QTest::newRow("filtered by time and sender") << QStringList{jsonl,
                                                                    QStringLiteral("--after"),
                                                                    QStringLiteral("2015-01-01"),
                                                                    QStringLiteral("--before"),
                                                                    QStringLiteral("2016-06-01"),
                                                                    QStringLiteral("--from"),
                                                                    QStringLiteral("a"),
                                                                    QStringLiteral("--all-chats"),
                                                                    QStringLiteral("e")};
        QTest::newRow("an expression")
            << QStringList{csv, QStringLiteral("-E"), QStringLiteral("--all-chats"),
                           QStringLiteral("\\d{2} [A-Z]")};
        QTest::newRow("some contacts, text file")
            << QStringList{QStringLiteral("-c"), QStringLiteral("olga.4"), QStringLiteral("-c"),
                           QStringLiteral("sorina.1"), QStringLiteral("o")};
        QTest::newRow("nothing found") << QStringList{csv, QStringLiteral("no such words")};
        QTest::newRow("count") << QStringList{QStringLiteral("--count"), QStringLiteral("-i"),
                                              QStringLiteral("E")};
    }
    void aSearchThatReadsOnlyWhatItFindsWritesTheSame()
    {
        QFETCH(QStringList, arguments);
        for (const char* zone : {"UTC", "Europe/Berlin"}) {
            setTimeZone(zone);
            const Run sifted = runIn(QStringList{m_tar} + arguments);
            const Run whole =
                runIn(arguments, std::make_shared<const ChatHistory>(readHistoryFile(m_tar)));
            QCOMPARE(sifted.err, QByteArray());
            QCOMPARE(whole.status,
                     QByteArrayView(QTest::currentDataTag()) == "nothing found" ? 1 : 0);
            QCOMPARE(sifted.status, whole.status);
            QCOMPARE(sifted.out.size(), whole.out.size());
            QVERIFY(sifted.out == whole.out);
        }
    }

    // csv and jsonl hold the text file's rows in its order, and each row leads back to the
    // very message it came from.
    void rowsLeadBackToTheirMessage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("case ignored") << QStringList{QStringLiteral("-i"), QStringLiteral("lunch")};
        QTest::newRow("timestamps") << QStringList{QStringLiteral("19")};
        QTest::newRow("every field, other chats too")
            << QStringList{QStringLiteral("--all-chats"), QStringLiteral("")};
        QTest::newRow("two contacts, one twice")
            << QStringList{QStringLiteral("-c"), QStringLiteral("olga.petrova"),
                           QStringLiteral("-c"), QStringLiteral("anna.kowalska"),
                           QStringLiteral("-c"), QStringLiteral("olga.petrova"),
                           QStringLiteral("a")};
    }
    void rowsLeadBackToTheirMessage()
    {
        QFETCH(QStringList, arguments);
        const ChatHistoryPtr history = sampleHistory();
        const QStringList search = QStringList{QStringLiteral("--sample")} + arguments;
        const Run text = runIn(search);
        const Run csv =
            runIn(QStringList{QStringLiteral("--format"), QStringLiteral("csv")} + search);
        const Run jsonl =
            runIn(QStringList{QStringLiteral("--format"), QStringLiteral("jsonl")} + search);
        for (const Run* run : {&text, &csv, &jsonl}) {
            QCOMPARE(run->status, 0);
            QCOMPARE(run->err, QByteArray());
        }

        bool ok = false;
        const std::vector<QStringList> csvRecords = parseCsv(csv.out, &ok);
        QVERIFY2(ok, csv.out.left(300).constData());
        QVERIFY(!csv.out.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(csvRecords.front(), RowKeys);
        QString problem;
        const std::vector<QStringList> jsonRecords = parseJsonLines(jsonl.out, RowKeys, &problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(csvRecords.size(), jsonRecords.size() + 1);
        for (size_t i = 0; i < jsonRecords.size(); ++i)
            QCOMPARE(csvRecords[i + 1], jsonRecords[i]);

        // The text file has one line per row (values here hold no line breaks), same order.
        const QList<QByteArray> textLines = text.out.split('\n');
        QCOMPARE(qsizetype(jsonRecords.size()), textLines.size() - 2);
        for (size_t i = 0; i < jsonRecords.size(); ++i) {
            const QStringList& row = jsonRecords[i];
            const QStringList cells =
                QString::fromUtf8(textLines[qsizetype(i) + 1]).split(QLatin1Char('\t'));
            QCOMPARE(cells.value(0).trimmed(), row[0]);
            QCOMPARE(cells.value(1).trimmed(), row[1]);
            QCOMPARE(cells.value(2).trimmed(), row[2].trimmed());

            // The conversation and the message the row names exist and hold the value.
            const qint64 time =
                QDateTime::fromString(row[3], Qt::ISODateWithMs).toMSecsSinceEpoch();
            QVERIFY2(row[3].endsWith(QLatin1Char('Z')) && row[3].size() == 24, qPrintable(row[3]));
            const HistoryChat* found = nullptr;
            for (const HistoryChat& c : history->chats)
                found = c.id == row[6] ? &c : found;
            QVERIFY2(found, qPrintable(row[6]));
            QCOMPARE(found->name, row[7]);
            QCOMPARE(row[0], found->peerHandle.isEmpty() ? found->id : found->peerHandle);
            bool matched = false;
            for (const HistoryMessage& m : found->messages) {
                if (m.timestampMs != time || m.senderId != row[4] || m.senderDisplayName != row[5])
                    continue;
                if (row[1] == u"Body")
                    matched = matched || m.body == row[2];
                else if (row[1] == u"From Display Name")
                    matched = matched || m.senderDisplayName == row[2];
                else
                    matched = true;
            }
            QVERIFY2(matched, qPrintable(row.join(QLatin1Char('|'))));
        }
    }

    // Both readers give every column: times, senders, conversation ids and names.
    void historyFilesFillEveryColumn_data()
    {
        QTest::addColumn<bool>("database");
        QTest::newRow("export") << false;
        QTest::newRow("legacy database") << true;
    }
    void historyFilesFillEveryColumn()
    {
        QFETCH(bool, database);
        QString db = m_tar;
        if (database) {
            db = m_dir.filePath(QStringLiteral("main.db"));
            generator::Options options;
            options.messages = 1500;
            options.seed = 12;
            QCOMPARE(generator::writeLegacyDatabase(db.toStdString(), options), std::string());
        }
        const Run run = runIn({QStringLiteral("--format"), QStringLiteral("jsonl"),
                               QStringLiteral("--all-chats"), db, QStringLiteral("")});
        QCOMPARE(run.status, 0);
        QString problem;
        const std::vector<QStringList> rows = parseJsonLines(run.out, RowKeys, &problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QSet<QString> otherConversations;
        for (const QStringList& row : rows) {
            QVERIFY2(row[3].endsWith(QLatin1Char('Z')) && row[3].size() == 24, qPrintable(row[3]));
            QVERIFY2(!row[4].isEmpty() && !row[4].startsWith(QStringLiteral("8:")),
                     qPrintable(row[4]));
            QVERIFY(!row[6].isEmpty());
            QVERIFY(!row[7].isEmpty());
            if (row[0] == row[6])
                otherConversations << row[6];
            else
                QCOMPARE(row[6], QStringLiteral("8:") + row[0]);
        }
        QVERIFY(!otherConversations.isEmpty());
        // --list names the same conversations, with their kinds.
        const Run list = runIn({QStringLiteral("--list"), db});
        QCOMPARE(list.status, 0);
        for (const QString& id : std::as_const(otherConversations))
            QVERIFY2(list.out.contains("\n" + id.toUtf8() + '\t')
                         || list.out.startsWith(id.toUtf8() + '\t'),
                     qPrintable(id));
        QVERIFY(list.out.contains("\tgroup\t"));
    }

    // Commas, quotes, line breaks, control characters and non-ASCII text survive both formats.
    void awkwardValuesSurvive()
    {
        const ChatHistoryPtr history = awkwardHistory();
        const Run csv =
            runIn({QStringLiteral("--format"), QStringLiteral("csv"), QStringLiteral("")}, history);
        const Run jsonl = runIn(
            {QStringLiteral("--format"), QStringLiteral("jsonl"), QStringLiteral("")}, history);
        QCOMPARE(csv.status, 0);
        QCOMPARE(jsonl.status, 0);
        QVERIFY(csv.out.startsWith(
            "contact,field,value,time,sender,sender_name,conversation,conversation_name\r\n"));
        bool ok = false;
        const std::vector<QStringList> csvRecords = parseCsv(csv.out, &ok);
        QVERIFY(ok);
        QString problem;
        const std::vector<QStringList> jsonRecords = parseJsonLines(jsonl.out, RowKeys, &problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        // Every body and the sender's name are found once each; the timestamps too.
        const HistoryChat& c = history->chats.front();
        QCOMPARE(jsonRecords.size(), c.messages.size() * 3);
        for (size_t i = 0; i < c.messages.size(); ++i) {
            const QStringList& name = jsonRecords[3 * i];
            const QStringList& body = jsonRecords[3 * i + 1];
            QCOMPARE(name[2], c.messages[i].senderDisplayName);
            // As UTF-8 carries it: an unpaired surrogate comes back as "?".
            QCOMPARE(body[2], QString::fromUtf8(c.messages[i].body.toUtf8()));
            QVERIFY2(jsonl.out.contains(",\"value\":" + AwkwardValues[i].json + ",\"time\":"),
                     AwkwardValues[i].json.constData());
            QVERIFY2(csv.out.contains("\r\nzoë,Body," + AwkwardValues[i].csv + ','),
                     AwkwardValues[i].csv.constData());
            QCOMPARE(body[7], c.name);
            QCOMPARE(body[3], QDateTime::fromMSecsSinceEpoch(c.messages[i].timestampMs, Qt::UTC)
                                  .toString(Qt::ISODateWithMs));
            QCOMPARE(csvRecords[3 * i + 2], body);
        }
        QCOMPARE(jsonRecords.front()[3], QStringLiteral("2020-02-29T23:59:59.007Z"));
        QVERIFY(jsonl.out.startsWith(
            "{\"contact\":\"zoë\",\"field\":\"From Display Name\",\"value\":\"Zoë \\\"Z\\\"\","
            "\"time\":\"2020-02-29T23:59:59.007Z\",\"sender\":\"zoë\",\"sender_name\":\"Zoë "
            "\\\"Z\\\"\",\"conversation\":\"8:zoë\",\"conversation_name\":\"Zoë, \\\"Z\\\" "
            "Ünal\"}\n"));
        QVERIFY(csv.out.contains("\r\nzoë,From Display Name,\"Zoë \"\"Z\"\"\",2020-02-29T23:59:59."
                                 "007Z,zoë,\"Zoë \"\"Z\"\"\",8:zoë,\"Zoë, \"\"Z\"\" Ünal\"\r\n"));
        QVERIFY(jsonl.out.contains("\"time\":\"1969-12-31T23:59:59.999Z\""));
        QVERIFY(csv.out.contains(",0001-01-01T00:00:00.000Z,"));
        QVERIFY(csv.out.contains(",9999-12-31T23:59:59.999Z,"));
        // Non-ASCII as it is, control characters escaped, one line per row.
        QVERIFY(jsonl.out.contains("Grüße 👋 日本語"));
        QVERIFY(jsonl.out.contains("\\u0001\\u001f"));
        QVERIFY(jsonl.out.contains("line one\\r\\nline two\\nthree\\rfour"));
        QCOMPARE(jsonl.out.count('\n'), qsizetype(jsonRecords.size()));
        QVERIFY(!jsonl.out.contains('\r'));
        // Quoted only where needed.
        QVERIFY(csv.out.contains(",plain words,"));
        QVERIFY(csv.out.contains(",\"a, b and \"\"quoted\"\" words\","));
        QVERIFY(csv.out.contains(",\"\"\"\"\"\","));
    }

    // The other conversations follow the one-to-one rows, in the history's order, their ids in
    // the contact column.
    void otherConversationsFollow()
    {
        auto history = std::make_shared<ChatHistory>();
        history->contacts << QStringLiteral("ann") << QStringLiteral("bob");
        HistoryChat bot =
            chat({}, QStringLiteral("28:helper"), QStringLiteral("Helper"), ConversationKind::Bot);
        bot.messages.push_back(message(utc("2020-01-01T00:00:03Z"), QStringLiteral("28:helper"),
                                       QStringLiteral("Helper"), QStringLiteral("tea time")));
        HistoryChat ann = chat(QStringLiteral("ann"), QStringLiteral("8:ann"),
                               QStringLiteral("Ann"), ConversationKind::OneToOne);
        ann.messages.push_back(message(utc("2020-01-01T00:00:02Z"), QStringLiteral("ann"),
                                       QStringLiteral("Ann"), QStringLiteral("tea?")));
        HistoryChat group = chat({}, QStringLiteral("19:g@thread.skype"),
                                 QStringLiteral("Tea club"), ConversationKind::Group);
        group.messages.push_back(message(utc("2020-01-01T00:00:01Z"), QStringLiteral("bob"),
                                         QStringLiteral("Bob"), QStringLiteral("more tea")));
        HistoryChat bob = chat(QStringLiteral("bob"), QStringLiteral("8:bob"),
                               QStringLiteral("Bob"), ConversationKind::OneToOne);
        bob.messages.push_back(message(utc("2020-01-01T00:00:04Z"), QStringLiteral("bob"),
                                       QStringLiteral("Bob"), QStringLiteral("green tea")));
        history->chats.push_back(std::move(bot));
        history->chats.push_back(std::move(ann));
        history->chats.push_back(std::move(group));
        history->chats.push_back(std::move(bob));

        auto contactsAndValues = [&](const QStringList& arguments) {
            const Run run =
                runIn(QStringList{QStringLiteral("--format"), QStringLiteral("jsonl")} + arguments,
                      history);
            QString problem;
            QStringList rows;
            for (const QStringList& row : parseJsonLines(run.out, RowKeys, &problem))
                rows << row[0] + QLatin1Char('/') + row[2];
            return rows;
        };
        const QStringList oneToOne = contactsAndValues({QStringLiteral("tea")});
        QCOMPARE(oneToOne,
                 (QStringList{QStringLiteral("ann/tea?"), QStringLiteral("bob/green tea")}));
        const QStringList all =
            contactsAndValues({QStringLiteral("--all-chats"), QStringLiteral("tea")});
        QCOMPARE(all, oneToOne
                          + (QStringList{QStringLiteral("28:helper/tea time"),
                                         QStringLiteral("19:g@thread.skype/more tea")}));
        // Contacts narrow the one-to-one chats only; filters narrow every chat.
        QCOMPARE(contactsAndValues({QStringLiteral("--all-chats"), QStringLiteral("-c"),
                                    QStringLiteral("bob"), QStringLiteral("--from"),
                                    QStringLiteral("BOB"), QStringLiteral("tea")}),
                 (QStringList{QStringLiteral("bob/green tea"),
                              QStringLiteral("19:g@thread.skype/more tea")}));

        // In the text file too, after the window's rows.
        const Run text = runIn({QStringLiteral("--all-chats"), QStringLiteral("tea")}, history);
        QCOMPARE(text.status, 0);
        const QList<QByteArray> lines = text.out.split('\n');
        QCOMPARE(lines.size(), 6);
        QVERIFY(lines[3].startsWith("28:helper"));
        QVERIFY(lines[4].startsWith("19:g@thread.skype"));
    }

    // --after is inclusive, --before exclusive; dates are local time unless they end in Z or an
    // offset, and a day is whatever its local midnights enclose (23 or 25 hours on a change).
    void timeFilters_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("passed"); // bodies of the messages searched, in order

        const QByteArray ny = "America/New_York";
        const QByteArray berlin = "Europe/Berlin";
        QTest::newRow("New York, the day of the change: 23 hours")
            << ny
            << QStringList{QStringLiteral("--after"), QStringLiteral("2021-03-14"),
                           QStringLiteral("--before"), QStringLiteral("2021-03-15")}
            << QStringList{QStringLiteral("2021-03-14T05:00:00.000Z"),
                           QStringLiteral("2021-03-14T06:59:59.999Z"),
                           QStringLiteral("2021-03-14T07:00:00.000Z"),
                           QStringLiteral("2021-03-15T03:59:59.999Z")};
        QTest::newRow("New York, after the change, with minutes")
            << ny
            << QStringList{QStringLiteral("--after"), QStringLiteral("2021-03-14T03:00"),
                           QStringLiteral("--before"), QStringLiteral("2021-03-14T23:59:59")}
            << QStringList{QStringLiteral("2021-03-14T07:00:00.000Z")};
        QTest::newRow("New York, before the change")
            << ny
            << QStringList{QStringLiteral("--after"), QStringLiteral("2021-03-14T01:59:59"),
                           QStringLiteral("--before"), QStringLiteral("2021-03-14T03:00")}
            << QStringList{QStringLiteral("2021-03-14T06:59:59.999Z")};
        QTest::newRow("Berlin, spring day")
            << berlin
            << QStringList{QStringLiteral("--after"), QStringLiteral("2021-03-28"),
                           QStringLiteral("--before"), QStringLiteral("2021-03-29")}
            << QStringList{QStringLiteral("2021-03-27T23:00:00.000Z"),
                           QStringLiteral("2021-03-28T00:59:59.999Z"),
                           QStringLiteral("2021-03-28T01:00:00.000Z"),
                           QStringLiteral("2021-03-28T21:59:59.999Z")};
        QTest::newRow("Berlin, autumn: 25 hours")
            << berlin
            << QStringList{QStringLiteral("--after"), QStringLiteral("2021-10-31"),
                           QStringLiteral("--before"), QStringLiteral("2021-11-01")}
            << QStringList{QStringLiteral("2021-10-31T00:30:00.000Z"),
                           QStringLiteral("2021-10-31T01:30:00.000Z")};
        QTest::newRow("Berlin, before midnight only")
            << berlin << QStringList{QStringLiteral("--before"), QStringLiteral("2021-03-28")}
            << QStringList{QStringLiteral("2021-03-14T04:59:59.999Z"),
                           QStringLiteral("2021-03-14T05:00:00.000Z"),
                           QStringLiteral("2021-03-14T06:59:59.999Z"),
                           QStringLiteral("2021-03-14T07:00:00.000Z"),
                           QStringLiteral("2021-03-15T03:59:59.999Z"),
                           QStringLiteral("2021-03-15T04:00:00.000Z"),
                           QStringLiteral("2021-03-27T22:59:59.999Z"),
                           QStringLiteral("2018-11-04T02:59:59.999Z"),
                           QStringLiteral("2018-11-04T03:00:00.000Z")};
        QTest::newRow("New York, from the skipped hour on")
            << ny
            << QStringList{QStringLiteral("--after"), QStringLiteral("2021-03-14T02:00"),
                           QStringLiteral("--before"), QStringLiteral("2021-03-14T02:30")}
            << QStringList{QStringLiteral("2021-03-14T07:00:00.000Z")};
        QTest::newRow("São Paulo, a day without its midnight")
            << QByteArray("America/Sao_Paulo")
            << QStringList{QStringLiteral("--after"), QStringLiteral("2018-11-04"),
                           QStringLiteral("--before"), QStringLiteral("2018-11-05")}
            << QStringList{QStringLiteral("2018-11-04T03:00:00.000Z")};
        QTest::newRow("UTC named, whatever the zone")
            << berlin
            << QStringList{QStringLiteral("--after"), QStringLiteral("2021-03-14T05:00Z"),
                           QStringLiteral("--before"), QStringLiteral("2021-03-14T07:00:00Z")}
            << QStringList{QStringLiteral("2021-03-14T05:00:00.000Z"),
                           QStringLiteral("2021-03-14T06:59:59.999Z")};
        QTest::newRow("offsets, whole seconds")
            << ny
            << QStringList{QStringLiteral("--after"), QStringLiteral("2021-03-28T02:00:00+01:00"),
                           QStringLiteral("--before"), QStringLiteral("2021-03-28T18:00:00-04:00")}
            << QStringList{QStringLiteral("2021-03-28T01:00:00.000Z"),
                           QStringLiteral("2021-03-28T21:59:59.999Z")};
        QTest::newRow("sender by name or id, case ignored")
            << ny
            << QStringList{QStringLiteral("--from"), QStringLiteral("bOB"),
                           QStringLiteral("--after"), QStringLiteral("2021-03-27")}
            << QStringList{QStringLiteral("2021-03-27T23:00:00.000Z"),
                           QStringLiteral("2021-03-28T01:00:00.000Z"),
                           QStringLiteral("2021-03-28T22:00:00.000Z"),
                           QStringLiteral("2021-10-31T01:30:00.000Z")};
        QTest::newRow("sender by id alone")
            << ny
            << QStringList{QStringLiteral("--from"), QStringLiteral("live:"),
                           QStringLiteral("--before"), QStringLiteral("2021-03-15")}
            << QStringList{QStringLiteral("2021-03-14T05:00:00.000Z"),
                           QStringLiteral("2021-03-14T07:00:00.000Z")};
    }
    void timeFilters()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, passed);
        setTimeZone(zone);
        // The zone took effect: the first of January 2021 is ahead of UTC in Berlin, behind it in
        // New York and São Paulo.
        const int offset = QDateTime(QDate(2021, 1, 1), QTime(12, 0)).offsetFromUtc();
        QCOMPARE(offset, zone == "Europe/Berlin"      ? 3600
                         : zone == "America/New_York" ? -5 * 3600
                                                      : -3 * 3600);

        const Run run = runIn(QStringList{QStringLiteral("--format"), QStringLiteral("jsonl")}
                                  + arguments + QStringList{QStringLiteral("Z")},
                              momentsHistory());
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.status, passed.isEmpty() ? 1 : 0);
        QString problem;
        QStringList bodies;
        for (const QStringList& row : parseJsonLines(run.out, RowKeys, &problem)) {
            QCOMPARE(row[1], QStringLiteral("Body"));
            QCOMPARE(row[3], row[2]);
            bodies << row[2];
        }
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(bodies, passed);
    }

    void badOptionValues_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("errorHolds");
        QTest::newRow("no such day")
            << QStringList{QStringLiteral("--after"), QStringLiteral("2021-02-29"),
                           QStringLiteral("a")}
            << QStringLiteral("--after 2021-02-29");
        QTest::newRow("one-digit month")
            << QStringList{QStringLiteral("--before"), QStringLiteral("2021-3-04"),
                           QStringLiteral("a")}
            << QStringLiteral("--before 2021-3-04");
        QTest::newRow("hour 24") << QStringList{
            QStringLiteral("--after"), QStringLiteral("2021-03-04T24:00"),
            QStringLiteral("a")} << QStringLiteral("2021-03-04T24:00");
        QTest::newRow("offset without time")
            << QStringList{QStringLiteral("--after"), QStringLiteral("2021-03-04+01:00"),
                           QStringLiteral("a")}
            << QStringLiteral("no date");
        QTest::newRow("words") << QStringList{QStringLiteral("--after"),
                                              QStringLiteral("yesterday"), QStringLiteral("a")}
                               << QStringLiteral("yesterday");
        QTest::newRow("format") << QStringList{QStringLiteral("--format"), QStringLiteral("xml"),
                                               QStringLiteral("a")}
                                << QStringLiteral("\"xml\"");
        QTest::newRow("two modes")
            << QStringList{QStringLiteral("--list"), QStringLiteral("--stats")}
            << QStringLiteral("--list");
        QTest::newRow("unclosed group")
            << QStringList{QStringLiteral("--regex"), QStringLiteral("lunch (at")}
            << QStringLiteral("position 9");
        QTest::newRow("nothing to repeat")
            << QStringList{QStringLiteral("-E"), QStringLiteral("ab*+?+")}
            << QStringLiteral("position ");
    }
    void badOptionValues()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, errorHolds);
        const Run run = runIn(QStringList{QStringLiteral("--sample")} + arguments);
        QCOMPARE(run.status, 2);
        QCOMPARE(run.out, QByteArray());
        QVERIFY2(run.err.startsWith("velmoran-find: ") && run.err.count('\n') == 1,
                 run.err.constData());
        QVERIFY2(QString::fromUtf8(run.err).contains(errorHolds), run.err.constData());
    }

    // A regular expression is tested in the same three fields; -i makes it ignore case.
    void regularExpressions_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<bool>("ignoreCase");
        QTest::addColumn<QString>("sameAsPlain"); // a plain search finding the same rows, or ""
        QTest::addColumn<bool>("ignoreCaseForPlain");
        QTest::newRow("literal") << "Lunch" << false << "Lunch" << false;
        QTest::newRow("literal, case ignored") << "lunch" << true << "lunch" << true;
        QTest::newRow("alternation of cases") << "Lunch|lunch|LUNCH" << false << "lunch" << true;
        QTest::newRow("anchored") << "^L" << false << "" << false;
        QTest::newRow("character class, Cyrillic") << "[Пп]ривет" << false << "привет" << true;
        QTest::newRow("empty expression") << "" << false << "" << false;
    }
    void regularExpressions()
    {
        QFETCH(QString, expression);
        QFETCH(bool, ignoreCase);
        QFETCH(QString, sameAsPlain);
        QFETCH(bool, ignoreCaseForPlain);
        QStringList arguments{QStringLiteral("--sample"), QStringLiteral("--all-chats"),
                              QStringLiteral("--format"), QStringLiteral("jsonl"),
                              QStringLiteral("--regex")};
        if (ignoreCase)
            arguments << QStringLiteral("-i");
        const Run run = runIn(arguments + QStringList{QStringLiteral("--"), expression});
        QCOMPARE(run.status, 0);
        QString problem;
        const std::vector<QStringList> rows = parseJsonLines(run.out, RowKeys, &problem);
        QVERIFY(problem.isEmpty());
        QVERIFY(!rows.empty());
        const QRegularExpression re(expression, ignoreCase
                                                    ? QRegularExpression::CaseInsensitiveOption
                                                    : QRegularExpression::NoPatternOption);
        for (const QStringList& row : rows)
            QVERIFY2(row[2].contains(re), qPrintable(row[2]));
        if (!sameAsPlain.isEmpty() || expression.isEmpty()) {
            QStringList plainArguments{QStringLiteral("--sample"), QStringLiteral("--all-chats"),
                                       QStringLiteral("--format"), QStringLiteral("jsonl")};
            if (ignoreCaseForPlain)
                plainArguments << QStringLiteral("-i");
            const Run plain =
                runIn(plainArguments + QStringList{QStringLiteral("--"), sameAsPlain});
            QCOMPARE(run.out, plain.out);
        } else {
            // Fewer rows than the same text found anywhere in the field ("Hola Lucía!").
            const Run anywhere = runIn({QStringLiteral("--sample"), QStringLiteral("--all-chats"),
                                        QStringLiteral("--count"), QStringLiteral("L")});
            QVERIFY(qsizetype(rows.size()) < anywhere.out.trimmed().toLongLong());
        }
    }

    // A body an expression cannot be settled on, even with more room, ends the search with one
    // error line naming the message and the limit, never with "none found"; long bodies that
    // only need more room are found. Read from a file, so the sieve meets them first.
    void expressionsNeverMissSilently_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("status");
        QTest::newRow("repeated group, 20,001") << "(w|v)+z" << QString(20000, u'w') + u'z' << 0;
        QTest::newRow("repeated group, 1,000,000")
            << "(w|v)+z" << QString(999'999, u'w') + u'z' << 0;
        QTest::newRow("backtracking without end")
            << "(?:(a+)+$|!)" << QString(20000, u'a') + u'!' << 2;
        QTest::newRow("ordinary") << "lunch|dinner"
                                  << "lunch at noon" << 0;
    }
    void expressionsNeverMissSilently()
    {
        QFETCH(QString, expression);
        QFETCH(QString, body);
        QFETCH(int, status);
        const QString file = m_dir.filePath(QStringLiteral("long body.json"));
        QVERIFY(test::writeBytes(
            file, "{\"conversations\":[{\"id\":\"8:anna\",\"MessageList\":[{\"id\":\"1\","
                  "\"originalarrivaltime\":\"2021-05-02T08:15:00Z\",\"displayName\":\"Ann\","
                  "\"messagetype\":\"Text\",\"from\":\"8:anna\",\"content\":\""
                      + body.toUtf8() + "\"}]}]}"));
        const Run run = runIn({QStringLiteral("--count"), QStringLiteral("-E"), file, expression});
        QCOMPARE(run.status, status);
        if (status == 0) {
            QCOMPARE(run.out, QByteArray("1\n"));
            return;
        }
        QCOMPARE(run.out, QByteArray());
        const QString err = QString::fromUtf8(run.err);
        QVERIFY2(err.startsWith(u"velmoran-find: ") && err.count(u'\n') == 1, qPrintable(err));
        const QString time = TimestampText().format(utc("2021-05-02T08:15:00Z"));
        for (const QString& part : {time, QStringLiteral("Ann (anna)"), QStringLiteral("\"anna\""),
                                    QStringLiteral("Body"), QStringLiteral("match limit")})
            QVERIFY2(err.contains(part), qPrintable(err));
    }

    // --list: every conversation of the history in its order; --count: the rows a search
    // writes; --stats: the messages it reads, per conversation and per year, adding up.
    void listCountAndStatistics()
    {
        const ChatHistoryPtr history = sampleHistory();
        const Run list = runIn({QStringLiteral("--sample"), QStringLiteral("--list")});
        QCOMPARE(list.status, 0);
        const QList<QByteArray> lines = list.out.split('\n');
        QCOMPARE(lines.size(), qsizetype(history->chats.size()) + 1);
        qint64 all = 0;
        for (size_t i = 0; i < history->chats.size(); ++i) {
            const HistoryChat& c = history->chats[i];
            const QStringList cells =
                QString::fromUtf8(lines[qsizetype(i)]).split(QLatin1Char('\t'));
            QCOMPARE(cells.size(), 6);
            QCOMPARE(cells[0], c.id);
            QCOMPARE(cells[1], conversationKindText(c.kind));
            QCOMPARE(cells[2], c.name);
            QCOMPARE(cells[3].toLongLong(), qint64(c.messages.size()));
            qint64 first = std::numeric_limits<qint64>::max(),
                   last = std::numeric_limits<qint64>::min();
            for (const HistoryMessage& m : c.messages) {
                first = std::min(first, m.timestampMs);
                last = std::max(last, m.timestampMs);
            }
            QCOMPARE(QDateTime::fromString(cells[4], Qt::ISODateWithMs).toMSecsSinceEpoch(), first);
            QCOMPARE(QDateTime::fromString(cells[5], Qt::ISODateWithMs).toMSecsSinceEpoch(), last);
            all += qint64(c.messages.size());
        }
        QVERIFY(list.out.contains("\tgroup\tTeam chat\t22\t"));

        // --count is the number of rows the rows themselves make.
        for (const QStringList& search :
             {QStringList{QStringLiteral("-i"), QStringLiteral("lunch")},
              QStringList{QStringLiteral("--all-chats"), QStringLiteral("")},
              QStringList{QStringLiteral("nothing like this")}}) {
            const Run rows = runIn(QStringList{QStringLiteral("--sample"), QStringLiteral("-f"),
                                               QStringLiteral("jsonl")}
                                   + search);
            const Run count =
                runIn(QStringList{QStringLiteral("--sample"), QStringLiteral("--count")} + search);
            QCOMPARE(count.status, rows.status);
            QCOMPARE(count.out, QByteArray::number(rows.out.count('\n')) + '\n');
        }

        // --stats: the conversations searched and the messages in them, with totals that add up.
        auto statistics = [&](const QStringList& arguments) {
            const Run csv = runIn(QStringList{QStringLiteral("--sample"), QStringLiteral("--stats"),
                                              QStringLiteral("--format"), QStringLiteral("csv")}
                                  + arguments);
            bool ok = false;
            std::vector<QStringList> records = parseCsv(csv.out, &ok);
            return ok && csv.status == 0 ? records : std::vector<QStringList>();
        };
        const std::vector<QStringList> everything = statistics({QStringLiteral("--all-chats")});
        QVERIFY(!everything.empty());
        QCOMPARE(everything.front(),
                 (QStringList{QStringLiteral("conversation"), QStringLiteral("conversation_name"),
                              QStringLiteral("kind"), QStringLiteral("year"),
                              QStringLiteral("messages")}));
        qint64 sum = 0;
        QSet<QString> conversations;
        for (size_t i = 1; i < everything.size(); ++i) {
            sum += everything[i][4].toLongLong();
            conversations << everything[i][0];
        }
        QCOMPARE(sum, all);
        QCOMPARE(conversations.size(), qsizetype(history->chats.size()));
        qint64 oneToOneSum = 0;
        for (const QStringList& record : statistics({}))
            oneToOneSum += record[2] == u"one-to-one" ? record[4].toLongLong() : 0;
        QCOMPARE(oneToOneSum, all - 22);

        // The table a person reads has the same totals, and a time filter narrows them.
        const Run table = runIn(
            {QStringLiteral("--sample"), QStringLiteral("--stats"), QStringLiteral("--all-chats")});
        QCOMPARE(table.status, 0);
        const QString text = QString::fromUtf8(table.out);
        const QRegularExpression totals(QStringLiteral("^Total +(\\d+)$"),
                                        QRegularExpression::MultilineOption);
        auto it = totals.globalMatch(text);
        int totalLines = 0;
        while (it.hasNext()) {
            QCOMPARE(it.next().captured(1).toLongLong(), all);
            ++totalLines;
        }
        QCOMPARE(totalLines, 2);
        QVERIFY(text.contains(
            QRegularExpression(QStringLiteral("^19:team-chat@thread.skype +group +22  Team chat$"),
                               QRegularExpression::MultilineOption)));
        const std::vector<QStringList> in2020 =
            statistics({QStringLiteral("--all-chats"), QStringLiteral("--after"),
                        QStringLiteral("2020-01-01T00:00Z"), QStringLiteral("--before"),
                        QStringLiteral("2021-01-01T00:00Z")});
        QVERIFY(in2020.size() > 1);
        for (size_t i = 1; i < in2020.size(); ++i)
            QCOMPARE(in2020[i][3], QStringLiteral("2020"));
    }

    // The output file never replaces a history that is being read, whatever path leads to it.
    void outputNeverReplacesAHistory_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("the same path") << "same";
        QTest::newRow("a symbolic link to it") << "symlink";
        QTest::newRow("a hard link of it") << "hardlink";
        QTest::newRow("another way to write the path") << "dotted";
        QTest::newRow("a history found without a name") << "discovered";
    }
    void outputNeverReplacesAHistory()
    {
        QFETCH(QString, how);
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral("Downloads")));
        const QString history = home.filePath(QStringLiteral("Downloads/me_export.tar"));
        QVERIFY(QFile::copy(m_tar, history));
        QVERIFY(QFile::setPermissions(history,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QString output = history;
        if (how == u"symlink") {
            output = home.filePath(QStringLiteral("results.txt"));
            QVERIFY(QFile::link(history, output));
        } else if (how == u"hardlink") {
            output = home.filePath(QStringLiteral("results.txt"));
            QCOMPARE(::link(QFile::encodeName(history).constData(),
                            QFile::encodeName(output).constData()),
                     0);
        } else if (how == u"dotted") {
            output = home.filePath(QStringLiteral("Downloads/../Downloads/./me_export.tar"));
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.remove(QStringLiteral("XDG_DOWNLOAD_DIR"));
        environment.remove(QStringLiteral("XDG_CONFIG_HOME"));

        struct stat before {};
        QCOMPARE(::stat(QFile::encodeName(history).constData(), &before), 0);
        const QByteArray sum = digest(history);
        QStringList arguments{QStringLiteral("--output"), output};
        if (how != u"discovered")
            arguments << history;
        for (const QString& format : {QStringLiteral("text"), QStringLiteral("jsonl")}) {
            const Run run = runProgram(
                arguments + QStringList{QStringLiteral("-f"), format, QStringLiteral("the")},
                environment);
            QCOMPARE(run.status, 2);
            QVERIFY2(run.err.startsWith("velmoran-find: The output file ")
                         && run.err.count('\n') == 1,
                     run.err.constData());
            QVERIFY(run.err.contains(history.toUtf8()));
        }
        struct stat after {};
        QCOMPARE(::stat(QFile::encodeName(history).constData(), &after), 0);
        QCOMPARE(digest(history), sum);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_size, before.st_size);
        QVERIFY(QFileInfo(output).exists());
        // Any other output file is fine.
        const Run other =
            runProgram({QStringLiteral("--output"), home.filePath(QStringLiteral("other.txt")),
                        history, QStringLiteral("the")},
                       environment);
        QCOMPARE(other.status, 0);
    }

    // FIFOs, devices and descriptor names are written straight through, never replaced.
    void specialOutputsAreWrittenThrough()
    {
        const QStringList search{QStringLiteral("-f"), QStringLiteral("csv"), m_tar,
                                 QStringLiteral("the")};
        const Run plain = runProgram(search);
        QCOMPARE(plain.status, 0);
        QVERIFY(plain.out.size() > 100'000);

        // A FIFO, read by a child while the program writes.
        const QString fifo = m_dir.filePath(QStringLiteral("results.fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        // The reader writes into a file: a pipe to this process would fill while it waits.
        const QString received = m_dir.filePath(QStringLiteral("received"));
        QProcess reader;
        reader.setStandardOutputFile(received, QIODevice::Truncate);
        reader.start(QStringLiteral("cat"), {fifo});
        QVERIFY(reader.waitForStarted());
        const Run toFifo = runProgram(QStringList{QStringLiteral("-o"), fifo} + search);
        QVERIFY(reader.waitForFinished(60'000));
        QCOMPARE(toFifo.err, QByteArray());
        QCOMPARE(toFifo.status, 0);
        auto receivedBytes = [&] {
            QFile file(received);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
        };
        QVERIFY(receivedBytes() == plain.out);
        struct stat node {};
        QCOMPARE(::lstat(QFile::encodeName(fifo).constData(), &node), 0);
        QVERIFY(S_ISFIFO(node.st_mode));

        // The default text file into a FIFO as well.
        reader.setStandardOutputFile(received, QIODevice::Truncate);
        reader.start(QStringLiteral("cat"), {fifo});
        QVERIFY(reader.waitForStarted());
        const Run textToFifo =
            runProgram({QStringLiteral("-o"), fifo, m_tar, QStringLiteral("the")});
        QVERIFY(reader.waitForFinished(60'000));
        QCOMPARE(textToFifo.status, 0);
        QVERIFY(receivedBytes() == runProgram({m_tar, QStringLiteral("the")}).out);

        // A character device stays one.
        const Run toNull =
            runProgram(QStringList{QStringLiteral("-o"), QStringLiteral("/dev/null")} + search);
        QCOMPARE(toNull.err, QByteArray());
        QCOMPARE(toNull.status, 0);
        QCOMPARE(::lstat("/dev/null", &node), 0);
        QVERIFY(S_ISCHR(node.st_mode));

        // /dev/stdout is the standard output the program was given: here a regular file, which
        // keeps its inode and gets exactly the rows.
        const QString file = m_dir.filePath(QStringLiteral("stdout.csv"));
        QVERIFY(test::writeBytes(file, "old"));
        struct stat before {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &before), 0);
        for (const QString& format : {QStringLiteral("csv"), QStringLiteral("text")}) {
            QProcess process;
            process.setStandardOutputFile(file, QIODevice::Truncate);
            process.start(FindProgram,
                          {QStringLiteral("-o"), QStringLiteral("/dev/stdout"),
                           QStringLiteral("-f"), format, m_tar, QStringLiteral("the")});
            QVERIFY(process.waitForFinished(60'000));
            QCOMPARE(process.readAllStandardError(), QByteArray());
            QCOMPARE(process.exitCode(), 0);
            struct stat after {};
            QCOMPARE(::stat(QFile::encodeName(file).constData(), &after), 0);
            QCOMPARE(after.st_ino, before.st_ino);
            QFile written(file);
            QVERIFY(written.open(QIODevice::ReadOnly));
            QVERIFY(
                written.readAll()
                == runProgram({QStringLiteral("-f"), format, m_tar, QStringLiteral("the")}).out);
        }
    }

    // A reader that stops early (| head -c1) ends the program quietly, whatever it writes.
    void closedPipeEndsQuietly_data()
    {
        QTest::addColumn<QString>("options");
        QTest::newRow("text") << "";
        QTest::newRow("csv") << "-f csv";
        QTest::newRow("jsonl, every field") << "-f jsonl --all-chats";
        QTest::newRow("list") << "--list";
        QTest::newRow("text into /dev/stdout") << "-o /dev/stdout";
    }
    void closedPipeEndsQuietly()
    {
        QFETCH(QString, options);
        // Enough rows to fill any pipe buffer many times over.
        const QString script =
            QStringLiteral("'%1' %2 '%3' %4 2>'%5' | head -c1 >/dev/null; echo ${PIPESTATUS[0]}")
                .arg(FindProgram, options, m_tar,
                     options == u"--list" ? QString() : QStringLiteral("''"),
                     m_dir.filePath(QStringLiteral("pipe.err")));
        QProcess shell;
        shell.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
        QVERIFY(shell.waitForFinished(60'000));
        const QByteArray status = shell.readAllStandardOutput().trimmed();
        QCOMPARE(status, QByteArray("0"));
        QFile err(m_dir.filePath(QStringLiteral("pipe.err")));
        QVERIFY(err.open(QIODevice::ReadOnly));
        QCOMPARE(err.readAll(), QByteArray());
    }

private:
    QTemporaryDir m_dir;
    QString m_tar;
    QByteArray m_zone;
};

QTEST_MAIN(FindOptionsTest)
#include "test_find_options.moc"
