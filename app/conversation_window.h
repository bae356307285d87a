#pragma once

#include "app/message_view.h"
#include "chat/chat_history.h"

#include <QListView>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QSplitter;
class QToolButton;

namespace velmoran {

class ArchiveSave;
class ConversationFind;
class ConversationListModel;
class EventPump;
class MessageListModel;
class SharedFileOpener;
class Thumbnails;
struct Platform;

// Reads one conversation of the history at a time: every conversation on the left (filtered by
// the box above it), the chosen one's messages on the right, a find bar under them. Read-only
// and not modal; the program keeps one and shows it again. Escape and Ctrl+W close it.
class ConversationWindow final : public QWidget {
    Q_OBJECT
public:
    ConversationWindow(Platform& platform, EventPump& pump, QWidget* parent = nullptr);
    ~ConversationWindow() override;

    // Shows a message of a chat of history, selected, scrolled into view and with the
    // keyboard focus. findText, when given, is put in the find bar and marked.
    void showMessage(const ChatHistoryPtr& history, int chat, int message,
                     const QString& findText = {}, Qt::CaseSensitivity cs = Qt::CaseSensitive);
    // Shows a message that a search found by its time or its sender, that field marked; the
    // find bar is left without text (the find bar looks in texts and senders only).
    void showFoundField(const ChatHistoryPtr& history, int chat, int message,
                        MessageDelegate::Field field);
    // Shows the history's conversations without choosing one.
    void setHistory(const ChatHistoryPtr& history);
    // Shows a chat of the shown history at its latest message, with the keyboard focus.
    void showChat(int chat);

    // Find bar: the next match after the current message and the previous one before it
    // (wrapping), opening the bar. Typed text moves to the nearest match at or after the
    // current message.
    void findNext();
    void findPrevious();
    void openFindBar();

    // Copies the selected messages to the clipboard.
    void copySelection();
    // Opens the file a message shared, taken from the export that holds it.
    void openFile(int message);

    // The shown chat and the current message (-1 for none).
    int currentChat() const;
    int currentMessage() const;
    // "k of n" as the find bar shows it.
    QString findCountText() const;
    // True while the find text's matches are still being counted (in a long chat the count
    // goes on after the window shows the message, letting window events run).
    bool isCountingMatches() const;

    QLineEdit* filterBox() const { return m_filter; }
    QListView* conversationList() const { return m_conversations; }
    // "No conversation matches", shown while the filter hides every conversation.
    QLabel* noMatchLabel() const { return m_noMatch; }
    QLabel* header() const { return m_header; }
    MessageView* messageView() const { return m_messages; }
    MessageListModel& messageModel() const { return *m_messageModel; }
    MessageDelegate& messageDelegate() const { return *m_delegate; }
    ConversationFind& finder() const { return *m_find; }
    QLineEdit* findText() const { return m_findText; }
    QCheckBox* matchCase() const { return m_matchCase; }
    QWidget* findBar() const { return m_findBar; }
    QSplitter* splitter() const { return m_splitter; }
    // The folder the last file was taken out to, once one has been.
    QString extractFolder() const;
    SharedFileOpener& fileOpener() const { return *m_opener; }
    // "Save Conversation..." and "Save Archive...", with their progress bar.
    ArchiveSave& archiveSave() const { return *m_archiveSave; }

    // A window's frame moved and shrunk to lie within available, as far as it can.
    static QRect withinScreen(const QRect& frame, const QRect& available);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void createFindBar(QWidget* parent);
    void connectControls();
    void showChatAt(int chat, int message);
    void chatChosen(const QModelIndex& proxyIndex);
    void filterChanged(const QString& text);
    void selectMessage(int message);
    void refind();
    void findTyped();
    void moveToTypedMatch();
    void stepTo(int message);
    void showFindCount();
    void updateTitle();
    void saveLayout() const;
    void restoreLayout();
    void keepOnScreen();
    void showMessageMenu(const QPoint& pos);
    void updateColumnWidths();

    Platform& m_platform;
    EventPump& m_pump;
    QSplitter* m_splitter = nullptr;
    QLineEdit* m_filter = nullptr;
    QLabel* m_noMatch = nullptr;
    QListView* m_conversations = nullptr;
    ConversationListModel* m_conversationModel = nullptr;
    QSortFilterProxyModel* m_conversationFilter = nullptr;
    QLabel* m_header = nullptr;
    MessageView* m_messages = nullptr;
    MessageListModel* m_messageModel = nullptr;
    MessageDelegate* m_delegate = nullptr;
    ConversationFind* m_find = nullptr;
    QWidget* m_findBar = nullptr;
    QLineEdit* m_findText = nullptr;
    QCheckBox* m_matchCase = nullptr;
    QToolButton* m_previous = nullptr;
    QToolButton* m_next = nullptr;
    QLabel* m_findCount = nullptr;
    SharedFileOpener* m_opener = nullptr;
    ArchiveSave* m_archiveSave = nullptr;
    Thumbnails* m_thumbnails = nullptr;
    // The message typed text moves on from, until a match at or after it is found; -1 when
    // no move is waiting.
    int m_typedFrom = -1;
    bool m_choosing = false;
};

// A text as assistive technology reads it: without the isolates (U+2066 to U+2069) that keep
// a right-to-left name from reordering what follows it on screen.
QString accessibleText(QString text);
// A name isolated from the text around it (U+2068 … U+2069) when it holds right-to-left
// letters or direction controls, for texts shown on screen; other names as they are.
QString isolatedName(const QString& name);

} // namespace velmoran
