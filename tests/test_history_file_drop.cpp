#include "chat/chat_service.h"
#include "app/contact_list_model.h"
#include "fake_platform.h"
#include "app/form1.h"
#include "app/history_file_drop.h"
#include "history_files.h"
#include "chat/history_loader.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace velmoran;

namespace {

const QByteArray oneContactExport =
    "{\"conversations\":[{\"id\":\"8:dropped.contact\",\"MessageList\":[{\"originalarrivaltime\":"
    "\"2021-03-04T05:06:07Z\",\"messagetype\":\"Text\",\"content\":\"hi\",\"from\":\"8:dropped.contact\"}]}]}";

// The real window on a fake desktop, its history given only by what is dropped on it.
struct DropWindow {
    DropWindow()
        : loader({}, [] { return QStringList(); })
        , fake(folder.path())
        , services([this] { return loader.load(); })
        , window(fake.platform, services)
        , drop(new HistoryFileDrop(window, *window.contactListView(), loader, fake.dialogs))
    {
        window.eventPump().setMinimumInterval(0);
        window.Form_Load();
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
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &drop);
        return drop.isAccepted();
    }

    HistoryLoader loader;
    QTemporaryDir folder;
    test::FakePlatform fake;
    HistoryChatServiceFactory services;
    Form1 window;
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
        QCOMPARE(w.loader.files(), QStringList{file});
        QCOMPARE(w.drawnPixels(), 0);

        // The dropped file is the history of the next command.
        w.window.button(2)->click();
        QCOMPARE(w.window.contacts().size(), 1);
        QCOMPARE(w.window.contacts().text(1), QStringLiteral("dropped.contact"));
    }

    void onlyLocalFilesAreTaken()
    {
        DropWindow w;
        QVERIFY(!w.dropFiles({QUrl(QStringLiteral("https://example.com/x_export.tar"))}));
        QVERIFY(!w.dropFiles({}));
        QVERIFY(w.loader.files().isEmpty());
    }

    void hintSaysHowToGiveAHistory()
    {
        const QString hint = HistoryFileDrop::hintText();
        QVERIFY(hint.contains(QStringLiteral("_export.tar")));
        QVERIFY(hint.contains(QStringLiteral("main.db")));
        QVERIFY(hint.contains(QStringLiteral("drop")));
    }
};

QTEST_MAIN(HistoryFileDropTest)
#include "test_history_file_drop.moc"
