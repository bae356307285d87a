#include "app/history_file_drop.h"

#include "chat/history_loader.h"

#include <QAbstractItemView>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>
#include <QStandardPaths>
#include <QUrl>

namespace velmoran {

namespace {

QStringList localFiles(const QMimeData* mime)
{
    QStringList files;
    if (!mime || !mime->hasUrls())
        return files;
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile())
            return {};
        files << url.toLocalFile();
    }
    return files;
}

} // namespace

HistoryFileDrop::HistoryFileDrop(QWidget& window, QAbstractItemView& contactList,
                                 HistoryLoader& loader, Dialogs& dialogs)
    : QObject(&window)
    , m_window(window)
    , m_contactList(contactList)
    , m_loader(loader)
    , m_dialogs(dialogs)
    , m_viewport(contactList.viewport())
{
    m_window.setAcceptDrops(true);
    m_window.installEventFilter(this);
    m_viewport->installEventFilter(this);
    auto* open = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), &m_window);
    connect(open, &QShortcut::activated, this, &HistoryFileDrop::chooseFiles);
}

QString HistoryFileDrop::hintText()
{
    return QStringLiteral("No chat history found.\n\nStart Velmoran with your chat export "
                          "(\u2026_export.tar or messages.json) or your old main.db, drop one of "
                          "them on this window, or click here to choose one (Ctrl+O).");
}

OpenDialogRequest HistoryFileDrop::openRequest()
{
    // Exports usually land in the download folder; a folder that does not exist would be
    // taken for a file name.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!QFileInfo(folder).isDir())
        folder = QDir::homePath();
    // Every kind the loader reads: an export's tar, compressed or not, its messages.json, and
    // the old main.db.
    const QString patterns =
        QStringLiteral("*.tar *.tar.gz *.tgz *.tar.bz2 *.tar.xz *.tar.zst *.tar.lz4 *.json *.db");
    return {QStringLiteral("Open Chat History"),
            QStringLiteral("Chat histories (%1)|%1|All files (*)|*|").arg(patterns), folder};
}

void HistoryFileDrop::chooseFiles()
{
    addFiles(m_dialogs.openFileNames(openRequest()));
}

void HistoryFileDrop::addFiles(const QStringList& files)
{
    for (const QString& file : files)
        m_loader.addFile(file);
    if (m_viewport)
        m_viewport->update();
}

bool HistoryFileDrop::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &m_window
        && (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove)) {
        auto* drag = static_cast<QDropEvent*>(event);
        if (!localFiles(drag->mimeData()).isEmpty()) {
            drag->acceptProposedAction();
            return true;
        }
    } else if (watched == &m_window && event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList files = localFiles(drop->mimeData());
        if (!files.isEmpty()) {
            addFiles(files);
            drop->acceptProposedAction();
            return true;
        }
    } else if (watched == m_viewport && event->type() == QEvent::MouseButtonRelease) {
        // The hint fills the empty list: a click on it opens the dialog.
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && hintShown()) {
            chooseFiles();
            return true;
        }
    } else if (watched == m_viewport && event->type() == QEvent::Paint) {
        // The background is already drawn; an empty list draws nothing over the hint.
        paintHint();
    }
    return QObject::eventFilter(watched, event);
}

bool HistoryFileDrop::hintShown() const
{
    const QAbstractItemModel* model = m_contactList.model();
    return (!model || model->rowCount() == 0) && m_loader.files().isEmpty();
}

void HistoryFileDrop::paintHint()
{
    if (!hintShown())
        return;
    QWidget* viewport = m_viewport.data();
    QPainter painter(viewport);
    painter.setPen(viewport->palette().color(QPalette::PlaceholderText));
    const int margin = viewport->fontMetrics().height() / 2;
    painter.drawText(viewport->rect().adjusted(margin, margin, -margin, -margin),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, hintText());
}

} // namespace velmoran
