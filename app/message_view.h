#pragma once

#include <QStyledItemDelegate>
#include <QTableView>

#include <utility>
#include <vector>

namespace velmoran {

// Draws a message row (time, sender, text on one line; links and found text marked; the
// current row framed while the view has focus) and a date row.
class MessageDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit MessageDelegate(QObject* parent = nullptr);

    // The text the find bar looks for; its occurrences are marked.
    void setFindText(const QString& text, Qt::CaseSensitivity cs);
    // Widths of the time and sender columns.
    void setColumnWidths(int time, int sender);
    int senderColumnWidth() const { return m_senderWidth; }
    // A field of one message marked whole, as the field a search found it by (its time or its
    // sender, which the find bar does not look in); message -1 marks none.
    enum class Field { Time, Sender };
    void setMarkedField(int message, Field field);
    int markedMessage() const { return m_markedMessage; }

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
    int m_markedMessage = -1;
    Field m_markedField = Field::Time;
    int m_timeWidth = 50;
    int m_senderWidth = 120;
};

// The messages list: Ctrl+C copies the selected messages, Enter opens a shared file, a click on
// a link opens it, Shift+F10 and the Menu key ask for the context menu of the current row. A table
// of one column without headers, as its rows of one fixed height are placed without measuring each:
// chats of any length open and scroll at once.
class MessageView final : public QTableView {
    Q_OBJECT
public:
    explicit MessageView(QWidget* parent = nullptr);

signals:
    void copyRequested();
    void openRequested(const QModelIndex& index);
    void linkClicked(const QString& link);
    // The context menu asked for from the keyboard: pos is the current row's centre (viewport
    // coordinates), as customContextMenuRequested gives a click's.
    void menuRequested(const QPoint& pos);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void updateRowHeight();
    void requestMenuAtCurrent();
};

} // namespace velmoran
