#pragma once

#include "app/message_layout.h"

#include <QCache>
#include <QStyledItemDelegate>
#include <QTableView>

#include <functional>
#include <vector>

namespace velmoran {

// Draws a message row (time and sender on its first line, the message whole beside them, wrapped
// to the column: app/message_layout.h; links and found text marked; the current row framed while
// the view has focus) and a date row. Keeps the layouts of the rows lately drawn.
class MessageDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit MessageDelegate(QObject* parent = nullptr);
    ~MessageDelegate() override;

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
    // Thumbnails of pictures; without it pictures show an empty box.
    void setThumbnails(std::function<QImage(const FilePart&)> thumbnail);
    // Forgets the layouts kept: the rows now show other messages.
    void forgetLayouts();

    // The height of a row as wide as rowWidth.
    int rowHeight(const QModelIndex& index, int rowWidth, const QFont& font) const;
    // The width a message's text is laid out in, in a row as wide as rowWidth.
    int textWidth(int rowWidth) const;
    // Where the view should show a row taller than itself: the find text's first match in it, or
    // the marked field (its top); a null rect for neither. Relative to the row's top left.
    QRectF focusRect(const QModelIndex& index, int rowWidth, const QFont& font) const;
    // Where characters from..to of a message's written text are drawn, for a row drawn in
    // rowRect; a null rect when the row shows no such text.
    QRect textRangeRect(const QRect& rowRect, const QModelIndex& index, int from, int to,
                        const QFont& font) const;
    // What lies at pos in a message row drawn in rowRect: a link, a file's "Open", or nothing.
    MessageLayout::Hit hitAt(const QRect& rowRect, const QModelIndex& index, const QPoint& pos,
                             const QFont& font) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    QRect textRect(const QRect& rowRect) const;
    QRect senderRect(const QRect& rowRect) const;
    // The layout of the message a row shows, or null for a date row.
    const MessageLayout* layoutOf(const QModelIndex& index, int width, const QFont& font) const;

    QString m_findText;
    Qt::CaseSensitivity m_findCase = Qt::CaseInsensitive;
    int m_markedMessage = -1;
    Field m_markedField = Field::Time;
    int m_timeWidth = 50;
    int m_senderWidth = 120;
    std::function<QImage(const FilePart&)> m_thumbnail;
    mutable QCache<int, MessageLayout> m_layouts; // by message
};

// The messages list: Ctrl+C copies the selected messages, Enter opens a shared file, a click on
// a link or a file's "Open" opens it, Shift+F10 and the Menu key ask for the context menu of the
// current row; Up, Down, Page Up and Page Down scroll through a message taller than the view
// before they move to the next. A table of one column without headers whose rows are as tall as
// their messages. Only the rows on screen and a screen's height around them are measured; the
// others keep the height they were last given, one line until then, so chats of any length open and
// scroll at once, as chat programs do. Scrolling keeps the first row shown where it is while the
// rows above it get their true heights.
class MessageView final : public QTableView {
    Q_OBJECT
public:
    explicit MessageView(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;
    // Measures a row and those around it, then scrolls it into view; a row taller than the view
    // is scrolled to its first found text (or its top).
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    // Measures the rows on screen again: the columns or the find text changed.
    void refit();

signals:
    void copyRequested();
    void openRequested(const QModelIndex& index);
    void linkClicked(const QUrl& link);
    // The context menu asked for from the keyboard: pos is the current row's centre (viewport
    // coordinates), as customContextMenuRequested gives a click's.
    void menuRequested(const QPoint& pos);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    MessageDelegate* messageDelegate() const;
    void updateRowHeight();
    void requestMenuAtCurrent();
    // Scrolls through the current message when it is taller than the view and key goes on
    // into it; answers whether it did.
    bool readOn(int key);
    void forgetHeights();
    // Gives the rows on screen and a screen's height above and below their true heights.
    void fitRows();
    // Gives a row its true height, if it has not got it for the present width; answers the
    // change.
    int measure(int row);
    // Measures the rows around row: a screen's height above and below.
    void measureAround(int row);

    std::vector<quint32> m_measuredIn; // by row: the measuring it got its height in; 0 for none
    quint32 m_measuring = 1;           // changes when every height must be measured again
    int m_measuredWidth = -1;
    bool m_fitting = false;
};

} // namespace velmoran
