#include "core/terminal_text.h"

namespace velmoran {

namespace {

bool isShownEscaped(char32_t c, QChar::Category category)
{
    switch (category) {
    case QChar::Other_Control:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_Surrogate:
        return true;
    case QChar::Other_Format:
        // Joiners shape emoji and scripts; tags spell the flags of regions.
        return c != 0x200c && c != 0x200d && (c < 0xe0020 || c > 0xe007f);
    default:
        return false;
    }
}

void appendEscape(QString& out, char32_t c)
{
    switch (c) {
    case '\n':
        out += QStringLiteral("\\n");
        return;
    case '\r':
        out += QStringLiteral("\\r");
        return;
    case '\t':
        out += QStringLiteral("\\t");
        return;
    default:
        break;
    }
    if (c < 0x80)
        out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
    else if (c <= 0xffff)
        out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
    else
        out += QStringLiteral("\\U%1").arg(uint(c), 8, 16, QLatin1Char('0'));
}

} // namespace

QString terminalText(const QString& text)
{
    QString shown;
    qsizetype copied = 0; // text before this is in shown
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        qsizetype units = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            units = 2;
        }
        if (isShownEscaped(c, QChar::category(c))) {
            if (shown.isNull())
                shown.reserve(text.size() + 16);
            shown += QStringView(text).sliced(copied, i - copied);
            appendEscape(shown, c);
            copied = i + units;
        }
        i += units - 1;
    }
    if (copied == 0)
        return text;
    shown += QStringView(text).sliced(copied);
    return shown;
}

} // namespace velmoran
