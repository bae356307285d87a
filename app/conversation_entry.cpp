#include "app/conversation_entry.h"

#include "app/contact_list_model.h"
#include "app/conversation_models.h"
#include "app/conversation_window.h"
#include "app/results_model.h"
#include "chat/chat_service.h"
#include "core/dialogs.h"
#include "core/failure.h"
#include "core/platform.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QTimer>

#include <algorithm>

namespace velmoran {

namespace {

// A time of whole seconds (as the legacy database keeps it) matches any time within it.
bool sameTime(qint64 a, qint64 b)
{
    if (a == b)
        return true;
    auto second = [](qint64 ms) { return ms / 1000 - (ms % 1000 < 0 ? 1 : 0); };
    return second(a) == second(b) && (a % 1000 == 0 || b % 1000 == 0);
}

int chatWith(const ChatHistory& history, const QString& handleOrId)
{
    for (size_t i = 0; i < history.chats.size(); ++i) {
        const HistoryChat& chat = history.chats[i];
        if ((!chat.peerHandle.isEmpty() && chat.peerHandle == handleOrId)
            || (!chat.id.isEmpty() && chat.id == handleOrId))
            return int(i);
    }
    return -1;
}

} // namespace

std::optional<MessagePosition> findMessageAgain(const ChatHistory& from, int chat, int message,
                                                const ChatHistoryPtr& in)
{
    if (!in || chat < 0 || size_t(chat) >= from.chats.size())
        return std::nullopt;
    const HistoryChat& oldChat = from.chats[size_t(chat)];
    if (message < 0 || size_t(message) >= oldChat.messages.size())
        return std::nullopt;
    const HistoryMessage& wanted = oldChat.messages[size_t(message)];
    for (size_t c = 0; c < in->chats.size(); ++c) {
        const HistoryChat& candidate = in->chats[c];
        const bool same = !oldChat.peerHandle.isEmpty()
                              ? candidate.peerHandle == oldChat.peerHandle
                              : !oldChat.id.isEmpty() && candidate.id == oldChat.id;
        if (!same)
            continue;
        // Messages are in time order: look only at those within a second of it.
        const auto& messages = candidate.messages;
        auto at =
            std::lower_bound(messages.begin(), messages.end(), wanted.timestampMs - 999,
                             [](const HistoryMessage& m, qint64 t) { return m.timestampMs < t; });
        for (; at != messages.end() && at->timestampMs <= wanted.timestampMs + 999; ++at) {
            if (sameTime(at->timestampMs, wanted.timestampMs) && at->body == wanted.body
                && at->senderDisplayName == wanted.senderDisplayName)
                return MessagePosition{in, int(c), int(at - messages.begin())};
        }
    }
    return std::nullopt;
}

ConversationEntry::ConversationEntry(Platform& platform, EventPump& pump,
                                     ChatServiceFactory& chatServices, Views views, QObject* parent)
    : QObject(parent)
    , m_platform(platform)
    , m_pump(pump)
    , m_chatServices(chatServices)
    , m_views(views)
{
    for (QTableView* view : {m_views.contacts, m_views.results})
        view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_views.contacts, &QWidget::customContextMenuRequested, this,
            &ConversationEntry::contactMenu);
    connect(m_views.results, &QWidget::customContextMenuRequested, this,
            &ConversationEntry::resultsMenu);
    m_views.results->installEventFilter(this);
    m_views.contactModel.setToolTipText([this](int row, int) { return contactToolTip(row); });
    m_views.resultsModel.setToolTipText([this](int row, int) { return resultsToolTip(row); });
    // The window is made, hidden, once the program waits for input, so that the first opening
    // only fills and shows it.
    QTimer::singleShot(0, this, [this] {
        if (!m_window)
            m_window = std::make_unique<ConversationWindow>(m_platform, m_pump);
    });
}

ConversationEntry::~ConversationEntry() = default;

ChatHistoryPtr ConversationEntry::currentHistory()
{
    ChatHistoryPtr history;
    try {
        if (std::unique_ptr<ChatService> service = m_chatServices.create())
            history = service->history();
    } catch (const Failure& failure) {
        m_platform.dialogs.message(failure.description());
    }
    m_known = history;
    return history;
}

ChatHistoryPtr ConversationEntry::knownHistory()
{
    if (ChatHistoryPtr known = m_known.lock())
        return known;
    return currentHistory();
}

ConversationWindow& ConversationEntry::openWindow()
{
    if (!m_window)
        m_window = std::make_unique<ConversationWindow>(m_platform, m_pump);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    return *m_window;
}

void ConversationEntry::showResultsRow(qsizetype row)
{
    ResultsModel& results = m_views.resultsModel;
    if (row < 1 || row > results.size())
        return;
    const MessageRef ref = results.messageRef(row);
    const ChatHistoryPtr source = results.sourceHistory(ref.source);
    if (!ref.isSet() || !source) {
        m_platform.dialogs.message(tr("The message of this row is not known."));
        return;
    }
    const ChatHistoryPtr current = currentHistory();
    std::optional<MessagePosition> position;
    if (current == source)
        position = MessagePosition{current, int(ref.chat), int(ref.message)};
    else
        position = findMessageAgain(*source, int(ref.chat), int(ref.message), current);
    if (!position) {
        m_platform.dialogs.message(tr("The message of this row is no longer in the chat history: "
                                      "the history was read again and no longer holds it."));
        return;
    }
    const MessageField field = results.field(row);
    if (field != MessageField::Body) {
        // Found by its time or its sender: that field is marked, the find bar left alone.
        openWindow().showFoundField(position->history, position->chat, position->message,
                                    field == MessageField::Timestamp
                                        ? MessageDelegate::Field::Time
                                        : MessageDelegate::Field::Sender);
        return;
    }
    const Qt::CaseSensitivity cs =
        m_views.matchCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
    openWindow().showMessage(position->history, position->chat, position->message,
                             m_views.searchText->text(), cs);
}

bool ConversationEntry::showContact(const QString& handle)
{
    const ChatHistoryPtr history = currentHistory();
    const int chat = history ? chatWith(*history, handle) : -1;
    if (chat < 0) {
        m_platform.dialogs.message(
            tr("There is no conversation with \"%1\" in the chat history.").arg(handle));
        return false;
    }
    ConversationWindow& window = openWindow();
    window.setHistory(history);
    window.showChat(chat);
    return true;
}

bool ConversationEntry::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_views.results && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            && m_views.results->currentIndex().isValid()) {
            showResultsRow(m_views.results->currentIndex().row() + 1);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void ConversationEntry::contactMenu(const QPoint& pos)
{
    const QModelIndex index = m_views.contacts->indexAt(pos);
    if (!index.isValid())
        return;
    const QString handle = m_views.contactModel.text(index.row() + 1);
    auto* menu = new QMenu(m_views.contacts);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(showConversationText(), this, [this, handle] { showContact(handle); });
    menu->popup(m_views.contacts->viewport()->mapToGlobal(pos));
}

void ConversationEntry::resultsMenu(const QPoint& pos)
{
    const QModelIndex index = m_views.results->indexAt(pos);
    if (!index.isValid())
        return;
    const int row = index.row() + 1;
    auto* menu = new QMenu(m_views.results);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(showInConversationText(), this, [this, row] { showResultsRow(row); });
    menu->popup(m_views.results->viewport()->mapToGlobal(pos));
}

QString ConversationEntry::contactToolTip(int row)
{
    const QString handle = m_views.contactModel.text(row + 1);
    QString name = handle;
    // The history last seen, or the current one (which the loader keeps between commands).
    if (const ChatHistoryPtr history = knownHistory()) {
        const int chat = chatWith(*history, handle);
        if (chat >= 0)
            name = isolatedName(conversationDisplayName(history->chats[size_t(chat)]));
    }
    return name + QLatin1Char('\n') + m_views.contacts->toolTip();
}

QString ConversationEntry::resultsToolTip(int row) const
{
    const ResultsModel& results = m_views.resultsModel;
    QString text = results.contact(row + 1);
    const MessageRef ref = results.messageRef(row + 1);
    if (const ChatHistoryPtr history = results.sourceHistory(ref.source);
        history && ref.chat < history->chats.size()
        && ref.message < history->chats[ref.chat].messages.size()) {
        const HistoryChat& chat = history->chats[ref.chat];
        const HistoryMessage& message = chat.messages[ref.message];
        text = isolatedName(conversationDisplayName(chat)) + QLatin1Char('\n')
               + localDateTimeText(message.timestampMs) + QStringLiteral(", ")
               + isolatedName(senderOwnName(message));
    }
    return text + QLatin1Char('\n') + m_views.results->toolTip();
}

} // namespace velmoran
