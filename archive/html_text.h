#pragma once

#include <QString>
#include <QStringEncoder>

#include <QFile>

namespace velmoran {

// The one function that writes a text from a history into HTML: & < > " and ' become
// character references, so the text is inert both as element text and as a quoted attribute
// value. Every text that did not come from the program itself goes through it; the markup
// around it is the program's own.
void appendHtmlText(QString& out, QStringView text);

// The one script a page may run: its file, relative to the page, and the nonce of the page's
// policy. A nonce rather than 'self', which lets a page opened from disk run any file on it.
struct PageScript {
    QString source;
    QString nonce;
};

// The start of a page up to its body: UTF-8, the viewport, no scripts or outside requests
// allowed, the title (escaped) and the style sheet at root ("" or "../") + "style.css". Given a
// script, the page may run it (appendPageScript) and scripts it adds carrying the nonce, and its
// forms may go to the archive's own pages; nothing else runs.
void appendPageHead(QString& out, QStringView title, QLatin1StringView root,
                    const PageScript* script = nullptr);
// The element that runs script where it stands in the body, as the parser reaches it.
void appendPageScript(QString& out, const PageScript& script);

// text as a JavaScript string literal, quotes included, that cannot end a script element or
// line: quotes and backslashes escaped, < > &, control characters and U+2028/U+2029 as \x or
// \u escapes.
void appendJsText(QString& out, QStringView text);
// The end of a page after its body's content.
void appendPageEnd(QString& out);

// The bytes text takes in UTF-8 (an unpaired surrogate as the three bytes of U+FFFD).
qsizetype utf8Size(QStringView text);

// A file written in UTF-8 from texts appended in order, in large blocks. Throws Failure naming
// the file when it cannot be created or written; the file is left as far as it came then
// (callers write into a folder that is removed on failure).
class Utf8File {
public:
    explicit Utf8File(const QString& path);
    Utf8File(const Utf8File&) = delete;
    Utf8File& operator=(const Utf8File&) = delete;

    void append(QStringView text);
    void append(QLatin1StringView text);
    // Bytes appended so far.
    qint64 size() const { return m_written + m_buffer.size(); }
    // Writes what is left and closes the file.
    void finish();

private:
    void writeBuffer();

    QFile m_file;
    QStringEncoder m_encoder{QStringEncoder::Utf8};
    QByteArray m_buffer;
    qint64 m_written = 0;
};

} // namespace velmoran
