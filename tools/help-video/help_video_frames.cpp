// Draws the frames of the help video "Skype Allow.avi": a chat client's window, the prompt in
// which it asks whether another program may access it, and the pointer that moves to "Allow
// access" and clicks it. Everything is drawn here, with generic shapes and texts.
//
//   help-video-frames <output folder>   writes frame000.png, frame001.png, ... (10 per second)

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdio>

namespace {

constexpr int Width = 640;
constexpr int Height = 400;
constexpr int FramesPerSecond = 10;
constexpr int FrameCount = 60;

// When things happen, in frames.
constexpr int PointerStarts = 12;
constexpr int PointerArrives = 30;
constexpr int ButtonPressed = 33;
constexpr int PromptCloses = 36;

const QColor Accent(0x1f, 0x6f, 0xc9);
const QColor Surface(0xf4, 0xf6, 0xf9);
const QColor Line(0xc9, 0xd1, 0xdb);
const QColor Ink(0x22, 0x2b, 0x36);
const QColor Muted(0x6b, 0x76, 0x84);

const QRectF PromptRect(150, 110, 340, 190);
const QRectF AllowButton(PromptRect.right() - 230, PromptRect.bottom() - 48, 120, 32);
const QRectF DenyButton(PromptRect.right() - 100, PromptRect.bottom() - 48, 84, 32);

QFont font(int pixels, bool bold = false)
{
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// The chat client behind the prompt: title bar, a contact column and a conversation.
void drawClient(QPainter& p)
{
    p.fillRect(0, 0, Width, Height, QColor(0xdd, 0xe3, 0xea));
    const QRectF window(20, 20, Width - 40, Height - 40);
    p.setPen(Line);
    p.setBrush(Qt::white);
    p.drawRoundedRect(window, 6, 6);
    p.fillRect(QRectF(window.left() + 1, window.top() + 1, window.width() - 2, 30), Accent);
    p.setPen(Qt::white);
    p.setFont(font(14, true));
    p.drawText(QRectF(window.left() + 12, window.top(), 300, 32), Qt::AlignVCenter,
               QStringLiteral("Chat"));

    const QRectF contacts(window.left() + 1, window.top() + 31, 160, window.height() - 32);
    p.fillRect(contacts, Surface);
    const char16_t* names[] = {u"Alex", u"Robin", u"Sam", u"Jordan", u"Casey"};
    p.setFont(font(13));
    for (int i = 0; i < 5; ++i) {
        const QRectF row(contacts.left() + 10, contacts.top() + 12 + i * 40, 140, 32);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor::fromHsv(40 + i * 60, 90, 210));
        p.drawEllipse(QRectF(row.left(), row.top() + 4, 24, 24));
        p.setPen(Ink);
        p.drawText(row.adjusted(34, 0, 0, 0), Qt::AlignVCenter, QString::fromUtf16(names[i]));
    }

    // Message bubbles, ours on the right.
    const QRectF talk(contacts.right() + 16, contacts.top() + 16,
                      window.right() - contacts.right() - 32, 0);
    const int widths[] = {180, 140, 220, 120};
    for (int i = 0; i < 4; ++i) {
        const bool ours = i % 2 == 1;
        const qreal w = widths[i];
        const QRectF bubble(ours ? talk.right() - w : talk.left(), talk.top() + i * 52, w, 36);
        p.setPen(Qt::NoPen);
        p.setBrush(ours ? QColor(0xd6, 0xe7, 0xfa) : Surface);
        p.drawRoundedRect(bubble, 10, 10);
        p.setBrush(ours ? QColor(0xa9, 0xc6, 0xe8) : Line);
        p.drawRoundedRect(QRectF(bubble.left() + 12, bubble.top() + 14, w - 40, 8), 4, 4);
    }
}

// The prompt; pressed shows "Allow access" pushed down, hovered lights it up.
void drawPrompt(QPainter& p, bool hovered, bool pressed)
{
    p.fillRect(0, 0, Width, Height, QColor(0, 0, 0, 70));
    p.setPen(Line);
    p.setBrush(Qt::white);
    p.drawRoundedRect(PromptRect, 8, 8);

    // A shield as the prompt's sign.
    QPainterPath shield;
    const QPointF top(PromptRect.left() + 38, PromptRect.top() + 22);
    shield.moveTo(top);
    shield.lineTo(top + QPointF(18, 7));
    shield.quadTo(top + QPointF(18, 34), top + QPointF(0, 44));
    shield.quadTo(top + QPointF(-18, 34), top + QPointF(-18, 7));
    shield.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Accent);
    p.drawPath(shield);
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({top + QPointF(-8, 21), top + QPointF(-2, 28), top + QPointF(9, 14)}));

    p.setPen(Ink);
    p.setFont(font(15, true));
    const QRectF text(PromptRect.left() + 70, PromptRect.top() + 18, PromptRect.width() - 86, 24);
    p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Access request"));
    p.setFont(font(13));
    p.drawText(text.translated(0, 30).adjusted(0, 0, 0, 40), Qt::TextWordWrap,
               QStringLiteral("Another program wants to access this chat client: "
                              "Velmoran.\nOnly allow programs you trust."));

    const qreal shift = pressed ? 1.5 : 0;
    p.setPen(Qt::NoPen);
    p.setBrush(pressed ? Accent.darker(130) : hovered ? Accent.lighter(115) : Accent);
    p.drawRoundedRect(AllowButton.translated(0, shift), 5, 5);
    p.setPen(Qt::white);
    p.setFont(font(13, true));
    p.drawText(AllowButton.translated(0, shift), Qt::AlignCenter, QStringLiteral("Allow access"));

    p.setPen(Line);
    p.setBrush(Surface);
    p.drawRoundedRect(DenyButton, 5, 5);
    p.setPen(Ink);
    p.drawText(DenyButton, Qt::AlignCenter, QStringLiteral("Deny"));
}

void drawConfirmation(QPainter& p, qreal opacity)
{
    const QRectF strip(170, Height - 90, 300, 36);
    p.setOpacity(opacity);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2e, 0x8b, 0x57));
    p.drawRoundedRect(strip, 18, 18);
    p.setPen(Qt::white);
    p.setFont(font(13, true));
    p.drawText(strip, Qt::AlignCenter, QStringLiteral("Access allowed"));
    p.setOpacity(1);
}

void drawCaption(QPainter& p, const QString& text)
{
    const QRectF band(0, Height - 34, Width, 34);
    p.fillRect(band, QColor(0, 0, 0, 170));
    p.setPen(Qt::white);
    p.setFont(font(14, true));
    p.drawText(band, Qt::AlignCenter, text);
}

// A plain arrow pointer with its tip at tip.
void drawPointer(QPainter& p, QPointF tip)
{
    const QPolygonF arrow(
        {{0, 0}, {0, 17}, {4.5, 13}, {8, 20.5}, {10.5, 19.5}, {7, 12}, {12.5, 12}});
    p.setPen(QPen(Qt::black, 1.2));
    p.setBrush(Qt::white);
    p.drawPolygon(arrow.translated(tip));
}

QPointF pointerAt(int frame)
{
    const QPointF start(560, 340);
    const QPointF end = AllowButton.center() + QPointF(6, 4);
    if (frame <= PointerStarts)
        return start;
    if (frame >= PointerArrives)
        return end;
    // Eased, so the pointer slows down as it reaches the button.
    const qreal t = qreal(frame - PointerStarts) / (PointerArrives - PointerStarts);
    const qreal eased = 1 - std::pow(1 - t, 3);
    return start + (end - start) * eased;
}

QImage frame(int n)
{
    QImage image(Width, Height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawClient(p);
    const QPointF pointer = pointerAt(n);
    if (n < PromptCloses) {
        const bool pressed = n >= ButtonPressed;
        drawPrompt(p, AllowButton.contains(pointer), pressed);
        drawCaption(
            p, QStringLiteral("Switch to your chat client and click \u201cAllow access\u201d"));
    } else {
        drawConfirmation(p, std::min<qreal>(1, (n - PromptCloses + 1) / 4.0));
        drawCaption(p, QStringLiteral("Now the program can read your chat history"));
    }
    drawPointer(p, pointer);
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: help-video-frames <output folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int n = 0; n < FrameCount; ++n) {
        const QString path =
            QStringLiteral("%1/frame%2.png").arg(folder).arg(n, 3, 10, QLatin1Char('0'));
        if (!frame(n).save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    std::printf("%d frames at %d per second\n", FrameCount, FramesPerSecond);
    return 0;
}
