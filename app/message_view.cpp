#include "app/message_view.h"

#include "app/conversation_models.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScopedValueRollback>
#include <QScrollBar>

#include <algorithm>

namespace velmoran {

namespace {

const int Margin = 4;
const int Padding = 3; // above and below a message

QColor markColour()
{
    return QColor(255, 214, 64);
}

int lineHeight(const QFont& font)
{
    QFont bold = font;
    bold.setBold(true);
    return std::max(QFontMetrics(font).height(), QFontMetrics(bold).height());
}

} // namespace

MessageDelegate::MessageDelegate(QObject* parent)
    : QStyledItemDelegate(parent)
    , m_layouts(400)
{
}

MessageDelegate::~MessageDelegate() = default;

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

void MessageDelegate::setThumbnails(std::function<QImage(const FilePart&)> thumbnail)
{
    m_thumbnail = std::move(thumbnail);
}

void MessageDelegate::forgetLayouts()
{
    m_layouts.clear();
}

QRect MessageDelegate::senderRect(const QRect& rowRect) const
{
    return QRect(rowRect.left() + Margin + m_timeWidth, rowRect.top() + Padding, m_senderWidth,
                 rowRect.height() - 2 * Padding);
}

int MessageDelegate::textWidth(int rowWidth) const
{
    return std::max(rowWidth - 2 * Margin - m_timeWidth - m_senderWidth, 20);
}

QRect MessageDelegate::textRect(const QRect& rowRect) const
{
    const int left = rowRect.left() + Margin + m_timeWidth + m_senderWidth;
    return QRect(left, rowRect.top() + Padding, textWidth(rowRect.width()),
                 rowRect.height() - 2 * Padding);
}

const MessageLayout* MessageDelegate::layoutOf(const QModelIndex& index, int width,
                                               const QFont& font) const
{
    const auto* model = qobject_cast<const MessageListModel*>(index.model());
    const int message = model ? model->messageOfRow(index.row()) : -1;
    if (message < 0 || !model->history())
        return nullptr;
    const MessageLayout* layout = m_layouts.object(message);
    if (layout && layout->width() == width && layout->font() == font)
        return layout;
    auto* made = new MessageLayout(model->message(message), *model->history(), font, width);
    m_layouts.insert(message, made);
    return made;
}

int MessageDelegate::rowHeight(const QModelIndex& index, int rowWidth, const QFont& font) const
{
    const int line = lineHeight(font) + 2 * Padding;
    const MessageLayout* layout = layoutOf(index, textWidth(rowWidth), font);
    return layout ? std::max(line, layout->height() + 2 * Padding) : line;
}

QRectF MessageDelegate::focusRect(const QModelIndex& index, int rowWidth, const QFont& font) const
{
    const auto* model = qobject_cast<const MessageListModel*>(index.model());
    if (model && m_markedMessage >= 0 && model->messageOfRow(index.row()) == m_markedMessage)
        return QRectF(0, 0, rowWidth, lineHeight(font) + 2 * Padding);
    const MessageLayout* layout = layoutOf(index, textWidth(rowWidth), font);
    const QRectF match = layout ? layout->firstMatch(m_findText, m_findCase) : QRectF();
    if (match.isNull())
        return {};
    return match.translated(Margin + m_timeWidth + m_senderWidth, Padding);
}

QRect MessageDelegate::textRangeRect(const QRect& rowRect, const QModelIndex& index, int from,
                                     int to, const QFont& font) const
{
    const QRect rect = textRect(rowRect);
    const MessageLayout* layout = layoutOf(index, rect.width(), font);
    const QRectF range = layout ? layout->writtenTextRect(from, to) : QRectF();
    return range.isNull() ? QRect() : range.translated(rect.topLeft()).toAlignedRect();
}

MessageLayout::Hit MessageDelegate::hitAt(const QRect& rowRect, const QModelIndex& index,
                                          const QPoint& pos, const QFont& font) const
{
    const QRect rect = textRect(rowRect);
    const MessageLayout* layout = layoutOf(index, rect.width(), font);
    if (!layout)
        return {};
    return layout->hitAt(QPointF(pos - rect.topLeft()));
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
    const QColor quiet = selected ? textColour : opt.palette.color(QPalette::PlaceholderText);
    painter->setFont(opt.font);
    const QRect row = opt.rect;
    const int firstLine = lineHeight(opt.font);
    const int message = index.data(MessageListModel::MessageRole).toInt();
    const bool timeMarked =
        message >= 0 && message == m_markedMessage && m_markedField == Field::Time;
    const bool senderMarked =
        message >= 0 && message == m_markedMessage && m_markedField == Field::Sender;

    // Time and sender on the message's first line; the sender's name cut with "…".
    const QString time = index.data(MessageListModel::TimeRole).toString();
    const QRect timeRect(row.left() + Margin, row.top() + Padding, m_timeWidth, firstLine);
    painter->setPen(quiet);
    if (timeMarked) {
        const QRect used =
            painter->fontMetrics().boundingRect(timeRect, Qt::AlignLeft | Qt::AlignVCenter, time);
        painter->fillRect(used, markColour());
        painter->setPen(Qt::black);
    }
    painter->drawText(timeRect, Qt::AlignLeft | Qt::AlignVCenter, time);
    QFont bold = opt.font;
    bold.setBold(true);
    painter->setFont(bold);
    const QRect senderBox = senderRect(row).adjusted(0, 0, -6, 0);
    const QString sender = painter->fontMetrics().elidedText(
        index.data(MessageListModel::SenderRole).toString(), Qt::ElideRight, senderBox.width());
    const QRect senderLine(senderBox.left(), senderBox.top(), senderBox.width(), firstLine);
    const QRect used = painter->fontMetrics().boundingRect(
        senderLine, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, sender);
    if (senderMarked) {
        painter->fillRect(used, markColour());
    } else if (!m_findText.isEmpty()) {
        // Matches in the name the row shows.
        for (qsizetype at = sender.indexOf(m_findText, 0, m_findCase); at >= 0;
             at = sender.indexOf(m_findText, at + m_findText.size(), m_findCase)) {
            const QFontMetrics metrics = painter->fontMetrics();
            const int x = metrics.horizontalAdvance(sender.left(at));
            painter->fillRect(QRect(used.left() + x, used.top(),
                                    metrics.horizontalAdvance(sender.mid(at, m_findText.size())),
                                    used.height()),
                              markColour());
        }
    }
    painter->setPen(senderMarked ? QColor(Qt::black) : textColour);
    painter->drawText(senderLine, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, sender);
    painter->setFont(opt.font);

    const QRect text = textRect(row);
    if (const MessageLayout* layout = layoutOf(index, text.width(), opt.font)) {
        MessageDrawStyle drawStyle;
        drawStyle.text = textColour;
        drawStyle.quiet = quiet;
        drawStyle.link = selected ? textColour : opt.palette.color(QPalette::Link);
        drawStyle.mark = markColour();
        drawStyle.findText = m_findText;
        drawStyle.findCase = m_findCase;
        drawStyle.thumbnail = m_thumbnail;
        painter->save();
        painter->setClipRect(text.adjusted(0, -Padding, 0, Padding));
        layout->draw(painter, text.topLeft(), drawStyle);
        painter->restore();
    }
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

QSize MessageDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const int width = option.widget ? option.widget->width() : option.rect.width();
    return QSize(200, rowHeight(index, width, option.font));
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
    setWordWrap(true);
    setTabKeyNavigation(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    updateRowHeight();
}

MessageDelegate* MessageView::messageDelegate() const
{
    return qobject_cast<MessageDelegate*>(itemDelegate());
}

void MessageView::setModel(QAbstractItemModel* model)
{
    if (this->model())
        disconnect(this->model(), nullptr, this, nullptr);
    QTableView::setModel(model);
    if (!model)
        return;
    connect(model, &QAbstractItemModel::modelReset, this, &MessageView::forgetHeights);
    connect(model, &QAbstractItemModel::layoutChanged, this, &MessageView::forgetHeights);
    connect(model, &QAbstractItemModel::rowsInserted, this, &MessageView::forgetHeights);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &MessageView::forgetHeights);
    forgetHeights();
}

void MessageView::forgetHeights()
{
    if (MessageDelegate* delegate = messageDelegate())
        delegate->forgetLayouts();
    m_measuredIn.assign(size_t(model() ? model()->rowCount() : 0), 0);
    ++m_measuring;
}

void MessageView::updateRowHeight()
{
    // Rows not measured yet are one line high.
    verticalHeader()->setDefaultSectionSize(lineHeight(font()) + 2 * Padding);
    // A wheel step is three lines, whatever the number of rows.
    verticalScrollBar()->setSingleStep(lineHeight(font()));
    ++m_measuring;
}

void MessageView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) {
        updateRowHeight();
        if (MessageDelegate* delegate = messageDelegate())
            delegate->forgetLayouts();
    }
    QTableView::changeEvent(event);
}

namespace {

// While rows are measured in a batch, the header does not work out each row's position (a walk
// over every row of the chat) after each one.
class HeaderBatch {
public:
    explicit HeaderBatch(QHeaderView* header)
        : m_header(header)
        , m_enabled(header->updatesEnabled())
    {
        m_header->setUpdatesEnabled(false);
    }
    ~HeaderBatch() { m_header->setUpdatesEnabled(m_enabled); }
    HeaderBatch(const HeaderBatch&) = delete;
    HeaderBatch& operator=(const HeaderBatch&) = delete;

private:
    QHeaderView* m_header;
    bool m_enabled;
};

} // namespace

int MessageView::measure(int row)
{
    MessageDelegate* delegate = messageDelegate();
    if (!delegate || row < 0 || size_t(row) >= m_measuredIn.size()
        || m_measuredIn[size_t(row)] == m_measuring)
        return 0;
    m_measuredIn[size_t(row)] = m_measuring;
    QHeaderView* header = verticalHeader();
    const int old = header->sectionSize(row);
    const int height = delegate->rowHeight(model()->index(row, 0), viewport()->width(), font());
    if (height != old)
        header->resizeSection(row, height);
    return height - old;
}

void MessageView::measureAround(int row)
{
    const HeaderBatch batch(verticalHeader());
    const int screen = viewport()->height();
    for (int r = row, y = 0; r >= 0 && y < screen; --r) {
        measure(r);
        y += rowHeight(r);
    }
    for (int r = row + 1, y = 0, rows = int(m_measuredIn.size()); r < rows && y < screen; ++r) {
        measure(r);
        y += rowHeight(r);
    }
}

void MessageView::refit()
{
    ++m_measuring;
    fitRows();
}

void MessageView::fitRows()
{
    MessageDelegate* delegate = messageDelegate();
    if (m_fitting || !delegate || m_measuredIn.empty())
        return;
    const QScopedValueRollback fitting(m_fitting, true);
    if (const int width = delegate->textWidth(viewport()->width()); width != m_measuredWidth) {
        m_measuredWidth = width;
        ++m_measuring;
    }
    const int screen = viewport()->height();
    for (int pass = 0; pass < 3; ++pass) {
        const int first = rowAt(0);
        if (first < 0)
            return;
        // Rows above the first one shown change the height of what is above it, which the
        // scroll position makes up for; those below only move what follows them.
        int above = 0;
        bool changed = false;
        {
            const int firstTop = rowViewportPosition(first);
            const HeaderBatch batch(verticalHeader());
            for (int r = first - 1, y = 0; r >= 0 && y < screen; --r) {
                above += measure(r);
                y += rowHeight(r);
            }
            changed = above != 0;
            for (int r = first, y = firstTop, rows = int(m_measuredIn.size());
                 r < rows && y < 2 * screen; ++r) {
                changed |= measure(r) != 0;
                y += rowHeight(r);
            }
        }
        if (!changed)
            return;
        updateGeometries();
        if (above != 0)
            verticalScrollBar()->setValue(verticalScrollBar()->value() + above);
    }
}

void MessageView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    MessageDelegate* delegate = messageDelegate();
    if (!index.isValid() || !delegate || m_measuredIn.empty()) {
        QTableView::scrollTo(index, hint);
        return;
    }
    {
        const QScopedValueRollback fitting(m_fitting, true);
        if (const int width = delegate->textWidth(viewport()->width()); width != m_measuredWidth) {
            m_measuredWidth = width;
            ++m_measuring;
        }
        measureAround(index.row());
        updateGeometries();
        const int row = index.row();
        const int height = rowHeight(row);
        const int screen = viewport()->height();
        const int top = rowViewportPosition(row) + verticalOffset();
        if (height <= screen) {
            QTableView::scrollTo(index, hint);
        } else {
            // A message taller than the view: its found text in the middle, else its top,
            // unless it already fills the view and nothing in it is to be shown.
            const QRectF focus = delegate->focusRect(index, viewport()->width(), font());
            const int shownTop = verticalOffset();
            const bool covers = top <= shownTop && top + height >= shownTop + screen;
            if (!focus.isNull())
                verticalScrollBar()->setValue(top + int(focus.center().y()) - screen / 2);
            else if (!(hint == EnsureVisible && covers))
                verticalScrollBar()->setValue(top);
        }
    }
    fitRows();
}

void MessageView::resizeEvent(QResizeEvent* event)
{
    // The view is already its new size here; the message the keys act on, shown before, stays
    // in view when the view gets smaller (the find bar opens below it).
    const QModelIndex current = currentIndex();
    const int oldHeight =
        viewport()->height() - (event->size().height() - event->oldSize().height());
    const QRect rect = current.isValid() ? visualRect(current) : QRect();
    const bool wasWhole = rect.isValid() && rect.top() >= 0 && rect.bottom() < oldHeight;
    QTableView::resizeEvent(event);
    fitRows();
    if (wasWhole && visualRect(current).bottom() >= viewport()->height())
        scrollTo(current);
}

void MessageView::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    fitRows();
}

QModelIndex MessageView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    // Home and End go to the first and last row, as in a list.
    if (action == MoveHome || action == MoveEnd)
        modifiers |= Qt::ControlModifier;
    // A page from the current row's end (or beginning): the table measures from its top, which
    // for a row taller than the view lies inside that same row.
    const QModelIndex current = currentIndex();
    const int rows = model() ? model()->rowCount() : 0;
    if ((action == MovePageDown || action == MovePageUp) && current.isValid() && rows > 0) {
        const QRect row = visualRect(current);
        const int screen = viewport()->height();
        int to = -1;
        if (action == MovePageDown) {
            to = rowAt(std::max(row.bottom() + 1, 0) + screen - 1);
            to = to < 0 ? rows - 1 : std::max(to, std::min(current.row() + 1, rows - 1));
        } else {
            to = rowAt(std::min(row.top(), screen) - screen);
            to = to < 0 ? 0 : std::min(to, std::max(current.row() - 1, 0));
        }
        return model()->index(to, current.column());
    }
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
    if (event->modifiers() == Qt::NoModifier && readOn(event->key())) {
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

bool MessageView::readOn(int key)
{
    // A message taller than the view is read with the keys that move between messages: they
    // scroll through it first, and move on once its end (or beginning) is in view.
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return false;
    const QRect row = visualRect(current);
    const int screen = viewport()->height();
    QScrollBar* bar = verticalScrollBar();
    const int line = 3 * bar->singleStep();
    const int page = std::max(bar->pageStep() - bar->singleStep(), line);
    int by = 0;
    if ((key == Qt::Key_Down || key == Qt::Key_PageDown) && row.top() < screen
        && row.bottom() >= screen)
        by = std::min(key == Qt::Key_Down ? line : page, row.bottom() - screen + 1);
    else if ((key == Qt::Key_Up || key == Qt::Key_PageUp) && row.bottom() >= 0 && row.top() < 0)
        by = -std::min(key == Qt::Key_Up ? line : page, -row.top());
    if (by == 0)
        return false;
    bar->setValue(bar->value() + by);
    return true;
}

void MessageView::mouseReleaseEvent(QMouseEvent* event)
{
    QTableView::mouseReleaseEvent(event);
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    MessageDelegate* delegate = messageDelegate();
    if (!index.isValid() || !delegate || event->button() != Qt::LeftButton)
        return;
    const MessageLayout::Hit hit = delegate->hitAt(visualRect(index), index, pos, font());
    if (hit.kind == MessageLayout::Hit::Kind::Link)
        emit linkClicked(hit.url);
    else if (hit.kind == MessageLayout::Hit::Kind::OpenFile)
        emit openRequested(index);
}

void MessageView::mouseMoveEvent(QMouseEvent* event)
{
    QTableView::mouseMoveEvent(event);
    // A hand over what a click opens.
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    MessageDelegate* delegate = messageDelegate();
    const bool opens = index.isValid() && delegate
                       && delegate->hitAt(visualRect(index), index, pos, font()).kind
                              != MessageLayout::Hit::Kind::None;
    viewport()->setCursor(opens ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

} // namespace velmoran
