#include "app/history_file_drop.h"

#include "chat/history_loader.h"

#include <QAbstractItemView>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
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

HistoryFileDrop::HistoryFileDrop(QWidget& window, QAbstractItemView& contactList, HistoryLoader& loader)
    : QObject(&window)
    , m_window(window)
    , m_contactList(contactList)
    , m_loader(loader)
    , m_viewport(contactList.viewport())
{
    m_window.setAcceptDrops(true);
    m_window.installEventFilter(this);
    m_viewport->installEventFilter(this);
}

QString HistoryFileDrop::hintText()
{
    return QStringLiteral("No chat history found.\n\nStart Velmoran with your chat export "
                          "(\u2026_export.tar or messages.json) or your old main.db, or drop one of "
                          "them on this window.");
}

bool HistoryFileDrop::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &m_window && (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove)) {
        auto* drag = static_cast<QDropEvent*>(event);
        if (!localFiles(drag->mimeData()).isEmpty()) {
            drag->acceptProposedAction();
            return true;
        }
    } else if (watched == &m_window && event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList files = localFiles(drop->mimeData());
        if (!files.isEmpty()) {
            for (const QString& file : files)
                m_loader.addFile(file);
            drop->acceptProposedAction();
            if (m_viewport)
                m_viewport->update();
            return true;
        }
    } else if (watched == m_viewport && event->type() == QEvent::Paint) {
        // The background is already drawn; an empty list draws nothing over the hint.
        paintHint();
    }
    return QObject::eventFilter(watched, event);
}

void HistoryFileDrop::paintHint()
{
    const QAbstractItemModel* model = m_contactList.model();
    if ((model && model->rowCount() > 0) || !m_loader.files().isEmpty())
        return;
    QWidget* viewport = m_viewport.data();
    QPainter painter(viewport);
    painter.setPen(viewport->palette().color(QPalette::PlaceholderText));
    const int margin = viewport->fontMetrics().height() / 2;
    painter.drawText(viewport->rect().adjusted(margin, margin, -margin, -margin),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, hintText());
}

} // namespace velmoran
