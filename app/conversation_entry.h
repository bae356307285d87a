#pragma once

#include "chat/chat_history.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QAbstractItemView;
class QCheckBox;
class QLineEdit;
class QPoint;
class QTableView;

namespace velmoran {

class ChatServiceFactory;
class ContactListModel;
class ConversationWindow;
class EventPump;
class ResultsModel;
struct Platform;

// Where a message is in a history.
struct MessagePosition {
    ChatHistoryPtr history;
    int chat = -1;
    int message = -1;
};

// The same message (same conversation, time, sender and text) in another history, as a
// history read again after its files changed holds it.
std::optional<MessagePosition> findMessageAgain(const ChatHistory& from, int chat, int message,
                                                const ChatHistoryPtr& in);

// The ways from the main window into the conversation window: "Show in Conversation" and Enter
// on a results row, "Show Conversation" on a contact row, a handle named at start-up. Also
// gives the rows of both lists tooltips with the names behind the handles.
class ConversationEntry final : public QObject {
    Q_OBJECT
public:
    struct Views {
        QTableView* contacts;
        ContactListModel& contactModel;
        QTableView* results;
        ResultsModel& resultsModel;
        QLineEdit* searchText;
        QCheckBox* matchCase;
    };
    ConversationEntry(Platform& platform, EventPump& pump, ChatServiceFactory& chatServices,
                      Views views, QObject* parent = nullptr);
    ~ConversationEntry() override;

    // Opens the window at the message of a results row (1-based). Tells the user when the
    // message is no longer in the history.
    void showResultsRow(qsizetype row);
    // Opens the window at the latest message with a contact (handle, or a conversation id).
    // False, having told the user, when there is no such conversation.
    bool showContact(const QString& handle);

    // The window, once it has been opened.
    ConversationWindow* window() const { return m_window.get(); }

    static QString showInConversationText() { return QStringLiteral("Show in Conversation"); }
    static QString showConversationText() { return QStringLiteral("Show Conversation"); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ChatHistoryPtr currentHistory();
    ChatHistoryPtr knownHistory();
    ConversationWindow& openWindow();
    void contactMenu(const QPoint& pos);
    void resultsMenu(const QPoint& pos);
    QString contactToolTip(int row);
    QString resultsToolTip(int row) const;

    Platform& m_platform;
    EventPump& m_pump;
    ChatServiceFactory& m_chatServices;
    Views m_views;
    std::weak_ptr<const ChatHistory> m_known;
    std::unique_ptr<ConversationWindow> m_window;
};

} // namespace velmoran
