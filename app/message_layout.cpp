#include "app/message_layout.h"

#include "app/conversation_models.h"
#include "chat/person_names.h"
#include "chat/shared_file_archive.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QLocale>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace velmoran {

namespace {

constexpr qreal QuoteIndent = 12;
constexpr qreal BlockGap = 3;

QString tr(const char* text)
{
    return QCoreApplication::translate("velmoran::ConversationWindow", text);
}

template <class... Ts> struct Visitor : Ts... {
    using Ts::operator()...;
};
template <class... Ts> Visitor(Ts...) -> Visitor<Ts...>;

QTextCharFormat linkFormat(const QColor& colour)
{
    QTextCharFormat format;
    format.setForeground(colour);
    format.setFontUnderline(true);
    return format;
}

} // namespace

struct MessageLayout::Block {
    enum Kind { Written, QuoteHeader, QuoteText, Quiet, File };
    int kind = Written;
    QString text;           // as laid out
    qsizetype findable = 0; // text[0, findable) is the message's own, which find looks in
    std::vector<TextLink> links;
    qsizetype openFrom = -1;   // the "Open" of a file
    qsizetype editedFrom = -1; // the edit mark
    int sourceOffset = -1;     // Written: where text starts in the message's written text
    FilePart file;
    QRectF picture; // the thumbnail box of a picture
    QFont font;
    std::unique_ptr<QTextLayout> layout;
    QPointF at; // where the text is drawn
    qreal height = 0;

    bool quoted() const { return kind == QuoteHeader || kind == QuoteText; }
    // Where characters from..to are drawn (the part on the line of from), relative to at.
    QRectF rangeRect(qsizetype from, qsizetype to) const
    {
        const QTextLine line = layout->lineForTextPosition(int(from));
        if (!line.isValid())
            return {};
        const qsizetype end = std::min<qsizetype>(to, line.textStart() + line.textLength());
        const qreal a = line.cursorToX(int(from));
        const qreal b = line.cursorToX(int(std::max(end, from)));
        return QRectF(std::min(a, b), line.y(), std::max(std::abs(b - a), 1.0), line.height());
    }
};

QSize MessageLayout::thumbnailBox(int width)
{
    return QSize(std::clamp(width, 1, 240), 160);
}

void MessageLayout::addText(const QString& text, const std::vector<TextLink>& links,
                            const QFont& font, int kind, int sourceOffset)
{
    // One block a paragraph, so that each takes its own direction.
    qsizetype start = 0;
    while (true) {
        qsizetype end = text.indexOf(u'\n', start);
        const bool last = end < 0;
        if (last)
            end = text.size();
        Block block;
        block.kind = kind;
        block.text = text.sliced(start, end - start);
        if (block.text.endsWith(u'\r'))
            block.text.chop(1);
        block.text.replace(u'\t', u' ');
        block.findable = block.text.size();
        for (const TextLink& link : links) {
            if (link.start >= start && link.start + link.length <= start + block.text.size())
                block.links.push_back({link.start - start, link.length, link.url});
        }
        block.sourceOffset = sourceOffset < 0 ? -1 : sourceOffset + int(start);
        block.font = font;
        m_blocks.push_back(std::move(block));
        if (last)
            break;
        start = end + 1;
    }
}

MessageLayout::MessageLayout(const HistoryMessage& message, const ChatHistory& history,
                             const QFont& font, int width)
    : m_font(font)
    , m_width(std::max(width, 20))
{
    const std::vector<MessagePart> parts = decodeMessageParts(message);
    const PersonName nameOf = [&history](const QString& id) { return personName(history, id); };
    QFont small = font;
    small.setPointSizeF(font.pointSizeF() > 0 ? font.pointSizeF() * 0.9 : font.pointSizeF());
    if (font.pointSizeF() <= 0 && font.pixelSize() > 0)
        small.setPixelSize(std::max(1, font.pixelSize() * 9 / 10));
    QFont italic = font;
    italic.setItalic(true);
    int written = 0; // where the next written text starts in the message's written text
    for (const MessagePart& part : parts) {
        std::visit(
            Visitor{
                [&](const TextPart& text) {
                    addText(text.text, text.links, font, Block::Written, written);
                    written += int(text.text.size());
                },
                [&](const QuotePart& quote) {
                    QStringList header;
                    if (!quote.authorId.isEmpty() || !quote.authorName.isEmpty())
                        header << withoutFormatCharacters(
                            partPersonName(message, quote.authorId, quote.authorName, nameOf));
                    if (quote.timeMs >= 0)
                        header << localDateTimeText(quote.timeMs);
                    if (header.isEmpty())
                        header << tr("Quote");
                    addText(header.join(QStringLiteral(", ")), {}, small, Block::QuoteHeader, -1);
                    addText(quote.text, quote.links, font, Block::QuoteText, -1);
                },
                [&](const FilePart& file) {
                    Block block;
                    block.kind = Block::File;
                    block.file = file;
                    QString name = withoutFormatCharacters(file.fileName);
                    if (name.isEmpty())
                        name = file.picture ? tr("Picture") : tr("Shared file");
                    block.text = name;
                    block.findable = name.size();
                    if (file.size >= 0)
                        block.text +=
                            QStringLiteral(" \u00b7 ") + QLocale().formattedDataSize(file.size);
                    // "Open" where the message names a file that can be looked for.
                    if (message.file) {
                        block.text += QStringLiteral("\u2003");
                        block.openFrom = block.text.size();
                        block.text += tr("Open");
                    }
                    block.font = font;
                    m_blocks.push_back(std::move(block));
                },
                [&](const EditedPart&) {
                    auto last =
                        std::find_if(m_blocks.rbegin(), m_blocks.rend(), [](const Block& b) {
                            return b.kind == Block::Written || b.kind == Block::File;
                        });
                    if (last == m_blocks.rend()) {
                        addText(QString(), {}, italic, Block::Quiet, -1);
                        last = m_blocks.rbegin();
                    }
                    // Before a file's "Open", which stays last.
                    const QString open =
                        last->openFrom >= 0 ? last->text.mid(last->openFrom - 1) : QString();
                    if (last->openFrom >= 0)
                        last->text.truncate(last->openFrom - 1);
                    last->text += QStringLiteral("\u2002");
                    last->editedFrom = last->text.size();
                    last->text += tr("edited");
                    if (last->openFrom >= 0) {
                        last->openFrom = last->text.size() + 1;
                        last->text += open;
                    }
                },
                [&](const auto& event) {
                    addText(messagePlainText(message, {MessagePart(event)}, nameOf), {}, italic,
                            Block::Quiet, -1);
                },
            },
            part);
    }
    if (m_blocks.empty())
        addText(tr("(no text)"), {}, italic, Block::Quiet, -1);
    layOut();
}

MessageLayout::~MessageLayout() = default;

void MessageLayout::layOut()
{
    qreal y = 0;
    for (size_t i = 0; i < m_blocks.size(); ++i) {
        Block& block = m_blocks[i];
        if (i > 0 && m_blocks[i - 1].quoted() != block.quoted())
            y += BlockGap;
        const qreal indent = block.quoted() ? QuoteIndent : 0;
        const qreal width = std::max<qreal>(m_width - indent, 10);
        if (block.kind == Block::File && block.file.picture) {
            const QSize box = thumbnailBox(int(width));
            block.picture = QRectF(indent, y, box.width(), box.height());
            y += box.height() + BlockGap;
        }
        block.layout = std::make_unique<QTextLayout>(block.text, block.font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        const bool rightToLeft = block.text.isRightToLeft();
        option.setTextDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
        option.setAlignment((rightToLeft ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignAbsolute);
        block.layout->setTextOption(option);
        // Underlines and the quieter edit mark are part of the layout; colours come when drawn.
        QList<QTextLayout::FormatRange> formats;
        QTextCharFormat underline;
        underline.setFontUnderline(true);
        for (const TextLink& link : block.links)
            formats.append({int(link.start), int(link.length), underline});
        if (block.openFrom >= 0)
            formats.append(
                {int(block.openFrom), int(block.text.size() - block.openFrom), underline});
        block.layout->setFormats(formats);
        block.layout->setCacheEnabled(true);
        block.layout->beginLayout();
        qreal height = 0;
        while (true) {
            QTextLine line = block.layout->createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(width);
            line.setPosition(QPointF(0, height));
            height += line.height();
        }
        block.layout->endLayout();
        block.at = QPointF(indent, y);
        block.height = height;
        y += height;
    }
    m_height = int(std::ceil(y));
}

void MessageLayout::draw(QPainter* painter, const QPointF& origin,
                         const MessageDrawStyle& style) const
{
    painter->save();
    QTextCharFormat match;
    match.setBackground(style.mark);
    match.setForeground(Qt::black);
    QTextCharFormat quiet;
    quiet.setForeground(style.quiet);
    for (const Block& block : m_blocks) {
        const QPointF at = origin + block.at;
        if (block.quoted())
            painter->fillRect(QRectF(origin.x() + 2, at.y(), 3, block.height), style.quiet);
        if (!block.picture.isNull()) {
            const QRectF box = block.picture.translated(origin);
            const QImage image = style.thumbnail ? style.thumbnail(block.file) : QImage();
            if (image.isNull()) {
                painter->setPen(QPen(style.quiet, 1, Qt::DashLine));
                painter->setBrush(Qt::NoBrush);
                painter->drawRect(box.adjusted(0.5, 0.5, -0.5, -0.5));
            } else {
                const QSizeF shown = QSizeF(image.size()).scaled(box.size(), Qt::KeepAspectRatio);
                painter->drawImage(QRectF(box.topLeft(), shown), image);
            }
        }
        QList<QTextLayout::FormatRange> selections;
        for (const TextLink& link : block.links)
            selections.append({int(link.start), int(link.length), linkFormat(style.link)});
        if (block.openFrom >= 0)
            selections.append({int(block.openFrom), int(block.text.size() - block.openFrom),
                               linkFormat(style.link)});
        if (block.editedFrom >= 0)
            selections.append(
                {int(block.editedFrom),
                 int((block.openFrom > block.editedFrom ? block.openFrom - 1 : block.text.size())
                     - block.editedFrom),
                 quiet});
        if (!style.findText.isEmpty()) {
            const QStringView own = QStringView(block.text).first(block.findable);
            for (qsizetype found = own.indexOf(style.findText, 0, style.findCase); found >= 0;
                 found = own.indexOf(style.findText, found + style.findText.size(), style.findCase))
                selections.append({int(found), int(style.findText.size()), match});
        }
        const bool isQuiet = block.kind == Block::Quiet || block.kind == Block::QuoteHeader;
        painter->setPen(isQuiet ? style.quiet : style.text);
        block.layout->draw(painter, at, selections);
    }
    painter->restore();
}

MessageLayout::Hit MessageLayout::hitAt(const QPointF& pos) const
{
    for (const Block& block : m_blocks) {
        if (!block.picture.isNull() && block.picture.contains(pos))
            return block.openFrom >= 0 ? Hit{Hit::Kind::OpenFile, {}} : Hit{};
        const QPointF local = pos - block.at;
        if (local.y() < 0 || local.y() >= block.height)
            continue;
        for (int i = 0; i < block.layout->lineCount(); ++i) {
            const QTextLine line = block.layout->lineAt(i);
            if (local.y() < line.y() || local.y() >= line.y() + line.height())
                continue;
            if (local.x() < line.x() || local.x() > line.x() + line.naturalTextWidth())
                return {};
            const int at = line.xToCursor(local.x(), QTextLine::CursorOnCharacter);
            if (block.openFrom >= 0 && at >= block.openFrom)
                return {Hit::Kind::OpenFile, {}};
            for (const TextLink& link : block.links) {
                if (at >= link.start && at < link.start + link.length)
                    return {Hit::Kind::Link, link.url};
            }
            return {};
        }
    }
    return {};
}

QRectF MessageLayout::firstMatch(const QString& text, Qt::CaseSensitivity cs) const
{
    if (text.isEmpty())
        return {};
    for (const Block& block : m_blocks) {
        const qsizetype found = QStringView(block.text).first(block.findable).indexOf(text, 0, cs);
        if (found >= 0)
            return block.rangeRect(found, found + text.size()).translated(block.at);
    }
    return {};
}

QRectF MessageLayout::writtenTextRect(int from, int to) const
{
    for (const Block& block : m_blocks) {
        if (block.kind != Block::Written || block.sourceOffset < 0 || from < block.sourceOffset
            || from > block.sourceOffset + block.findable)
            continue;
        return block.rangeRect(from - block.sourceOffset, to - block.sourceOffset)
            .translated(block.at);
    }
    return {};
}

} // namespace velmoran
