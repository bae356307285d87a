// Reading histories in place from a mapping of the file, the progress of a read, and loading
// through the real window while it keeps handling events.
#include "app/contact_list_model.h"
#include "app/history_load_progress.h"
#include "chat/export_reader.h"
#include "chat/history_loader.h"
#include "core/failure.h"
#include "history_files.h"
#include "window_harness.h"

#include <QFile>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

using namespace velmoran;

namespace {

// An export of `conversations` one-to-one chats with `messages` text messages each.
QByteArray generatedExport(int conversations, int messages)
{
    QByteArray json = "{\"userId\":\"8:me\",\"conversations\":[";
    for (int c = 0; c < conversations; ++c) {
        if (c > 0)
            json += ',';
        json += "{\"id\":\"8:friend" + QByteArray::number(c) + "\",\"displayName\":\"Friend "
                + QByteArray::number(c) + "\",\"MessageList\":[";
        for (int m = 0; m < messages; ++m) {
            if (m > 0)
                json += ',';
            json += "{\"id\":\"" + QByteArray::number(m)
                    + "\",\"displayName\":\"Friend\",\"from\":\"8:friend" + QByteArray::number(c)
                    + "\",\"messagetype\":\"Text\",\"content\":\"hello number "
                    + QByteArray::number(c * 100000 + m)
                    + " \\u00e9\",\"originalarrivaltime\":\"2021-03-04T05:"
                    + QByteArray::number(10 + m % 50) + ":07.890Z\"}";
        }
        json += "]}";
    }
    return json + "]}";
}

// Everything a history holds that a reader decides, one line per message.
QStringList describe(const ChatHistory& history)
{
    QStringList lines = history.contacts;
    for (const HistoryChat& chat : history.chats) {
        lines << chat.id + QLatin1Char('|') + chat.name;
        for (const HistoryMessage& m : chat.messages)
            lines << QStringLiteral("%1|%2|%3|%4")
                         .arg(m.timestampMs)
                         .arg(m.senderId, m.senderDisplayName, m.body);
    }
    return lines;
}

QString failureOf(const std::function<void()>& read)
{
    try {
        read();
    } catch (const Failure& failure) {
        return failure.description();
    }
    return {};
}

// Pads the JSON with blanks after it to exactly size bytes.
QByteArray paddedTo(QByteArray json, qsizetype size)
{
    json += QByteArray(size - json.size(), ' ');
    return json;
}

} // namespace

class HistoryLoadingTest : public QObject {
    Q_OBJECT

private slots:
    void inPlaceReadsMatchTheUnpackedRead_data()
    {
        const qsizetype page = qsizetype(sysconf(_SC_PAGESIZE));
        const QByteArray json = generatedExport(7, 40);
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("any size") << json;
        // Nothing readable after the file's last byte but the mapping's own zero page.
        QTest::newRow("a whole number of pages") << paddedTo(json, (json.size() / page + 2) * page);
        // A tar member that ends on a block boundary, right before the end-of-archive blocks.
        QTest::newRow("a whole number of tar blocks")
            << paddedTo(json, (json.size() / 512 + 1) * 512);
        QTest::newRow("a byte short of a page")
            << paddedTo(json, (json.size() / page + 1) * page - 1);
    }

    void inPlaceReadsMatchTheUnpackedRead()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString bare = dir.filePath(QStringLiteral("messages.json"));
        const QString plain = dir.filePath(QStringLiteral("plain.tar"));
        const QString gzip = dir.filePath(QStringLiteral("packed.tar.gz"));
        const QString lastMember = dir.filePath(QStringLiteral("last.tar"));
        QVERIFY(test::writeBytes(bare, content));
        QVERIFY(test::writeTar(plain, {{QStringLiteral("media/photo.jpg"), QByteArray(5000, 'j')},
                                       {QStringLiteral("messages.json"), content},
                                       {QStringLiteral("endpoints.json"), QByteArray("{}")}}));
        QVERIFY(
            test::writeTar(lastMember, {{QStringLiteral("messages.json"), "{\"conversations\":[]}"},
                                        {QStringLiteral("messages.json"), content}}));
        QVERIFY(test::writeTar(gzip, {{QStringLiteral("messages.json"), content}}, true));
        const QStringList expected = describe(readExportArchive(gzip));
        QCOMPARE(expected.size(), 7 + 7 + 7 * 40);
        QCOMPARE(describe(readExportJson(bare)), expected);
        QCOMPARE(describe(readExportArchive(plain)), expected);
        QCOMPARE(describe(readExportArchive(lastMember)), expected);
        // The input is never written.
        QFile check(bare);
        QVERIFY(check.open(QIODevice::ReadOnly));
        QCOMPARE(check.readAll(), content);
    }

    void progressRisesToOneForEveryKindOfFile_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"json", "tar", "tar.gz"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }

    void progressRisesToOneForEveryKindOfFile()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QByteArray json = generatedExport(20, 300);
        const QString path = dir.filePath(QStringLiteral("history.") + kind);
        if (kind == QStringLiteral("json"))
            QVERIFY(test::writeBytes(path, json));
        else
            QVERIFY(test::writeTar(path, {{QStringLiteral("messages.json"), json}},
                                   kind.endsWith(QStringLiteral("gz"))));
        std::vector<double> seen;
        const ChatHistory history =
            readHistoryFile(path, [&](double done) { seen.push_back(done); });
        QCOMPARE(history.messageCount(), qsizetype(20 * 300));
        QVERIFY2(seen.size() >= 10, qPrintable(QString::number(seen.size())));
        QCOMPARE(seen.back(), 1.0);
        QVERIFY(seen.front() >= 0);
        for (size_t i = 1; i < seen.size(); ++i)
            QVERIFY2(seen[i] > seen[i - 1],
                     qPrintable(QStringLiteral("%1 after %2").arg(seen[i]).arg(seen[i - 1])));
    }

    void aFileCutShortWhileItIsReadIsRefusedWithoutACrash_data()
    {
        QTest::addColumn<bool>("tar");
        QTest::newRow("messages.json") << false;
        QTest::newRow("tar") << true;
    }

    void aFileCutShortWhileItIsReadIsRefusedWithoutACrash()
    {
        QFETCH(bool, tar);
        QTemporaryDir dir;
        const QByteArray json = generatedExport(40, 400);
        const QString path =
            dir.filePath(tar ? QStringLiteral("export.tar") : QStringLiteral("messages.json"));
        QVERIFY(tar ? test::writeTar(path, {{QStringLiteral("messages.json"), json}})
                    : test::writeBytes(path, json));
        bool cut = false;
        const QString failure = failureOf([&] {
            readHistoryFile(path, [&](double done) {
                if (!cut && done > 0.2) {
                    cut = true;
                    QVERIFY(::truncate(QFile::encodeName(path).constData(), 4096) == 0);
                }
            });
        });
        QVERIFY(cut);
        QVERIFY2(failure.endsWith(
                     QStringLiteral("cannot be read: it became shorter while it was read.")),
                 qPrintable(failure));
    }

    void aFileRewrittenWhileItIsReadIsRefused()
    {
        QTemporaryDir dir;
        const QByteArray json = generatedExport(10, 200);
        const QString path = dir.filePath(QStringLiteral("messages.json"));
        QVERIFY(test::writeBytes(path, json));
        bool grown = false;
        const QString failure = failureOf([&] {
            readExportJson(path, [&](double) {
                if (!grown) {
                    grown = true;
                    QFile file(path);
                    QVERIFY(file.open(QIODevice::Append));
                    file.write("   ");
                }
            });
        });
        QVERIFY(grown);
        QVERIFY2(failure.endsWith(QStringLiteral("it changed while it was read.")),
                 qPrintable(failure));
        // Read again once it stays put.
        QCOMPARE(readExportJson(path).messageCount(), qsizetype(10 * 200));
    }

    void theWindowShowsTheLoadAndHandlesEventsMeanwhile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("messages.json"));
        QVERIFY(test::writeBytes(path, generatedExport(50, 400)));
        test::WindowHarness f;
        f.readHistoryFiles({path});
        showHistoryLoadProgress(*f.loader, f.window.eventPump(), f.window.progress());
        const QString before = f.window.progress().text();
        QStringList shown;
        QTimer timer;
        timer.setInterval(0);
        // What the bar itself shows, as drawn: its text is exactly the program's.
        QObject::connect(&timer, &QTimer::timeout, [&] {
            const QString drawn = f.window.progressBar()->text();
            QCOMPARE(drawn, f.window.progress().text());
            if (shown.isEmpty() || shown.back() != drawn)
                shown << drawn;
        });
        timer.start();
        f.press(2);
        timer.stop();
        QCOMPARE(f.contactTexts().size(), 50);
        QVERIFY2(shown.size() >= 3, qPrintable(shown.join(QLatin1Char(';'))));
        for (const QString& text : std::as_const(shown))
            QVERIFY2(QRegularExpression(QStringLiteral("^Reading chat history: \\d{1,2}%$"))
                         .match(text)
                         .hasMatch(),
                     qPrintable(text));
        // Once loaded, the bar shows what it showed before.
        QCOMPARE(f.window.progress().text(), before);
        // A second listing reuses the history and reads nothing.
        shown.clear();
        timer.start();
        f.press(2);
        timer.stop();
        QVERIFY2(shown.isEmpty() || !shown.join(QString()).contains(QStringLiteral("Reading")),
                 qPrintable(shown.join(QLatin1Char(';'))));
    }

    void closingTheWindowDuringALoadEndsIt()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("messages.json"));
        QVERIFY(test::writeBytes(path, generatedExport(50, 400)));
        test::WindowHarness f;
        f.readHistoryFiles({path});
        showHistoryLoadProgress(*f.loader, f.window.eventPump(), f.window.progress());
        bool closed = false;
        QTimer timer;
        timer.setInterval(0);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (!closed
                && f.window.progress().text().startsWith(QStringLiteral("Reading chat history"))) {
                closed = true;
                f.window.close();
            }
        });
        timer.start();
        f.press(2);
        timer.stop();
        QVERIFY(closed);
        QVERIFY(f.window.eventPump().isClosing());
        QCOMPARE(f.contactTexts().size(), 0);
        // The stopped read left nothing behind: the file is read whole when loaded again.
        f.loader->setProgress({});
        QCOMPARE(f.loader->load()->messageCount(), qsizetype(50 * 400));
    }
};

QTEST_MAIN(HistoryLoadingTest)
#include "test_history_loading.moc"
