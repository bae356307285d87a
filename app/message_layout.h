#pragma once

#include "chat/chat_history.h"
#include "chat/message_parts.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRectF>
#include <QTextLayout>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

class QPainter;

namespace velmoran {

// How a laid-out message is drawn: its colours, and the find text whose matches are marked.
struct MessageDrawStyle {
    QColor text;
    QColor quiet; // quote headers, calls, events, the edit mark
    QColor link;
    QColor mark; // behind a match
    QString findText;
    Qt::CaseSensitivity findCase = Qt::CaseInsensitive;
    // The thumbnail of a picture, or a null image while there is none (yet).
    std::function<QImage(const FilePart&)> thumbnail;
};

// The text column of a message row: its parts laid out for one width, as the conversation
// window shows them. Each paragraph wraps to the width in its own direction (a right-to-left
// paragraph is aligned and ordered right to left); a quote is an indented block under who
// wrote it and when (local time); calls, deletions and member or topic events are quiet lines;
// a file shows its name and size with an "Open" link, a picture a thumbnail box above that; an
// edited message ends with an "edited" mark. Laid out once; drawn and hit-tested many times.
class MessageLayout {
public:
    MessageLayout(const HistoryMessage& message, const ChatHistory& history, const QFont& font,
                  int width);
    ~MessageLayout();
    MessageLayout(const MessageLayout&) = delete;
    MessageLayout& operator=(const MessageLayout&) = delete;

    int width() const { return m_width; }
    const QFont& font() const { return m_font; }
    int height() const { return m_height; }

    // Draws with the top left corner at origin.
    void draw(QPainter* painter, const QPointF& origin, const MessageDrawStyle& style) const;

    // What lies at pos (relative to the top left corner): a link to open in the browser, the
    // "Open" of a file or its picture, or nothing.
    struct Hit {
        enum class Kind { None, Link, OpenFile } kind = Kind::None;
        QUrl url;
    };
    Hit hitAt(const QPointF& pos) const;

    // Where the first match of text is drawn, relative to the top left corner; a null rect when
    // nothing shown matches.
    QRectF firstMatch(const QString& text, Qt::CaseSensitivity cs) const;
    // Where characters from..to of the message's written text are drawn (the text of a
    // written message, as it is found and copied); a null rect when it shows no such text.
    QRectF writtenTextRect(int from, int to) const;

    // The size of a picture's thumbnail box, for a column of the given width.
    static QSize thumbnailBox(int width);

private:
    struct Block;
    void addText(const QString& text, const std::vector<TextLink>& links, const QFont& font,
                 int kind, int sourceOffset);
    void layOut();

    std::vector<Block> m_blocks;
    QFont m_font;
    int m_width = 0;
    int m_height = 0;
};

} // namespace velmoran
