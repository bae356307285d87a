#include "app/contact_list_model.h"
#include "app/history_file_drop.h"
#include "chat/history_loader.h"
#include "history_files.h"
#include "window_harness.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace velmoran;
using velmoran::test::WindowHarness;

namespace {

const QByteArray oneContactExport =
    "{\"conversations\":[{\"id\":\"8:dropped.contact\",\"MessageList\":[{\"originalarrivaltime\":"
    "\"2021-03-04T05:06:07Z\",\"messagetype\":\"Text\",\"content\":\"hi\",\"from\":\"8:dropped."
    "contact\"}]}]}";

// The window shown, its history given only by what is dropped on it.
struct DropWindow : WindowHarness {
    DropWindow()
        : drop(new HistoryFileDrop(window, *window.contactListView(), readHistoryFiles({}),
                                   fake.dialogs))
    {
        window.show();
    }

    // How many pixels of the contact list differ from its background.
    int drawnPixels()
    {
        QWidget* viewport = window.contactListView()->viewport();
        const QImage image = viewport->grab().toImage();
        const QRgb background = viewport->palette().color(QPalette::Base).rgb();
        int drawn = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                drawn += image.pixel(x, y) != background ? 1 : 0;
        return drawn;
    }

    bool dropFiles(const QList<QUrl>& urls)
    {
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&window, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &drop);
        return drop.isAccepted();
    }

    HistoryFileDrop* drop;
};

} // namespace

class HistoryFileDropTest : public QObject {
    Q_OBJECT

private slots:
    void emptyListShowsTheHintUntilAHistoryIsGiven()
    {
        DropWindow w;
        QVERIFY(w.drawnPixels() > 100);

        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("messages.json"));
        QVERIFY(test::writeBytes(file, oneContactExport));
        QVERIFY(w.dropFiles({QUrl::fromLocalFile(file)}));
        QCOMPARE(w.loader->files(), QStringList{file});
        QCOMPARE(w.drawnPixels(), 0);

        // The dropped file is the history of the next command.
        w.press(2);
        QCOMPARE(w.contactTexts(), QStringList{QStringLiteral("dropped.contact")});
    }

    void onlyLocalFilesAreTaken()
    {
        DropWindow w;
        QVERIFY(!w.dropFiles({QUrl(QStringLiteral("https://example.com/x_export.tar"))}));
        QVERIFY(!w.dropFiles({}));
        QVERIFY(w.loader->files().isEmpty());
    }

    void hintSaysHowToGiveAHistory()
    {
        const QString hint = HistoryFileDrop::hintText();
        QVERIFY(hint.contains(QStringLiteral("_export.tar")));
        QVERIFY(hint.contains(QStringLiteral("main.db")));
        QVERIFY(hint.contains(QStringLiteral("drop")));
    }

    // The open dialog's first filter shows every kind of history the program reads, and
    // nothing else of a download folder.
    void openDialogShowsEveryHistoryKind_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("shown");
        for (const char* name :
             {"8_live_anna_export.tar", "export.tar.gz", "export.tgz", "export.tar.bz2",
              "export.tar.xz", "export.tar.zst", "export.tar.lz4", "messages.json", "main.db"})
            QTest::newRow(name) << QString::fromLatin1(name) << true;
        QTest::newRow("a picture") << "photo.jpg" << false;
        QTest::newRow("a zip") << "export.zip" << false;
    }
    void openDialogShowsEveryHistoryKind()
    {
        QFETCH(QString, name);
        QFETCH(bool, shown);
        const QStringList parts = HistoryFileDrop::openRequest().filter.split(u'|');
        QVERIFY(parts.size() >= 2);
        // "Description (patterns)", then the patterns themselves; both name the same.
        QVERIFY(parts[0].contains(QLatin1Char('(') + parts[1] + QLatin1Char(')')));
        bool matched = false;
        for (const QString& pattern : parts[1].split(u' ', Qt::SkipEmptyParts))
            matched |= QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern))
                           .match(name)
                           .hasMatch();
        QCOMPARE(matched, shown);
    }
};

QTEST_MAIN(HistoryFileDropTest)
#include "test_history_file_drop.moc"
