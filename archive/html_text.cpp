#include "archive/html_text.h"

#include "core/failure.h"

#include <QDir>

namespace velmoran {

void appendHtmlText(QString& out, QStringView text)
{
    qsizetype plain = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        QLatin1StringView reference;
        switch (text[i].unicode()) {
        case u'&':
            reference = QLatin1StringView("&amp;");
            break;
        case u'<':
            reference = QLatin1StringView("&lt;");
            break;
        case u'>':
            reference = QLatin1StringView("&gt;");
            break;
        case u'"':
            reference = QLatin1StringView("&quot;");
            break;
        case u'\'':
            reference = QLatin1StringView("&#39;");
            break;
        default:
            continue;
        }
        out += text.sliced(plain, i - plain);
        out += reference;
        plain = i + 1;
    }
    out += text.sliced(plain);
}

void appendPageHead(QString& out, QStringView title, QLatin1StringView root,
                    const PageScript* script)
{
    out +=
        QLatin1StringView("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                          "<meta name=\"referrer\" content=\"no-referrer\">"
                          "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src ");
    if (script) {
        out += QLatin1StringView("'nonce-");
        out += script->nonce;
        out += QLatin1StringView("'; ");
    } else {
        out += QLatin1StringView("'none'; ");
    }
    out += QLatin1StringView("object-src 'none'; frame-src 'none'; connect-src 'none'; "
                             "base-uri 'none'; form-action ");
    out += script ? QLatin1StringView("'self'") : QLatin1StringView("'none'");
    out += QLatin1StringView("\"><title>");
    appendHtmlText(out, title);
    out += QLatin1StringView("</title><link rel=\"stylesheet\" href=\"");
    out += root;
    out += QLatin1StringView("style.css\">");
    out += QLatin1StringView("</head>\n<body>\n");
}

void appendPageScript(QString& out, const PageScript& script)
{
    out += QLatin1StringView("<script src=\"");
    appendHtmlText(out, script.source);
    out += QLatin1StringView("\" nonce=\"");
    appendHtmlText(out, script.nonce);
    out += QLatin1StringView("\"></script>\n");
}

void appendJsText(QString& out, QStringView text)
{
    static const char Hex[] = "0123456789abcdef";
    out += u'"';
    qsizetype plain = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x20 && c != u'"' && c != u'\'' && c != u'\\' && c != u'<' && c != u'>'
            && c != u'&' && c != 0x7F && c != 0x2028 && c != 0x2029)
            continue;
        out += text.sliced(plain, i - plain);
        plain = i + 1;
        if (c == u'"' || c == u'\'' || c == u'\\') {
            const char escape[] = {'\\', char(c)};
            out += QLatin1StringView(escape, sizeof escape);
        } else if (c < 0x100) {
            const char escape[] = {'\\', 'x', Hex[c >> 4], Hex[c & 15]};
            out += QLatin1StringView(escape, sizeof escape);
        } else {
            const char escape[] = {
                '\\', 'u', Hex[c >> 12], Hex[(c >> 8) & 15], Hex[(c >> 4) & 15], Hex[c & 15]};
            out += QLatin1StringView(escape, sizeof escape);
        }
    }
    out += text.sliced(plain);
    out += u'"';
}

void appendPageEnd(QString& out)
{
    out += QLatin1StringView("</body></html>\n");
}

qsizetype utf8Size(QStringView text)
{
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            bytes += 1;
        } else if (c < 0x800) {
            bytes += 2;
        } else if (QChar::isHighSurrogate(c) && i + 1 < text.size()
                   && text[i + 1].isLowSurrogate()) {
            bytes += 4;
            ++i;
        } else {
            bytes += 3;
        }
    }
    return bytes;
}

namespace {

constexpr qsizetype BlockBytes = 1 << 20;

[[noreturn]] void cannotWrite(const QFile& file)
{
    throw Failure(QStringLiteral("The file \"%1\" cannot be written: %2.")
                      .arg(QDir::toNativeSeparators(file.fileName()), file.errorString()));
}

} // namespace

Utf8File::Utf8File(const QString& path)
    : m_file(path)
{
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        cannotWrite(m_file);
    m_buffer.reserve(BlockBytes + BlockBytes / 4);
}

void Utf8File::append(QStringView text)
{
    const qsizetype used = m_buffer.size();
    m_buffer.resize(used + m_encoder.requiredSpace(text.size()));
    char* end = m_encoder.appendToBuffer(m_buffer.data() + used, text);
    m_buffer.truncate(end - m_buffer.constData());
    if (m_buffer.size() >= BlockBytes)
        writeBuffer();
}

void Utf8File::append(QLatin1StringView text)
{
    // The program's own markup and separators are ASCII, which is UTF-8 as it stands.
    m_buffer.append(text.data(), text.size());
    if (m_buffer.size() >= BlockBytes)
        writeBuffer();
}

void Utf8File::writeBuffer()
{
    if (m_buffer.isEmpty())
        return;
    if (m_file.write(m_buffer) != m_buffer.size())
        cannotWrite(m_file);
    m_written += m_buffer.size();
    m_buffer.truncate(0);
}

void Utf8File::finish()
{
    writeBuffer();
    m_file.close();
    if (m_file.error() != QFileDevice::NoError)
        cannotWrite(m_file);
}

} // namespace velmoran
