// The window over history files, as `velmoran FILE...` runs it: a generated export listed and
// searched, and a file that cannot be read.
#include "app/results_model.h"
#include "chat/export_reader.h"
#include "history_files.h"
#include "history_generator.h"
#include "window_harness.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace velmoran;
using velmoran::test::WindowHarness;

class HistoryWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_tar = m_dir.filePath(QStringLiteral("generated_export.tar"));
        const generator::Options options{3000, 7, 0};
        QCOMPARE(QString::fromStdString(generator::writeExportTar(m_tar.toStdString(), options)),
                 QString());
        m_export = readExportArchive(m_tar);
    }

    void windowListsTheContactsOfAGeneratedExport()
    {
        WindowHarness f;
        f.readHistoryFiles({m_tar});
        f.press(2);
        QCOMPARE(f.contactTexts(), m_export.contacts);
        QCOMPARE(f.contactTicks(), QList<bool>(m_export.contacts.size(), true));
        QVERIFY(f.fake.dialogs.shown.isEmpty());
    }

    void windowSearchesAGeneratedExport()
    {
        WindowHarness f;
        f.readHistoryFiles({m_tar});
        f.press(2);
        const QString text = QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442"); // "Привет"
        f.find(text);
        QCOMPARE(f.messages(), QStringList{QStringLiteral("Done.")});

        // Every one-to-one chat's bodies with the text, in chat and message order.
        QStringList expected;
        for (const HistoryChat& chat : m_export.chats) {
            if (chat.peerHandle.isEmpty())
                continue;
            for (const HistoryMessage& m : chat.messages) {
                if (m.body.contains(text))
                    expected << chat.peerHandle + QStringLiteral("|Body|") + m.body;
            }
        }
        QVERIFY(expected.size() > 10);
        QCOMPARE(f.resultRows(), expected);
    }

    void unreadableHistoryIsToldThenTreatedAsNoClient()
    {
        const QString broken = m_dir.filePath(QStringLiteral("broken_export.tar"));
        QFile tar(m_tar);
        QVERIFY(tar.open(QIODevice::ReadOnly));
        QVERIFY(test::writeBytes(broken, tar.read(tar.size() / 2)));
        WindowHarness f;
        f.readHistoryFiles({broken});
        f.press(2);
        QCOMPARE(f.contactTexts(), QStringList());
        QVERIFY(f.fake.dialogs.shown.size() >= 2);
        QVERIFY2(f.fake.dialogs.shown[0].text.contains(QDir::toNativeSeparators(broken)
                                                       + QStringLiteral("\" cannot be read")),
                 qPrintable(f.fake.dialogs.shown[0].text));
        // Then what a client that is not running gets: the help.
        QVERIFY(f.fake.dialogs.shown[1].text.contains(QStringLiteral("Skype")));
    }

private:
    QTemporaryDir m_dir;
    QString m_tar;
    ChatHistory m_export;
};

QTEST_MAIN(HistoryWindowTest)
#include "test_history_window.moc"
