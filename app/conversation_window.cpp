#include "app/conversation_window.h"

#include "app/archive_save.h"
#include "app/clipboard_copy.h"
#include "app/conversation_find.h"
#include "app/conversation_models.h"
#include "app/shared_file_opener.h"
#include "app/thumbnails.h"
#include "chat/message_parts.h"
#include "chat/shared_file_archive.h"
#include "core/application_title.h"
#include "core/platform.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace velmoran {

namespace {

const QLatin1String GeometryKey("ConversationWindow/geometry");
const QLatin1String SplitterKey("ConversationWindow/splitter");

// The conversations as the filter box leaves them; assistive technology reads each row's text
// without the isolate around its name.
class ConversationFilterModel final : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role == Qt::AccessibleTextRole)
            return accessibleText(QSortFilterProxyModel::data(index, Qt::DisplayRole).toString());
        return QSortFilterProxyModel::data(index, role);
    }
};

} // namespace

QString accessibleText(QString text)
{
    text.removeIf([](QChar c) { return c.unicode() >= 0x2066 && c.unicode() <= 0x2069; });
    return text;
}

QString isolatedName(const QString& name)
{
    // Only a name that holds right-to-left letters or direction controls can reorder the text
    // around it.
    const bool mayReorder = std::any_of(name.begin(), name.end(), [](QChar c) {
        switch (c.direction()) {
        case QChar::DirR:
        case QChar::DirAL:
        case QChar::DirAN:
        case QChar::DirRLE:
        case QChar::DirRLO:
        case QChar::DirLRE:
        case QChar::DirLRO:
        case QChar::DirPDF:
        case QChar::DirRLI:
        case QChar::DirLRI:
        case QChar::DirFSI:
        case QChar::DirPDI:
            return true;
        default:
            return false;
        }
    });
    return mayReorder ? QChar(0x2068) + name + QChar(0x2069) : name;
}

ConversationWindow::ConversationWindow(Platform& platform, EventPump& pump, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_platform(platform)
    , m_pump(pump)
{
    setObjectName(QStringLiteral("ConversationWindow"));
    setWindowTitle(applicationTitleFromProductName(QString::fromUtf16(ProductName)));

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
    m_filter->setAccessibleName(tr("Filter conversations"));
    m_filter->setClearButtonEnabled(true);
    m_filter->installEventFilter(this);
    m_noMatch = new QLabel(tr("No conversation matches the filter."), left);
    m_noMatch->setObjectName(QStringLiteral("NoConversationMatches"));
    m_noMatch->setAccessibleName(m_noMatch->text());
    m_noMatch->setWordWrap(true);
    m_noMatch->hide();
    m_conversationModel = new ConversationListModel(this);
    m_conversationFilter = new ConversationFilterModel(this);
    m_conversationFilter->setSourceModel(m_conversationModel);
    m_conversationFilter->setFilterRole(ConversationListModel::FilterRole);
    m_conversationFilter->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_conversations = new QListView(left);
    m_conversations->setObjectName(QStringLiteral("Conversations"));
    m_conversations->setAccessibleName(tr("Conversations"));
    m_conversations->setModel(m_conversationFilter);
    m_conversations->setUniformItemSizes(true);
    m_conversations->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_conversations->setTextElideMode(Qt::ElideRight);
    m_conversations->setEditTriggers(QAbstractItemView::NoEditTriggers);
    leftLayout->addWidget(m_filter);
    leftLayout->addWidget(m_noMatch);
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
    m_thumbnails = new Thumbnails(m_pump, this);
    m_delegate->setThumbnails([this](const FilePart& picture) {
        return m_thumbnails->thumbnail(picture, MessageLayout::thumbnailBox(1 << 20));
    });
    m_messages = new MessageView(right);
    m_messages->setObjectName(QStringLiteral("Messages"));
    m_messages->setAccessibleName(tr("Messages"));
    m_messages->setModel(m_messageModel);
    m_messages->setItemDelegate(m_delegate);
    m_messages->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_messages->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_messages->setContextMenuPolicy(Qt::CustomContextMenu);
    m_messages->setMouseTracking(true);
    m_find = new ConversationFind(*m_messageModel, m_pump, this);
    createFindBar(right);

    m_archiveSave = new ArchiveSave(
        m_platform, m_pump,
        [this] {
            return ArchiveSave::Shown{m_messageModel->history(), currentChat()};
        },
        right);
    addActions({m_archiveSave->saveConversationAction(), m_archiveSave->saveArchiveAction()});
    auto* headerRow = new QHBoxLayout;
    headerRow->addWidget(m_header, 1);
    headerRow->addWidget(m_archiveSave->menuButton());
    rightLayout->addLayout(headerRow);
    rightLayout->addWidget(m_messages, 1);
    rightLayout->addWidget(m_findBar);
    m_opener = new SharedFileOpener(m_platform, m_pump, right);
    rightLayout->addWidget(m_opener);
    rightLayout->addWidget(m_archiveSave);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 3);

    connectControls();
    restoreLayout();
    updateTitle();
}

void ConversationWindow::createFindBar(QWidget* parent)
{
    m_findBar = new QWidget(parent);
    m_findBar->setObjectName(QStringLiteral("FindBar"));
    auto* findLayout = new QHBoxLayout(m_findBar);
    findLayout->setContentsMargins(0, 0, 0, 0);
    m_findText = new QLineEdit(m_findBar);
    m_findText->setObjectName(QStringLiteral("FindText"));
    m_findText->setPlaceholderText(tr("Find in conversation"));
    m_findText->setAccessibleName(tr("Find in conversation"));
    m_findText->setClearButtonEnabled(true);
    m_findText->installEventFilter(this);
    m_matchCase = new QCheckBox(tr("Match case"), m_findBar);
    m_matchCase->setObjectName(QStringLiteral("FindMatchCase"));
    m_matchCase->setAccessibleName(tr("Match case"));
    m_previous = new QToolButton(m_findBar);
    m_previous->setText(tr("Previous"));
    m_previous->setAccessibleName(tr("Previous match"));
    m_previous->setToolTip(tr("Previous match (Shift+F3)"));
    m_next = new QToolButton(m_findBar);
    m_next->setText(tr("Next"));
    m_next->setAccessibleName(tr("Next match"));
    m_next->setToolTip(tr("Next match (F3)"));
    m_findCount = new QLabel(m_findBar);
    m_findCount->setObjectName(QStringLiteral("FindCount"));
    m_findCount->setAccessibleName(tr("Matches"));
    m_findCount->setMinimumWidth(
        m_findCount->fontMetrics().horizontalAdvance(QStringLiteral("000000 of 000000")));
    findLayout->addWidget(m_findText, 1);
    findLayout->addWidget(m_matchCase);
    findLayout->addWidget(m_previous);
    findLayout->addWidget(m_next);
    findLayout->addWidget(m_findCount);
    m_findBar->hide();
}

void ConversationWindow::connectControls()
{
    connect(m_filter, &QLineEdit::textChanged, this, &ConversationWindow::filterChanged);
    connect(m_conversations->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (!m_choosing)
                    chatChosen(current);
            });
    // A row the filter left current is shown once chosen: clicked, or Enter.
    connect(m_conversations, &QAbstractItemView::clicked, this, &ConversationWindow::chatChosen);
    connect(m_conversations, &QAbstractItemView::activated, this, [this](const QModelIndex& row) {
        chatChosen(row);
        m_messages->setFocus(Qt::OtherFocusReason);
    });
    connect(m_findText, &QLineEdit::textChanged, this, &ConversationWindow::findTyped);
    connect(m_matchCase, &QCheckBox::toggled, this, &ConversationWindow::findTyped);
    connect(m_next, &QToolButton::clicked, this, &ConversationWindow::findNext);
    connect(m_previous, &QToolButton::clicked, this, &ConversationWindow::findPrevious);
    connect(m_find, &ConversationFind::progressed, this, [this] {
        showFindCount();
        moveToTypedMatch();
    });
    connect(m_messages->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { showFindCount(); });
    connect(m_thumbnails, &Thumbnails::ready, m_messages->viewport(),
            qOverload<>(&QWidget::update));
    connect(m_messages, &MessageView::copyRequested, this, &ConversationWindow::copySelection);
    connect(m_messages, &MessageView::openRequested, this, [this](const QModelIndex& index) {
        openFile(m_messageModel->messageOfRow(index.row()));
    });
    connect(m_messages, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        openFile(m_messageModel->messageOfRow(index.row()));
    });
    connect(m_messages, &MessageView::linkClicked, this,
            [this](const QUrl& link) { m_platform.shell.openUrl(link); });
    connect(m_messages, &QWidget::customContextMenuRequested, this,
            &ConversationWindow::showMessageMenu);
    connect(m_messages, &MessageView::menuRequested, this, &ConversationWindow::showMessageMenu);

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
    auto* closeWindow = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this);
    connect(closeWindow, &QShortcut::activated, this, &QWidget::close);
}

ConversationWindow::~ConversationWindow() = default;

bool ConversationWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (watched == m_findText && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
        if (key->modifiers() & Qt::ShiftModifier)
            findPrevious();
        else
            findNext();
        return true;
    }
    if (watched == m_filter && key->key() == Qt::Key_Down && key->modifiers() == Qt::NoModifier) {
        // Into the list, on the shown conversation or the first; choosing is Enter or a click.
        if (m_conversationFilter->rowCount() > 0) {
            if (!m_conversations->currentIndex().isValid()) {
                m_choosing = true;
                m_conversations->setCurrentIndex(m_conversationFilter->index(0, 0));
                m_choosing = false;
            }
            m_conversations->setFocus(Qt::TabFocusReason);
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ConversationWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape that no control took (the find bar takes it to close itself) closes the window.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ConversationWindow::setHistory(const ChatHistoryPtr& history)
{
    if (history == m_conversationModel->history())
        return;
    m_choosing = true;
    m_conversationModel->setHistory(history);
    m_thumbnails->setHistory(history);
    m_choosing = false;
    m_messageModel->setChat(history, -1);
    m_delegate->setMarkedField(-1, MessageDelegate::Field::Time);
    refind();
    updateTitle();
}

void ConversationWindow::showMessage(const ChatHistoryPtr& history, int chat, int message,
                                     const QString& findText, Qt::CaseSensitivity cs)
{
    setHistory(history);
    m_delegate->setMarkedField(-1, MessageDelegate::Field::Time);
    if (!findText.isEmpty()) {
        const QSignalBlocker textBlocker(m_findText);
        const QSignalBlocker caseBlocker(m_matchCase);
        m_findText->setText(findText);
        m_matchCase->setChecked(cs == Qt::CaseSensitive);
        m_findBar->show();
    }
    showChatAt(chat, message);
}

void ConversationWindow::showFoundField(const ChatHistoryPtr& history, int chat, int message,
                                        MessageDelegate::Field field)
{
    setHistory(history);
    {
        // The search's text may be one that no message text holds (a date): the find bar
        // would only say "No matches" beside the message found.
        const QSignalBlocker textBlocker(m_findText);
        m_findText->clear();
    }
    m_delegate->setMarkedField(message, field);
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
        if (m_messageModel->chat() != chat)
            m_delegate->setMarkedField(m_delegate->markedMessage() == message ? message : -1,
                                       MessageDelegate::Field::Time);
        m_messageModel->setChat(m_conversationModel->history(), chat);
        updateColumnWidths();
    }
    updateTitle();
    selectMessage(message);
    refind();
    // Ctrl+C, Enter and the Menu key act on the message shown.
    m_messages->setFocus(Qt::OtherFocusReason);
}

void ConversationWindow::chatChosen(const QModelIndex& proxyIndex)
{
    if (!proxyIndex.isValid())
        return;
    const int chat = proxyIndex.data(ConversationListModel::ChatRole).toInt();
    if (chat == currentChat() && m_messageModel->history() == m_conversationModel->history())
        return;
    m_delegate->setMarkedField(-1, MessageDelegate::Field::Time);
    showChat(chat);
}

void ConversationWindow::filterChanged(const QString& text)
{
    // The list changes; the shown conversation stays until a row is chosen.
    m_choosing = true;
    m_conversationFilter->setFilterFixedString(text);
    const QModelIndex shown = m_conversationFilter->mapFromSource(
        m_conversationModel->index(m_conversationModel->rowOfChat(currentChat())));
    if (shown.isValid())
        m_conversations->setCurrentIndex(shown);
    else
        m_conversations->selectionModel()->clear();
    m_choosing = false;
    m_noMatch->setVisible(!text.isEmpty() && m_conversationFilter->rowCount() == 0);
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
    const Qt::CaseSensitivity cs =
        m_matchCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
    m_delegate->setFindText(m_findText->text(), cs);
    m_messages->viewport()->update();
    m_typedFrom = -1;
    m_find->start(m_findText->text(), cs);
    showFindCount();
}

void ConversationWindow::findTyped()
{
    // Find as you type: from the current message on, to the nearest match at or after it.
    const int from = currentMessage();
    refind();
    m_typedFrom = m_findText->text().isEmpty() ? -1 : from;
    moveToTypedMatch();
}

void ConversationWindow::moveToTypedMatch()
{
    if (m_typedFrom < 0)
        return;
    // A message chosen meanwhile wins over the typed text.
    if (currentMessage() != m_typedFrom) {
        m_typedFrom = -1;
        return;
    }
    const int match = m_find->firstAtOrAfter(m_typedFrom);
    if (match < 0 && !m_find->isCounted())
        return;
    m_typedFrom = -1;
    if (match >= 0 && match != currentMessage())
        selectMessage(match);
}

bool ConversationWindow::isCountingMatches() const
{
    return !m_find->isCounted();
}

void ConversationWindow::findNext()
{
    stepTo(m_find->nextAfter(currentMessage()));
}

void ConversationWindow::findPrevious()
{
    stepTo(m_find->previousBefore(currentMessage()));
}

void ConversationWindow::stepTo(int message)
{
    if (message < 0)
        return;
    m_typedFrom = -1;
    selectMessage(message);
    showFindCount();
}

QString ConversationWindow::findCountText() const
{
    return m_findCount->text();
}

void ConversationWindow::showFindCount()
{
    m_find->setCurrentMessage(currentMessage());
    m_findCount->setText(m_find->countText());
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
    // One menu at a time: the desktop may ask for it twice for one key.
    for (const QMenu* open : m_messages->findChildren<QMenu*>()) {
        if (open->isVisible())
            return;
    }
    const QModelIndex index = m_messages->indexAt(pos);
    const int message = index.isValid() ? m_messageModel->messageOfRow(index.row()) : -1;
    auto* menu = new QMenu(m_messages);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* copy = menu->addAction(tr("Copy"), this, &ConversationWindow::copySelection);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(m_messages->selectionModel()->hasSelection());
    QAction* open = menu->addAction(tr("Open File"), this, [this, message] { openFile(message); });
    open->setEnabled(message >= 0 && m_messageModel->message(message).file != nullptr);
    // The message's links, for the keyboard as much as for the mouse.
    if (message >= 0) {
        QList<QUrl> links;
        for (const MessagePart& part : decodeMessageParts(m_messageModel->message(message))) {
            const std::vector<TextLink>* found = nullptr;
            if (const auto* text = std::get_if<TextPart>(&part))
                found = &text->links;
            else if (const auto* quote = std::get_if<QuotePart>(&part))
                found = &quote->links;
            for (const TextLink& link : found ? *found : std::vector<TextLink>()) {
                if (!links.contains(link.url) && links.size() < 5)
                    links << link.url;
            }
        }
        if (!links.isEmpty())
            menu->addSeparator();
        for (const QUrl& url : links) {
            QString shown = withoutFormatCharacters(url.toDisplayString());
            if (shown.size() > 60)
                shown = shown.left(59) + QStringLiteral("\u2026");
            shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
            menu->addAction(tr("Open Link %1").arg(shown), this,
                            [this, url] { m_platform.shell.openUrl(url); });
        }
    }
    menu->addSeparator();
    menu->addActions({m_archiveSave->saveConversationAction(), m_archiveSave->saveArchiveAction()});
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
    const ChatHistoryPtr& history = m_messageModel->history();
    // Measured as the rows show senders: one name per person, the user's own marked.
    auto measure = [&](int from, int to) {
        for (int i = std::max(from, 0); i < std::min(to, count); ++i)
            sender = std::max(sender, boldMetrics.horizontalAdvance(messageSenderLabel(
                                          *history, m_messageModel->message(i))));
    };
    measure(0, 500);
    measure(std::max(500, count - 500), count);
    m_delegate->setColumnWidths(time, std::min(sender, boldMetrics.averageCharWidth() * 24) + 14);
}

void ConversationWindow::updateTitle()
{
    m_archiveSave->updateActions();
    const HistoryChat* chat = m_messageModel->chatData();
    const QString product = applicationTitleFromProductName(QString::fromUtf16(ProductName));
    if (!chat) {
        setWindowTitle(product);
        m_header->clear();
        m_header->setAccessibleName(tr("No conversation chosen"));
        return;
    }
    const QString name = conversationShownName(*m_messageModel->history(), m_messageModel->chat());
    setWindowTitle(name + QStringLiteral(" - ") + product);
    const QString header = isolatedName(name) + conversationHeaderSuffix(*chat);
    m_header->setText(header);
    m_header->setAccessibleName(accessibleText(header));
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

QRect ConversationWindow::withinScreen(const QRect& frame, const QRect& available)
{
    if (!available.isValid())
        return frame;
    QRect fitted(frame.topLeft(), frame.size().boundedTo(available.size()));
    fitted.moveLeft(
        std::clamp(fitted.left(), available.left(), available.right() - fitted.width() + 1));
    fitted.moveTop(
        std::clamp(fitted.top(), available.top(), available.bottom() - fitted.height() + 1));
    return fitted;
}

void ConversationWindow::keepOnScreen()
{
    QScreen* on = screen();
    if (!on)
        return;
    // The frame as the desktop draws it, or as it will once shown: the title bar counts too.
    const QRect frame = frameGeometry();
    const QRect fitted = withinScreen(frame, on->availableGeometry());
    if (fitted == frame)
        return;
    const QSize margins = frame.size() - size();
    resize(fitted.size() - margins);
    move(fitted.topLeft());
}

void ConversationWindow::showEvent(QShowEvent* event)
{
    keepOnScreen();
    QWidget::showEvent(event);
}

void ConversationWindow::closeEvent(QCloseEvent* event)
{
    m_opener->stop();
    m_thumbnails->stop();
    saveLayout();
    QWidget::closeEvent(event);
}

void ConversationWindow::hideEvent(QHideEvent* event)
{
    // Closed or hidden by the program; a minimized window goes on saving.
    if (!event->spontaneous())
        m_archiveSave->windowClosing();
    m_opener->stop();
    m_thumbnails->stop();
    saveLayout();
    QWidget::hideEvent(event);
}

} // namespace velmoran
