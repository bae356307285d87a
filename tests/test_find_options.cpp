// velmoran-find's options for scripts: the csv and jsonl rows and what they carry, the other
// conversations, time and sender filters (around midnight and summer-time changes), regular
// expressions, --list, --count and --stats; and its manners as a command: closed pipes, output
// that must not replace a history being read or a FIFO or device.
#include "chat/history_loader.h"
#include "chat/sample_history.h"
#include "command_runs.h"
#include "export_builder.h"
#include "find/find_command.h"
#include "history_builder.h"
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
using namespace Qt::Literals::StringLiterals;
using test::args;
using test::parseCsv;
using test::parseJsonLines;
using test::Run;
using test::runFindIn;
using test::str;
using test::Utc;

namespace {

const QString FindProgram = QStringLiteral(VELMORAN_FIND_PATH);
const QStringList RowKeys =
    test::args("contact field value time sender sender_name conversation conversation_name");

Run runProgram(const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    return test::runProgram(FindProgram, arguments, environment);
}

// Messages around summer-time changes: New York on 2021-03-14 (07:00Z), Berlin on 2021-03-28
// (01:00Z) and 2021-10-31 (01:00Z); each body is its own UTC time, so rows tell which passed.
ChatHistoryPtr momentsHistory()
{
    test::ChatData ann{u"ann"_s, {}, u"8:ann"_s, u"Ann"_s};
    const char* times[] = {
        "2021-03-14T04:59:59.999Z", "2021-03-14T05:00:00.000Z", "2021-03-14T06:59:59.999Z",
        "2021-03-14T07:00:00.000Z", "2021-03-15T03:59:59.999Z", "2021-03-15T04:00:00.000Z",
        "2021-03-27T22:59:59.999Z", "2021-03-27T23:00:00.000Z", "2021-03-28T00:59:59.999Z",
        "2021-03-28T01:00:00.000Z", "2021-03-28T21:59:59.999Z", "2021-03-28T22:00:00.000Z",
        "2021-10-31T00:30:00.000Z", "2021-10-31T01:30:00.000Z"};
    int n = 0;
    for (const char* time : times) {
        const bool byAnn = n++ % 2 == 0;
        ann.messages.push_back({time, byAnn ? u"ann"_s : u"live:bob.smith"_s,
                                byAnn ? u"Ann"_s : u"Bob Smith"_s, QString::fromLatin1(time)});
    }
    // São Paulo skipped its midnight on 2018-11-04: the day began at 01:00 (03:00Z).
    test::ChatData cara{u"cara"_s, {}, u"8:cara"_s, u"Cara"_s};
    for (const char* time : {"2018-11-04T02:59:59.999Z", "2018-11-04T03:00:00.000Z"})
        cara.messages.push_back({time, u"cara"_s, u"Cara"_s, QString::fromLatin1(time)});
    return test::sharedHistory({ann, cara});
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
    test::ChatData zoe{u"zoë"_s, {}, u"8:zoë"_s, u"Zoë, \"Z\" Ünal"_s};
    qint64 t = Utc("2020-02-29T23:59:59.007Z").ms - 1001;
    for (const AwkwardValue& value : AwkwardValues) {
        t = value.time ? value.time : t + 1001;
        zoe.messages.push_back({t, u"zoë"_s, u"Zoë \"Z\""_s, value.body});
    }
    return test::sharedHistory({zoe});
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
        QTest::newRow("a word") << args("--format=jsonl --all-chats the");
        QTest::newRow("letter case ignored") << args("--format=csv -i --all-chats THANKS");
        QTest::newRow("words with a blank") << args("--format=csv --all-chats \"a lot\"");
        QTest::newRow("in timestamps and bodies") << args("--format=jsonl 1");
        QTest::newRow("a time of day") << args("--format=csv :0");
        QTest::newRow("a date and a time") << args("--format=csv \"2015 0\"");
        QTest::newRow("sender names") << args("--format=jsonl -i --all-chats ann");
        QTest::newRow("filtered by time and sender")
            << args("--format=jsonl --after 2015-01-01 --before 2016-06-01 --from a --all-chats e");
        QTest::newRow("an expression") << args(R"(--format=csv -E --all-chats "\d{2} [A-Z]")");
        QTest::newRow("some contacts, text file") << args("-c olga.4 -c sorina.1 o");
        QTest::newRow("nothing found") << args("--format=csv \"no such words\"");
        QTest::newRow("count") << args("--count -i E");
    }
    void aSearchThatReadsOnlyWhatItFindsWritesTheSame()
    {
        QFETCH(QStringList, arguments);
        for (const char* zone : {"UTC", "Europe/Berlin"}) {
            setTimeZone(zone);
            const Run sifted = runFindIn(QStringList{m_tar} + arguments);
            const Run whole =
                runFindIn(arguments, std::make_shared<const ChatHistory>(readHistoryFile(m_tar)));
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
        QTest::newRow("case ignored") << args("-i lunch");
        QTest::newRow("timestamps") << QStringList{QStringLiteral("19")};
        QTest::newRow("every field, other chats too") << (args("--all-chats") << QString());
        QTest::newRow("two contacts, one twice")
            << args("-c olga.petrova -c anna.kowalska -c olga.petrova a");
    }
    void rowsLeadBackToTheirMessage()
    {
        QFETCH(QStringList, arguments);
        const ChatHistoryPtr history = sampleHistory();
        const QStringList search = args("--sample") + arguments;
        const Run text = runFindIn(search);
        const Run csv = runFindIn(args("--format csv") + search);
        const Run jsonl = runFindIn(args("--format jsonl") + search);
        for (const Run* run : {&text, &csv, &jsonl}) {
            QCOMPARE(run->status, 0);
            QCOMPARE(run->err, QByteArray());
        }

        const auto parsedCsv = parseCsv(csv.out);
        QVERIFY2(parsedCsv, csv.out.left(300).constData());
        const std::vector<QStringList>& csvRecords = *parsedCsv;
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
        const Run run = runFindIn(args("--format jsonl --all-chats") << db << QString());
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
        const Run list = runFindIn(args("--list") << db);
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
        const Run csv = runFindIn(args("--format csv") << QString(), history);
        const Run jsonl = runFindIn(args("--format jsonl") << QString(), history);
        QCOMPARE(csv.status, 0);
        QCOMPARE(jsonl.status, 0);
        QVERIFY(csv.out.startsWith(
            "contact,field,value,time,sender,sender_name,conversation,conversation_name\r\n"));
        const auto parsedCsv = parseCsv(csv.out);
        QVERIFY(parsedCsv);
        const std::vector<QStringList>& csvRecords = *parsedCsv;
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
        const ChatHistoryPtr history = test::sharedHistory({
            {{},
             {{"2020-01-01T00:00:03Z", u"28:helper"_s, u"Helper"_s, u"tea time"_s}},
             u"28:helper"_s,
             u"Helper"_s,
             ConversationKind::Bot},
            {u"ann"_s,
             {{"2020-01-01T00:00:02Z", u"ann"_s, u"Ann"_s, u"tea?"_s}},
             u"8:ann"_s,
             u"Ann"_s},
            {{},
             {{"2020-01-01T00:00:01Z", u"bob"_s, u"Bob"_s, u"more tea"_s}},
             u"19:g@thread.skype"_s,
             u"Tea club"_s,
             ConversationKind::Group},
            {u"bob"_s,
             {{"2020-01-01T00:00:04Z", u"bob"_s, u"Bob"_s, u"green tea"_s}},
             u"8:bob"_s,
             u"Bob"_s},
        });

        auto contactsAndValues = [&](const QStringList& arguments) {
            const Run run = runFindIn(args("--format jsonl") + arguments, history);
            QString problem;
            QStringList rows;
            for (const QStringList& row : parseJsonLines(run.out, RowKeys, &problem))
                rows << row[0] + QLatin1Char('/') + row[2];
            return rows;
        };
        const QStringList oneToOne = contactsAndValues({QStringLiteral("tea")});
        QCOMPARE(oneToOne, (QStringList{u"ann/tea?"_s, u"bob/green tea"_s}));
        const QStringList all = contactsAndValues(args("--all-chats tea"));
        QCOMPARE(all,
                 oneToOne
                     + (QStringList{u"28:helper/tea time"_s, u"19:g@thread.skype/more tea"_s}));
        // Contacts narrow the one-to-one chats only; filters narrow every chat.
        QCOMPARE(contactsAndValues(args("--all-chats -c bob --from BOB tea")),
                 (QStringList{u"bob/green tea"_s, u"19:g@thread.skype/more tea"_s}));

        // In the text file too, after the window's rows.
        const Run text = runFindIn(args("--all-chats tea"), history);
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
            << ny << args("--after 2021-03-14 --before 2021-03-15")
            << QStringList{u"2021-03-14T05:00:00.000Z"_s, u"2021-03-14T06:59:59.999Z"_s,
                           u"2021-03-14T07:00:00.000Z"_s, u"2021-03-15T03:59:59.999Z"_s};
        QTest::newRow("New York, after the change, with minutes")
            << ny << args("--after 2021-03-14T03:00 --before 2021-03-14T23:59:59")
            << QStringList{QStringLiteral("2021-03-14T07:00:00.000Z")};
        QTest::newRow("New York, before the change")
            << ny << args("--after 2021-03-14T01:59:59 --before 2021-03-14T03:00")
            << QStringList{QStringLiteral("2021-03-14T06:59:59.999Z")};
        QTest::newRow("Berlin, spring day")
            << berlin << args("--after 2021-03-28 --before 2021-03-29")
            << QStringList{u"2021-03-27T23:00:00.000Z"_s, u"2021-03-28T00:59:59.999Z"_s,
                           u"2021-03-28T01:00:00.000Z"_s, u"2021-03-28T21:59:59.999Z"_s};
        QTest::newRow("Berlin, autumn: 25 hours")
            << berlin << args("--after 2021-10-31 --before 2021-11-01")
            << QStringList{u"2021-10-31T00:30:00.000Z"_s, u"2021-10-31T01:30:00.000Z"_s};
        QTest::newRow("Berlin, before midnight only")
            << berlin << args("--before 2021-03-28")
            << QStringList{u"2021-03-14T04:59:59.999Z"_s, u"2021-03-14T05:00:00.000Z"_s,
                           u"2021-03-14T06:59:59.999Z"_s, u"2021-03-14T07:00:00.000Z"_s,
                           u"2021-03-15T03:59:59.999Z"_s, u"2021-03-15T04:00:00.000Z"_s,
                           u"2021-03-27T22:59:59.999Z"_s, u"2018-11-04T02:59:59.999Z"_s,
                           u"2018-11-04T03:00:00.000Z"_s};
        QTest::newRow("New York, from the skipped hour on")
            << ny << args("--after 2021-03-14T02:00 --before 2021-03-14T02:30")
            << QStringList{QStringLiteral("2021-03-14T07:00:00.000Z")};
        QTest::newRow("São Paulo, a day without its midnight")
            << QByteArray("America/Sao_Paulo") << args("--after 2018-11-04 --before 2018-11-05")
            << QStringList{QStringLiteral("2018-11-04T03:00:00.000Z")};
        QTest::newRow("UTC named, whatever the zone")
            << berlin << args("--after 2021-03-14T05:00Z --before 2021-03-14T07:00:00Z")
            << QStringList{u"2021-03-14T05:00:00.000Z"_s, u"2021-03-14T06:59:59.999Z"_s};
        QTest::newRow("offsets, whole seconds")
            << ny << args("--after 2021-03-28T02:00:00+01:00 --before 2021-03-28T18:00:00-04:00")
            << QStringList{u"2021-03-28T01:00:00.000Z"_s, u"2021-03-28T21:59:59.999Z"_s};
        QTest::newRow("sender by name or id, case ignored")
            << ny << args("--from bOB --after 2021-03-27")
            << QStringList{u"2021-03-27T23:00:00.000Z"_s, u"2021-03-28T01:00:00.000Z"_s,
                           u"2021-03-28T22:00:00.000Z"_s, u"2021-10-31T01:30:00.000Z"_s};
        QTest::newRow("sender by id alone")
            << ny << args("--from live: --before 2021-03-15")
            << QStringList{u"2021-03-14T05:00:00.000Z"_s, u"2021-03-14T07:00:00.000Z"_s};
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

        const Run run = runFindIn(args("--format jsonl") + arguments << u"Z"_s, momentsHistory());
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
            << args("--after 2021-02-29 a") << QStringLiteral("--after 2021-02-29");
        QTest::newRow("one-digit month")
            << args("--before 2021-3-04 a") << QStringLiteral("--before 2021-3-04");
        QTest::newRow("hour 24") << args("--after 2021-03-04T24:00 a")
                                 << QStringLiteral("2021-03-04T24:00");
        QTest::newRow("offset without time")
            << args("--after 2021-03-04+01:00 a") << QStringLiteral("no date");
        // What the export's times may hold and the options do not take.
        QTest::newRow("a fraction")
            << args("--after 2021-03-04T05:06:07.5Z a") << QStringLiteral("07.5Z");
        QTest::newRow("a space before the time")
            << args("--after \"2021-03-04 05:06\" a") << QStringLiteral("2021-03-04 05:06");
        QTest::newRow("a leap second")
            << args("--after 2021-03-04T23:59:60Z a") << QStringLiteral("59:60Z");
        QTest::newRow("words") << args("--after yesterday a") << QStringLiteral("yesterday");
        QTest::newRow("format") << args("--format xml a") << QStringLiteral("\"xml\"");
        QTest::newRow("two modes") << args("--list --stats") << QStringLiteral("--list");
        QTest::newRow("unclosed group")
            << args("--regex \"lunch (at\"") << QStringLiteral("position 9");
        QTest::newRow("nothing to repeat") << args("-E ab*+?+") << QStringLiteral("position ");
    }
    void badOptionValues()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, errorHolds);
        const Run run = runFindIn(args("--sample") + arguments);
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
        QStringList arguments = args("--sample --all-chats --format jsonl --regex");
        if (ignoreCase)
            arguments << QStringLiteral("-i");
        const Run run = runFindIn(arguments << u"--"_s << expression);
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
            QStringList plainArguments = args("--sample --all-chats --format jsonl");
            if (ignoreCaseForPlain)
                plainArguments << QStringLiteral("-i");
            const Run plain = runFindIn(plainArguments << u"--"_s << sameAsPlain);
            QCOMPARE(run.out, plain.out);
        } else {
            // Fewer rows than the same text found anywhere in the field ("Hola Lucía!").
            const Run anywhere = runFindIn(args("--sample --all-chats --count L"));
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
        const test::JsonMessage message{.time = str("2021-05-02T08:15:00Z"),
                                        .displayName = str("Ann"),
                                        .from = str("8:anna"),
                                        .content = str(body.toUtf8())};
        QVERIFY(test::writeBytes(file, test::exportText({{str("8:anna"), {message}}}, {})));
        const Run run = runFindIn(args("--count -E") << file << expression);
        QCOMPARE(run.status, status);
        if (status == 0) {
            QCOMPARE(run.out, QByteArray("1\n"));
            return;
        }
        QCOMPARE(run.out, QByteArray());
        const QString err = QString::fromUtf8(run.err);
        QVERIFY2(err.startsWith(u"velmoran-find: ") && err.count(u'\n') == 1, qPrintable(err));
        const QString time = TimestampText().format(Utc("2021-05-02T08:15:00Z").ms);
        for (const QString& part : {time, QStringLiteral("Ann (anna)"), QStringLiteral("\"anna\""),
                                    QStringLiteral("Body"), QStringLiteral("match limit")})
            QVERIFY2(err.contains(part), qPrintable(err));
    }

    // --list: every conversation of the history in its order; --count: the rows a search
    // writes; --stats: the messages it reads, per conversation and per year, adding up.
    void listCountAndStatistics()
    {
        const ChatHistoryPtr history = sampleHistory();
        const Run list = runFindIn(args("--sample --list"));
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
        for (const QStringList& search : {args("-i lunch"), args("--all-chats") << QString(),
                                          QStringList{QStringLiteral("nothing like this")}}) {
            const Run rows = runFindIn(args("--sample -f jsonl") + search);
            const Run count = runFindIn(args("--sample --count") + search);
            QCOMPARE(count.status, rows.status);
            QCOMPARE(count.out, QByteArray::number(rows.out.count('\n')) + '\n');
        }

        // --stats: the conversations searched and the messages in them, with totals that add up.
        auto statistics = [&](const QStringList& arguments) {
            const Run csv = runFindIn(args("--sample --stats --format csv") + arguments);
            const auto records = parseCsv(csv.out);
            return records && csv.status == 0 ? *records : std::vector<QStringList>();
        };
        const std::vector<QStringList> everything = statistics({QStringLiteral("--all-chats")});
        QVERIFY(!everything.empty());
        QCOMPARE(everything.front(), (args("conversation conversation_name kind year messages")));
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
        const Run table = runFindIn(args("--sample --stats --all-chats"));
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
            statistics(args("--all-chats --after 2020-01-01T00:00Z --before 2021-01-01T00:00Z"));
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
        QStringList arguments = args("--output") << output;
        if (how != u"discovered")
            arguments << history;
        for (const QString& format : {QStringLiteral("text"), QStringLiteral("jsonl")}) {
            const Run run = runProgram(arguments + args("-f") << format << u"the"_s, environment);
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
        const Run other = runProgram(
            args("--output") << home.filePath(u"other.txt"_s) << history << u"the"_s, environment);
        QCOMPARE(other.status, 0);
    }

    // FIFOs, devices and descriptor names are written straight through, never replaced.
    void specialOutputsAreWrittenThrough()
    {
        const QStringList search = args("-f csv") << m_tar << u"the"_s;
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
        const Run textToFifo = runProgram(args("-o") << fifo << m_tar << u"the"_s);
        QVERIFY(reader.waitForFinished(60'000));
        QCOMPARE(textToFifo.status, 0);
        QVERIFY(receivedBytes() == runProgram({m_tar, QStringLiteral("the")}).out);

        // A character device stays one.
        const Run toNull = runProgram(args("-o /dev/null") + search);
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
            process.start(FindProgram, args("-o /dev/stdout -f") << format << m_tar << u"the"_s);
            QVERIFY(process.waitForFinished(60'000));
            QCOMPARE(process.readAllStandardError(), QByteArray());
            QCOMPARE(process.exitCode(), 0);
            struct stat after {};
            QCOMPARE(::stat(QFile::encodeName(file).constData(), &after), 0);
            QCOMPARE(after.st_ino, before.st_ino);
            QFile written(file);
            QVERIFY(written.open(QIODevice::ReadOnly));
            QVERIFY(written.readAll() == runProgram(args("-f") << format << m_tar << u"the"_s).out);
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
