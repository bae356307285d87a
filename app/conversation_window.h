#pragma once

#include "chat/chat_history.h"

#include <QListView>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QWidget>

#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QSplitter;
class QToolButton;

namespace velmoran {

class ConversationListModel;
class EventPump;
class MessageListModel;
class SharedFileOpener;
struct Platform;

// Draws a message row (time, sender, text on one line; links and found text marked) and a
// date row.
class MessageDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit MessageDelegate(QObject* parent = nullptr);

    // The text the find bar looks for; its occurrences are marked.
    void setFindText(const QString& text, Qt::CaseSensitivity cs);
    // Widths of the time and sender columns.
    void setColumnWidths(int time, int sender);

    // Where characters from..to of a message row's text are drawn, for a row drawn in rowRect.
    QRect textRangeRect(const QRect& rowRect, const QModelIndex& index, int from, int to,
                        const QFont& font) const;
    // The link drawn at pos in a message row, or "".
    QString linkAt(const QRect& rowRect, const QModelIndex& index, const QPoint& pos,
                   const QFont& font) const;
    // The links of a text: start and length of each.
    static std::vector<std::pair<int, int>> links(const QString& text);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    QRect textRect(const QRect& rowRect) const;
    QRect senderRect(const QRect& rowRect) const;

    QString m_findText;
    Qt::CaseSensitivity m_findCase = Qt::CaseInsensitive;
    int m_timeWidth = 50;
    int m_senderWidth = 120;
};

// The messages list: Ctrl+C copies the selected messages, Enter opens a shared file, a click on
// a link opens it. A table of one column without headers, as its rows of one fixed height are
// placed without measuring each: chats of any length open and scroll at once.
class MessageView final : public QTableView {
    Q_OBJECT
public:
    explicit MessageView(QWidget* parent = nullptr);

signals:
    void copyRequested();
    void openRequested(const QModelIndex& index);
    void linkClicked(const QString& link);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void changeEvent(QEvent* event) override;

private:
    void updateRowHeight();
};

// Reads one conversation of the history at a time: every conversation on the left (filtered by
// the box above it), the chosen one's messages on the right, a find bar under them. Read-only
// and not modal; the program keeps one and shows it again.
class ConversationWindow final : public QWidget {
    Q_OBJECT
public:
    ConversationWindow(Platform& platform, EventPump& pump, QWidget* parent = nullptr);
    ~ConversationWindow() override;

    // Shows a message of a chat of history, selected and scrolled into view. findText, when
    // given, is put in the find bar and marked.
    void showMessage(const ChatHistoryPtr& history, int chat, int message,
                     const QString& findText = {}, Qt::CaseSensitivity cs = Qt::CaseSensitive);
    // Shows the history's conversations without choosing one.
    void setHistory(const ChatHistoryPtr& history);
    // Shows a chat of the shown history at its latest message.
    void showChat(int chat);

    // Find bar: next and previous match, opening the bar.
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
    bool isCountingMatches() const { return !m_findCounted; }

    QLineEdit* filterBox() const { return m_filter; }
    QListView* conversationList() const { return m_conversations; }
    MessageView* messageView() const { return m_messages; }
    MessageListModel& messageModel() const { return *m_messageModel; }
    MessageDelegate& messageDelegate() const { return *m_delegate; }
    QLineEdit* findText() const { return m_findText; }
    QCheckBox* matchCase() const { return m_matchCase; }
    QWidget* findBar() const { return m_findBar; }
    QSplitter* splitter() const { return m_splitter; }
    // The folder the last file was taken out to, once one has been.
    QString extractFolder() const;
    SharedFileOpener& fileOpener() const { return *m_opener; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showChatAt(int chat, int message);
    void chatChosen(const QModelIndex& proxyIndex);
    void selectMessage(int message);
    void refind();
    void scanMatches(int count);
    bool countMatches();
    void stepMatch(int direction);
    void showFindCount();
    void updateTitle();
    void saveLayout() const;
    void restoreLayout();
    void showMessageMenu(const QPoint& pos);
    void updateColumnWidths();

    Platform& m_platform;
    EventPump& m_pump;
    QSplitter* m_splitter = nullptr;
    QLineEdit* m_filter = nullptr;
    QListView* m_conversations = nullptr;
    ConversationListModel* m_conversationModel = nullptr;
    QSortFilterProxyModel* m_conversationFilter = nullptr;
    QLabel* m_header = nullptr;
    MessageView* m_messages = nullptr;
    MessageListModel* m_messageModel = nullptr;
    MessageDelegate* m_delegate = nullptr;
    QWidget* m_findBar = nullptr;
    QLineEdit* m_findText = nullptr;
    QCheckBox* m_matchCase = nullptr;
    QToolButton* m_previous = nullptr;
    QToolButton* m_next = nullptr;
    QLabel* m_findCount = nullptr;

    // The find text's matches so far, the messages scanned for them, and whether all have
    // been. Each new count has a number of its own, so a count overtaken by another (new text,
    // another chat) while it let events run stops.
    QString m_findString;
    Qt::CaseSensitivity m_findCase = Qt::CaseSensitive;
    std::vector<qint32> m_matches;
    int m_findScanned = 0;
    bool m_findCounted = true;
    unsigned m_findRun = 0;
    qsizetype m_currentMatch = -1;
    bool m_choosing = false;
    SharedFileOpener* m_opener = nullptr;
};

} // namespace velmoran
