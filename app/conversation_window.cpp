#include "app/conversation_window.h"

#include "app/clipboard_copy.h"
#include "app/conversation_models.h"
#include "app/shared_file_opener.h"
#include "chat/history_loader.h"
#include "core/dialogs.h"
#include "core/event_pump.h"
#include "core/failure.h"
#include "core/platform.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QRegularExpression>
#include <QSettings>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace velmoran {

namespace {

const int Margin = 4;

// Messages the find bar scans at once: the first piece before the window shows the message
// (all of a usual chat), then pieces between which window events run.
const int FirstFindPiece = 16384;
const int FindPiece = 1024;

const QLatin1String GeometryKey("ConversationWindow/geometry");
const QLatin1String SplitterKey("ConversationWindow/splitter");

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

QList<QTextLayout::FormatRange> occurrences(const QString& text, const QString& find,
                                            Qt::CaseSensitivity cs)
{
    QList<QTextLayout::FormatRange> ranges;
    if (find.isEmpty())
        return ranges;
    QTextCharFormat marked;
    marked.setBackground(QColor(255, 214, 64));
    marked.setForeground(Qt::black);
    for (qsizetype at = text.indexOf(find, 0, cs); at >= 0;
         at = text.indexOf(find, at + find.size(), cs))
        ranges.append({int(at), int(find.size()), marked});
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
    painter->drawText(QRect(row.left() + Margin, row.top(), m_timeWidth, row.height()),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      index.data(MessageListModel::TimeRole).toString());

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
    drawLine(senderRect(row), sender, occurrences(sender, m_findText, m_findCase), bold);

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

void MessageView::keyPressEvent(QKeyEvent* event)
{
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

ConversationWindow::ConversationWindow(Platform& platform, EventPump& pump, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_platform(platform)
    , m_pump(pump)
{
    setObjectName(QStringLiteral("ConversationWindow"));
    setWindowTitle(QStringLiteral("Velmoran"));

    m_splitter = new QSplitter(Qt::Horizontal, this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addWidget(m_splitter);

    auto* left = new QWidget(m_splitter);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    m_filter = new QLineEdit(left);
    m_filter->setObjectName(QStringLiteral("ConversationFilter"));
    m_filter->setPlaceholderText(tr("Filter conversations"));
    m_filter->setClearButtonEnabled(true);
    m_conversationModel = new ConversationListModel(this);
    m_conversationFilter = new QSortFilterProxyModel(this);
    m_conversationFilter->setSourceModel(m_conversationModel);
    m_conversationFilter->setFilterRole(ConversationListModel::FilterRole);
    m_conversationFilter->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_conversations = new QListView(left);
    m_conversations->setObjectName(QStringLiteral("Conversations"));
    m_conversations->setModel(m_conversationFilter);
    m_conversations->setUniformItemSizes(true);
    m_conversations->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_conversations->setTextElideMode(Qt::ElideRight);
    m_conversations->setEditTriggers(QAbstractItemView::NoEditTriggers);
    leftLayout->addWidget(m_filter);
    leftLayout->addWidget(m_conversations);

    auto* right = new QWidget(m_splitter);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    m_header = new QLabel(right);
    m_header->setObjectName(QStringLiteral("ConversationHeader"));
    m_header->setTextFormat(Qt::PlainText);
    QFont headerFont = m_header->font();
    headerFont.setBold(true);
    m_header->setFont(headerFont);
    m_messageModel = new MessageListModel(this);
    m_delegate = new MessageDelegate(this);
    m_messages = new MessageView(right);
    m_messages->setObjectName(QStringLiteral("Messages"));
    m_messages->setModel(m_messageModel);
    m_messages->setItemDelegate(m_delegate);
    m_messages->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_messages->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_messages->setContextMenuPolicy(Qt::CustomContextMenu);
    m_messages->setMouseTracking(true);

    m_findBar = new QWidget(right);
    m_findBar->setObjectName(QStringLiteral("FindBar"));
    auto* findLayout = new QHBoxLayout(m_findBar);
    findLayout->setContentsMargins(0, 0, 0, 0);
    m_findText = new QLineEdit(m_findBar);
    m_findText->setObjectName(QStringLiteral("FindText"));
    m_findText->setPlaceholderText(tr("Find in conversation"));
    m_findText->setClearButtonEnabled(true);
    m_findText->installEventFilter(this);
    m_matchCase = new QCheckBox(tr("Match case"), m_findBar);
    m_matchCase->setObjectName(QStringLiteral("FindMatchCase"));
    m_previous = new QToolButton(m_findBar);
    m_previous->setText(tr("Previous"));
    m_previous->setToolTip(tr("Previous match (Shift+F3)"));
    m_next = new QToolButton(m_findBar);
    m_next->setText(tr("Next"));
    m_next->setToolTip(tr("Next match (F3)"));
    m_findCount = new QLabel(m_findBar);
    m_findCount->setObjectName(QStringLiteral("FindCount"));
    m_findCount->setMinimumWidth(
        m_findCount->fontMetrics().horizontalAdvance(QStringLiteral("000000 of 000000")));
    findLayout->addWidget(m_findText, 1);
    findLayout->addWidget(m_matchCase);
    findLayout->addWidget(m_previous);
    findLayout->addWidget(m_next);
    findLayout->addWidget(m_findCount);
    m_findBar->hide();

    rightLayout->addWidget(m_header);
    rightLayout->addWidget(m_messages, 1);
    rightLayout->addWidget(m_findBar);
    m_opener = new SharedFileOpener(m_platform, m_pump, right);
    rightLayout->addWidget(m_opener);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 3);

    connect(m_filter, &QLineEdit::textChanged, m_conversationFilter,
            &QSortFilterProxyModel::setFilterFixedString);
    connect(m_conversations->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (!m_choosing)
                    chatChosen(current);
            });
    connect(m_findText, &QLineEdit::textChanged, this, [this] { refind(); });
    connect(m_matchCase, &QCheckBox::toggled, this, [this] { refind(); });
    connect(m_next, &QToolButton::clicked, this, &ConversationWindow::findNext);
    connect(m_previous, &QToolButton::clicked, this, &ConversationWindow::findPrevious);
    connect(m_messages, &MessageView::copyRequested, this, &ConversationWindow::copySelection);
    connect(m_messages, &MessageView::openRequested, this, [this](const QModelIndex& index) {
        openFile(m_messageModel->messageOfRow(index.row()));
    });
    connect(m_messages, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        openFile(m_messageModel->messageOfRow(index.row()));
    });
    connect(m_messages, &MessageView::linkClicked, this,
            [this](const QString& link) { m_platform.shell.openUrl(QUrl::fromUserInput(link)); });
    connect(m_messages, &QWidget::customContextMenuRequested, this,
            &ConversationWindow::showMessageMenu);

    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, &ConversationWindow::openFindBar);
    auto* next = new QShortcut(QKeySequence(Qt::Key_F3), this);
    connect(next, &QShortcut::activated, this, &ConversationWindow::findNext);
    auto* previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this);
    connect(previous, &QShortcut::activated, this, &ConversationWindow::findPrevious);
    auto* closeFind = new QShortcut(QKeySequence(Qt::Key_Escape), m_findBar, nullptr, nullptr,
                                    Qt::WidgetWithChildrenShortcut);
    connect(closeFind, &QShortcut::activated, this, [this] {
        m_findBar->hide();
        m_messages->setFocus();
    });

    restoreLayout();
}

ConversationWindow::~ConversationWindow() = default;

bool ConversationWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_findText && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (key->modifiers() & Qt::ShiftModifier)
                findPrevious();
            else
                findNext();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ConversationWindow::setHistory(const ChatHistoryPtr& history)
{
    if (history == m_conversationModel->history())
        return;
    m_choosing = true;
    m_conversationModel->setHistory(history);
    m_choosing = false;
    m_messageModel->setChat(history, -1);
    refind();
    updateTitle();
}

void ConversationWindow::showMessage(const ChatHistoryPtr& history, int chat, int message,
                                     const QString& findText, Qt::CaseSensitivity cs)
{
    setHistory(history);
    if (!findText.isEmpty()) {
        const QSignalBlocker textBlocker(m_findText);
        const QSignalBlocker caseBlocker(m_matchCase);
        m_findText->setText(findText);
        m_matchCase->setChecked(cs == Qt::CaseSensitive);
        m_findBar->show();
    }
    showChatAt(chat, message);
}

void ConversationWindow::showChat(int chat)
{
    const HistoryChat* data = nullptr;
    if (const ChatHistoryPtr& history = m_conversationModel->history();
        history && chat >= 0 && size_t(chat) < history->chats.size())
        data = &history->chats[size_t(chat)];
    showChatAt(chat, data ? int(data->messages.size()) - 1 : -1);
}

void ConversationWindow::showChatAt(int chat, int message)
{
    // A filter that hides the chat gives way.
    int row = m_conversationModel->rowOfChat(chat);
    QModelIndex proxy = m_conversationFilter->mapFromSource(m_conversationModel->index(row));
    if (row >= 0 && !proxy.isValid()) {
        m_filter->clear();
        proxy = m_conversationFilter->mapFromSource(m_conversationModel->index(row));
    }
    m_choosing = true;
    m_conversations->setCurrentIndex(proxy);
    m_conversations->scrollTo(proxy);
    m_choosing = false;
    if (m_messageModel->chat() != chat
        || m_messageModel->history() != m_conversationModel->history()) {
        m_messageModel->setChat(m_conversationModel->history(), chat);
        updateColumnWidths();
    }
    updateTitle();
    selectMessage(message);
    refind();
}

void ConversationWindow::chatChosen(const QModelIndex& proxyIndex)
{
    if (!proxyIndex.isValid())
        return;
    showChat(proxyIndex.data(ConversationListModel::ChatRole).toInt());
}

void ConversationWindow::selectMessage(int message)
{
    const int row = m_messageModel->rowOfMessage(message);
    if (row < 0)
        return;
    const QModelIndex index = m_messageModel->index(row);
    m_messages->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_messages->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

int ConversationWindow::currentChat() const
{
    return m_messageModel->chat();
}

int ConversationWindow::currentMessage() const
{
    const QModelIndex current = m_messages->currentIndex();
    return current.isValid() ? m_messageModel->messageOfRow(current.row()) : -1;
}

void ConversationWindow::refind()
{
    m_findCase = m_matchCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
    m_findString = m_findText->text();
    m_delegate->setFindText(m_findString, m_findCase);
    m_messages->viewport()->update();
    ++m_findRun;
    m_matches.clear();
    m_currentMatch = -1;
    m_findScanned = 0;
    m_findCounted = false;
    scanMatches(FirstFindPiece);
    if (m_findCounted)
        return;
    // A long chat: the window shows the message first, the count follows.
    showFindCount();
    const unsigned run = m_findRun;
    QTimer::singleShot(0, this, [this, run] {
        if (run == m_findRun)
            countMatches();
    });
}

void ConversationWindow::scanMatches(int count)
{
    m_findScanned = m_messageModel->find(m_findString, m_findCase, m_findScanned, count, m_matches);
    if (m_findCounted || m_findScanned < m_messageModel->messageCount())
        return;
    m_findCounted = true;
    const int current = currentMessage();
    const auto at = std::lower_bound(m_matches.begin(), m_matches.end(), current);
    m_currentMatch = at != m_matches.end() && *at == current ? at - m_matches.begin() : -1;
    showFindCount();
}

bool ConversationWindow::countMatches()
{
    // Counts that run at once (a step to the next match during a count) share the position, so
    // whichever finishes, all see the count complete.
    const unsigned run = m_findRun;
    try {
        while (!m_findCounted) {
            scanMatches(FindPiece);
            if (m_findCounted)
                break;
            m_pump.yield();
            if (run != m_findRun)
                return false;
        }
    } catch (const ProgramClosing&) {
        // The program is closing: the count is of no use any more.
        return false;
    }
    return true;
}

void ConversationWindow::findNext()
{
    stepMatch(1);
}

void ConversationWindow::findPrevious()
{
    stepMatch(-1);
}

void ConversationWindow::stepMatch(int direction)
{
    if (!m_findCounted && !countMatches())
        return;
    if (m_matches.empty())
        return;
    const int current = currentMessage();
    qsizetype next;
    if (direction > 0) {
        const auto at = std::upper_bound(m_matches.begin(), m_matches.end(), current);
        next = at == m_matches.end() ? 0 : at - m_matches.begin();
    } else {
        const auto at = std::lower_bound(m_matches.begin(), m_matches.end(), current);
        next =
            at == m_matches.begin() ? qsizetype(m_matches.size()) - 1 : at - m_matches.begin() - 1;
    }
    m_currentMatch = next;
    selectMessage(m_matches[size_t(next)]);
    showFindCount();
}

QString ConversationWindow::findCountText() const
{
    return m_findCount->text();
}

void ConversationWindow::showFindCount()
{
    if (m_findText->text().isEmpty())
        m_findCount->clear();
    else if (!m_findCounted)
        m_findCount->setText(tr("Counting\u2026"));
    else if (m_matches.empty())
        m_findCount->setText(tr("No matches"));
    else
        m_findCount->setText(tr("%1 of %2").arg(m_currentMatch + 1).arg(m_matches.size()));
}

void ConversationWindow::openFindBar()
{
    m_findBar->show();
    m_findText->setFocus();
    m_findText->selectAll();
}

void ConversationWindow::copySelection()
{
    QModelIndexList selected = m_messages->selectionModel()->selectedIndexes();
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    for (const QModelIndex& index : std::as_const(selected)) {
        const int message = m_messageModel->messageOfRow(index.row());
        if (message >= 0)
            lines << m_messageModel->copyLine(message);
    }
    if (lines.isEmpty())
        return;
    SetClipboardText(m_platform.clipboard, lines.join(QLatin1Char('\n')) + QLatin1Char('\n'), 0);
}

QString ConversationWindow::extractFolder() const
{
    return m_opener->lastFolder();
}

void ConversationWindow::openFile(int message)
{
    if (message < 0 || message >= m_messageModel->messageCount())
        return;
    m_opener->open(m_messageModel->history(), m_messageModel->message(message));
}

void ConversationWindow::showMessageMenu(const QPoint& pos)
{
    const QModelIndex index = m_messages->indexAt(pos);
    const int message = index.isValid() ? m_messageModel->messageOfRow(index.row()) : -1;
    auto* menu = new QMenu(m_messages);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* copy = menu->addAction(tr("Copy"), this, &ConversationWindow::copySelection);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(m_messages->selectionModel()->hasSelection());
    QAction* open = menu->addAction(tr("Open File"), this, [this, message] { openFile(message); });
    open->setEnabled(message >= 0 && m_messageModel->message(message).file != nullptr);
    menu->popup(m_messages->viewport()->mapToGlobal(pos));
}

void ConversationWindow::updateColumnWidths()
{
    const QFontMetrics fm(m_messages->font());
    QFont bold = m_messages->font();
    bold.setBold(true);
    const QFontMetrics boldMetrics(bold);
    const int time =
        fm.horizontalAdvance(QLocale().toString(QTime(23, 59), QLocale::ShortFormat)) + 14;
    // The widest sender among the first and last messages; long chats have few senders.
    int sender = boldMetrics.horizontalAdvance(QStringLiteral("Somebody"));
    const int count = m_messageModel->messageCount();
    auto measure = [&](int from, int to) {
        for (int i = std::max(from, 0); i < std::min(to, count); ++i)
            sender = std::max(sender, boldMetrics.horizontalAdvance(
                                          messageSenderName(m_messageModel->message(i))));
    };
    measure(0, 500);
    measure(std::max(500, count - 500), count);
    m_delegate->setColumnWidths(time, std::min(sender, boldMetrics.averageCharWidth() * 24) + 14);
}

void ConversationWindow::updateTitle()
{
    const HistoryChat* chat = m_messageModel->chatData();
    const QString product = QStringLiteral("Velmoran");
    if (!chat) {
        setWindowTitle(product);
        m_header->clear();
        return;
    }
    const QString name = conversationDisplayName(*chat);
    setWindowTitle(name + QStringLiteral(" - ") + product);
    QString header = name;
    if (chat->kind == ConversationKind::Group)
        header += tr("  (group, %1 members)").arg(chat->members.size());
    else if (chat->kind == ConversationKind::Bot)
        header += tr("  (bot)");
    m_header->setText(header);
}

void ConversationWindow::saveLayout() const
{
    QSettings settings;
    settings.setValue(GeometryKey, saveGeometry());
    settings.setValue(SplitterKey, m_splitter->saveState());
}

void ConversationWindow::restoreLayout()
{
    QSettings settings;
    if (!restoreGeometry(settings.value(GeometryKey).toByteArray()))
        resize(900, 600);
    if (!m_splitter->restoreState(settings.value(SplitterKey).toByteArray()))
        m_splitter->setSizes({260, 640});
}

void ConversationWindow::closeEvent(QCloseEvent* event)
{
    m_opener->stop();
    saveLayout();
    QWidget::closeEvent(event);
}

void ConversationWindow::hideEvent(QHideEvent* event)
{
    m_opener->stop();
    saveLayout();
    QWidget::hideEvent(event);
}

} // namespace velmoran
