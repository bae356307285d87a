#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <memory>

namespace velmoran {

// A message time as velmoran-find writes it: UTC, ISO 8601 with milliseconds and "Z"
// ("2019-03-04T08:15:00.123Z").
QString isoUtcTime(qint64 utcMilliseconds);
// Appends the same text, as UTF-8.
void appendIsoUtcTime(QByteArray& out, qint64 utcMilliseconds);

// Appends text as one CSV field (RFC 4180): quoted, with its quotes doubled, when it holds a
// comma, a quote, CR or LF; as it is otherwise. UTF-8.
void appendCsvField(QByteArray& out, QStringView text);
// Appends text as a JSON string, quotes included: quote, backslash and control characters
// escaped, everything else written as UTF-8 as it is.
void appendJsonString(QByteArray& out, QStringView text);

// Where a command's results go: standard output or the file --output names.
//
// A regular file, or a path that does not exist yet, is replaced only once it has been written
// whole (a temporary file beside it takes its place). A FIFO, a device, a socket or a
// descriptor that /dev/stdout, /dev/stderr or /dev/fd/N names are written straight through and
// never replaced.
class OutputTarget {
public:
    enum class Kind { StandardOutput, Descriptor, StraightThrough, Replaced };

    // standardOutput is the device for standard output, handed over not yet open.
    OutputTarget(QIODevice& standardOutput, const QString& path);

    Kind kind() const { return m_kind; }
    // The name used in messages: the path, or "standard output".
    QString name() const;
    const QString& path() const { return m_path; }

    // An error text when writing the target would overwrite one of the given files (the same
    // file, a link to it or another hard link of it), else "".
    QString conflictWith(const QStringList& readFiles) const;

    // The device to hand to a writer that opens and finishes it itself (the text file writer).
    // Null for Replaced, which the writer handles from the path.
    QIODevice* device();

    // Writes the bytes in pieces as they come and finishes (commit or close). Each answers
    // false on failure with the reason in errorText(), and writes nothing more after one.
    bool open();
    bool write(const QByteArray& bytes);
    bool finish();
    const QString& errorText() const { return m_error; }

private:
    bool failed(const QString& what, const QString& reason);

    QIODevice& m_standardOutput;
    QString m_path;
    Kind m_kind = Kind::StandardOutput;
    int m_descriptor = -1;
    std::unique_ptr<QIODevice> m_own;
    QIODevice* m_device = nullptr;
    QString m_error;
};

// Collects output in a buffer and hands it to the target in large pieces.
class ChunkedOutput {
public:
    explicit ChunkedOutput(OutputTarget& target)
        : m_target(target)
    {
        m_buffer.reserve(Flush + 4096);
    }
    QByteArray& buffer() { return m_buffer; }
    // After appending: writes when the buffer has grown enough. False once a write failed.
    bool maybeFlush() { return m_buffer.size() < Flush || flush(); }
    bool flush();

private:
    static constexpr qsizetype Flush = 1 << 20;
    OutputTarget& m_target;
    QByteArray m_buffer;
    bool m_ok = true;
};

} // namespace velmoran
