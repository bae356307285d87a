#include "app/message_view.h"

#include "app/conversation_models.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QTextLayout>

#include <algorithm>

namespace velmoran {

namespace {

const int Margin = 4;

// Lays a text out on one line, left-aligned whatever its direction, with some parts marked.
struct OneLine {
    OneLine(const QString& text, const QFont& font, const QList<QTextLayout::FormatRange>& formats,
            int width)
        : layout(text, font)
    {
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        option.setAlignment(Qt::AlignLeft | Qt::AlignAbsolute);
        layout.setTextOption(option);
        layout.setFormats(formats);
        layout.beginLayout();
        line = layout.createLine();
        if (line.isValid())
            line.setLineWidth(std::max(width, 1));
        layout.endLayout();
    }
    QPointF origin(const QRect& rect) const
    {
        return QPointF(rect.left(), rect.top() + (rect.height() - line.height()) / 2);
    }
    QTextLayout layout;
    QTextLine line;
};

QColor markColour()
{
    return QColor(255, 214, 64);
}

QTextCharFormat marked()
{
    QTextCharFormat format;
    format.setBackground(markColour());
    format.setForeground(Qt::black);
    return format;
}

QList<QTextLayout::FormatRange> occurrences(const QString& text, const QString& find,
                                            Qt::CaseSensitivity cs)
{
    QList<QTextLayout::FormatRange> ranges;
    if (find.isEmpty())
        return ranges;
    for (qsizetype at = text.indexOf(find, 0, cs); at >= 0;
         at = text.indexOf(find, at + find.size(), cs))
        ranges.append({int(at), int(find.size()), marked()});
    return ranges;
}

} // namespace

MessageDelegate::MessageDelegate(QObject* parent)
    : QStyledItemDelegate(parent)
{
}

void MessageDelegate::setFindText(const QString& text, Qt::CaseSensitivity cs)
{
    m_findText = text;
    m_findCase = cs;
}

void MessageDelegate::setColumnWidths(int time, int sender)
{
    m_timeWidth = time;
    m_senderWidth = sender;
}

void MessageDelegate::setMarkedField(int message, Field field)
{
    m_markedMessage = message;
    m_markedField = field;
}

std::vector<std::pair<int, int>> MessageDelegate::links(const QString& text)
{
    static const QRegularExpression link(
        QStringLiteral("(?:https?://|www\\.)[^\\s<>\"]+[^\\s<>\".,;:!?)\\]]"),
        QRegularExpression::CaseInsensitiveOption);
    std::vector<std::pair<int, int>> found;
    for (auto it = link.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        found.emplace_back(int(match.capturedStart()), int(match.capturedLength()));
    }
    return found;
}

QRect MessageDelegate::senderRect(const QRect& rowRect) const
{
    return QRect(rowRect.left() + Margin + m_timeWidth, rowRect.top(), m_senderWidth,
                 rowRect.height());
}

QRect MessageDelegate::textRect(const QRect& rowRect) const
{
    const int left = rowRect.left() + Margin + m_timeWidth + m_senderWidth;
    return QRect(left, rowRect.top(), std::max(rowRect.right() - left - Margin, 1),
                 rowRect.height());
}

QRect MessageDelegate::textRangeRect(const QRect& rowRect, const QModelIndex& index, int from,
                                     int to, const QFont& font) const
{
    const QRect rect = textRect(rowRect);
    const OneLine one(index.data(MessageListModel::TextRole).toString(), font, {}, rect.width());
    if (!one.line.isValid())
        return {};
    const qreal a = one.line.cursorToX(from);
    const qreal b = one.line.cursorToX(to);
    return QRectF(rect.left() + std::min(a, b), rect.top(), std::abs(b - a), rect.height())
        .toAlignedRect();
}

QString MessageDelegate::linkAt(const QRect& rowRect, const QModelIndex& index, const QPoint& pos,
                                const QFont& font) const
{
    const QRect rect = textRect(rowRect);
    if (!rect.contains(pos) || index.data(MessageListModel::IsDateRole).toBool())
        return {};
    const QString text = index.data(MessageListModel::TextRole).toString();
    const OneLine one(text, font, {}, rect.width());
    if (!one.line.isValid() || pos.x() - rect.left() > one.line.naturalTextWidth())
        return {};
    const int at = one.line.xToCursor(pos.x() - rect.left(), QTextLine::CursorOnCharacter);
    for (const auto& [start, length] : links(text)) {
        if (at >= start && at < start + length)
            return text.mid(start, length);
    }
    return {};
}

void MessageDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : nullptr;
    painter->save();
    if (index.data(MessageListModel::IsDateRole).toBool()) {
        QFont bold = opt.font;
        bold.setBold(true);
        painter->setFont(bold);
        const QColor grey = opt.palette.color(QPalette::PlaceholderText);
        painter->setPen(grey);
        const QString text = index.data().toString();
        const QRect textBounds =
            painter->fontMetrics().boundingRect(opt.rect, Qt::AlignCenter, text);
        const int y = opt.rect.center().y();
        painter->drawLine(opt.rect.left() + Margin, y, textBounds.left() - 8, y);
        painter->drawLine(textBounds.right() + 8, y, opt.rect.right() - Margin, y);
        painter->drawText(opt.rect, Qt::AlignCenter, text);
        painter->restore();
        return;
    }
    opt.text.clear();
    if (style)
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
    const bool selected = opt.state & QStyle::State_Selected;
    const QColor textColour =
        opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    painter->setFont(opt.font);
    painter->setPen(selected ? textColour : opt.palette.color(QPalette::PlaceholderText));
    const QRect row = opt.rect;
    const int message = index.data(MessageListModel::MessageRole).toInt();
    const bool timeMarked =
        message >= 0 && message == m_markedMessage && m_markedField == Field::Time;
    const bool senderMarked =
        message >= 0 && message == m_markedMessage && m_markedField == Field::Sender;
    const QString time = index.data(MessageListModel::TimeRole).toString();
    const QRect timeRect(row.left() + Margin, row.top(), m_timeWidth, row.height());
    if (timeMarked) {
        const QRect used =
            painter->fontMetrics().boundingRect(timeRect, Qt::AlignLeft | Qt::AlignVCenter, time);
        painter->fillRect(used, markColour());
        painter->setPen(Qt::black);
    }
    painter->drawText(timeRect, Qt::AlignLeft | Qt::AlignVCenter, time);

    auto drawLine = [&](const QRect& rect, const QString& text,
                        QList<QTextLayout::FormatRange> formats, const QFont& font) {
        const OneLine one(text, font, formats, rect.width());
        if (!one.line.isValid())
            return;
        painter->save();
        painter->setClipRect(rect.adjusted(0, 0, -6, 0));
        painter->setPen(textColour);
        one.layout.draw(painter, one.origin(rect));
        painter->restore();
    };
    QFont bold = opt.font;
    bold.setBold(true);
    const QString sender = index.data(MessageListModel::SenderRole).toString();
    drawLine(senderRect(row), sender,
             senderMarked ? QList<QTextLayout::FormatRange>{{0, int(sender.size()), marked()}}
                          : occurrences(sender, m_findText, m_findCase),
             bold);

    const QString text = index.data(MessageListModel::TextRole).toString();
    QList<QTextLayout::FormatRange> formats;
    QTextCharFormat link;
    link.setForeground(selected ? textColour : opt.palette.color(QPalette::Link));
    link.setFontUnderline(true);
    for (const auto& [start, length] : links(text))
        formats.append({start, length, link});
    formats += occurrences(text, m_findText, m_findCase);
    // One line a message: line breaks are drawn as blanks.
    QString line = text;
    for (QChar& c : line) {
        if (c == u'\n' || c == u'\r' || c == u'\t')
            c = u' ';
    }
    drawLine(textRect(row), line, formats, opt.font);
    if (opt.state & QStyle::State_HasFocus) {
        // The current row of the focused view is framed, whatever the style draws: the user
        // sees which message Ctrl+C, Enter and the Menu key act on.
        QPen frame(selected ? textColour : opt.palette.color(QPalette::Highlight));
        frame.setStyle(Qt::DotLine);
        painter->setPen(frame);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(row.adjusted(1, 1, -2, -2));
    }
    painter->restore();
}

QSize MessageDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    QFont bold = option.font;
    bold.setBold(true);
    return QSize(200,
                 std::max(QFontMetrics(option.font).height(), QFontMetrics(bold).height()) + 6);
}

MessageView::MessageView(QWidget* parent)
    : QTableView(parent)
{
    horizontalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    setShowGrid(false);
    setWordWrap(false);
    setTabKeyNavigation(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    updateRowHeight();
}

void MessageView::updateRowHeight()
{
    // The height MessageDelegate::sizeHint gives every row.
    QFont bold = font();
    bold.setBold(true);
    verticalHeader()->setDefaultSectionSize(
        std::max(QFontMetrics(font()).height(), QFontMetrics(bold).height()) + 6);
}

void MessageView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        updateRowHeight();
    QTableView::changeEvent(event);
}

QModelIndex MessageView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    // Home and End go to the first and last row, as in a list.
    if (action == MoveHome || action == MoveEnd)
        modifiers |= Qt::ControlModifier;
    return QTableView::moveCursor(action, modifiers);
}

void MessageView::requestMenuAtCurrent()
{
    QModelIndex current = currentIndex();
    if (!current.isValid() || !viewport()->rect().intersects(visualRect(current)))
        current = {};
    emit menuRequested(current.isValid() ? visualRect(current).center()
                                         : viewport()->rect().center());
}

namespace {

bool isKeyboardMenu(const QEvent* event)
{
    return event->type() == QEvent::ContextMenu
           && static_cast<const QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard;
}

} // namespace

bool MessageView::event(QEvent* event)
{
    // A context menu asked for by the keyboard (the desktop sends one for the Menu key) opens
    // at the current row, not where the mouse happens to be.
    if (isKeyboardMenu(event)) {
        requestMenuAtCurrent();
        return true;
    }
    return QTableView::event(event);
}

bool MessageView::viewportEvent(QEvent* event)
{
    if (isKeyboardMenu(event)) {
        requestMenuAtCurrent();
        return true;
    }
    return QTableView::viewportEvent(event);
}

void MessageView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Menu
        || (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
        requestMenuAtCurrent();
        event->accept();
        return;
    }
    if (event == QKeySequence::Copy) {
        emit copyRequested();
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && event->modifiers() == Qt::NoModifier && currentIndex().isValid()) {
        emit openRequested(currentIndex());
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void MessageView::mouseReleaseEvent(QMouseEvent* event)
{
    QTableView::mouseReleaseEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    auto* delegate = qobject_cast<MessageDelegate*>(itemDelegate());
    if (!index.isValid() || !delegate || event->button() != Qt::LeftButton)
        return;
    const QString link =
        delegate->linkAt(visualRect(index), index, event->position().toPoint(), font());
    if (!link.isEmpty())
        emit linkClicked(link);
}

} // namespace velmoran
