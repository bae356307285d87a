#include "find/find_output.h"

#include "find/find_command.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimeZone>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace velmoran {

QString isoUtcTime(qint64 utcMilliseconds)
{
    return QDateTime::fromMSecsSinceEpoch(utcMilliseconds, Qt::UTC).toString(Qt::ISODateWithMs);
}

void appendCsvField(QByteArray& out, QStringView text)
{
    const QByteArray bytes = text.toUtf8();
    bool quote = false;
    for (const char c : bytes) {
        if (c == ',' || c == '"' || c == '\r' || c == '\n') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        out += bytes;
        return;
    }
    out += '"';
    for (const char c : bytes) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void appendJsonString(QByteArray& out, QStringView text)
{
    static const char hex[] = "0123456789abcdef";
    const QByteArray bytes = text.toUtf8();
    out += '"';
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20) {
                out += "\\u00";
                out += hex[u >> 4];
                out += hex[u & 15];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

namespace {

// The descriptor a path names without naming a file: /dev/stdout, /dev/stderr, /dev/stdin,
// /dev/fd/N, /proc/self/fd/N; -1 for any other path.
int namedDescriptor(const QString& path)
{
    if (path == u"/dev/stdout")
        return 1;
    if (path == u"/dev/stderr")
        return 2;
    if (path == u"/dev/stdin")
        return 0;
    static const QRegularExpression fd(QStringLiteral(R"(^/(?:dev|proc/self)/fd/(\d{1,9})$)"));
    const QRegularExpressionMatch match = fd.match(path);
    return match.hasMatch() ? match.capturedView(1).toInt() : -1;
}

} // namespace

OutputTarget::OutputTarget(QIODevice& standardOutput, const QString& path)
    : m_standardOutput(standardOutput)
    , m_path(path)
{
    if (path.isNull()) {
        m_kind = Kind::StandardOutput;
        m_device = &m_standardOutput;
        return;
    }
    m_descriptor = namedDescriptor(path);
    if (m_descriptor == 1) {
        m_kind = Kind::StandardOutput;
        m_device = &m_standardOutput;
        return;
    }
    if (m_descriptor >= 0) {
        m_kind = Kind::Descriptor;
        m_own = std::make_unique<DescriptorDevice>(m_descriptor);
        m_device = m_own.get();
        return;
    }
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) == 0 && !S_ISREG(status.st_mode)
        && !S_ISDIR(status.st_mode)) {
        m_kind = Kind::StraightThrough;
        m_own = std::make_unique<DescriptorDevice>(path);
    } else {
        m_kind = Kind::Replaced;
        m_own = std::make_unique<QSaveFile>(path);
    }
    m_device = m_own.get();
}

QString OutputTarget::name() const
{
    return m_path.isNull() ? QStringLiteral("standard output") : m_path;
}

QString OutputTarget::conflictWith(const QStringList& readFiles) const
{
    if (m_path.isNull())
        return {};
    struct stat out {};
    if (::stat(QFile::encodeName(m_path).constData(), &out) != 0)
        return {};
    for (const QString& file : readFiles) {
        struct stat in {};
        if (::stat(QFile::encodeName(file).constData(), &in) == 0 && in.st_dev == out.st_dev
            && in.st_ino == out.st_ino)
            return QStringLiteral("The output file %1 is the history file %2, which is being read; "
                                  "choose another output file.")
                .arg(m_path, file);
    }
    return {};
}

QIODevice* OutputTarget::device()
{
    return m_kind == Kind::Replaced ? nullptr : m_device;
}

bool OutputTarget::failed(const QString& what, const QString& reason)
{
    if (m_error.isEmpty())
        m_error = what.arg(name(), reason);
    return false;
}

bool OutputTarget::open()
{
    if (!m_error.isEmpty())
        return false;
    if (m_device->isOpen())
        return true;
    if (!m_device->open(QIODevice::WriteOnly))
        return failed(QStringLiteral("Cannot create the file %1: %2"), m_device->errorString());
    return true;
}

bool OutputTarget::write(const QByteArray& bytes)
{
    if (!open())
        return false;
    if (m_device->write(bytes) != bytes.size())
        return failed(QStringLiteral("Cannot write the file %1: %2"), m_device->errorString());
    return true;
}

bool OutputTarget::finish()
{
    if (!open())
        return false;
    if (auto* saveFile = qobject_cast<QSaveFile*>(m_device)) {
        if (!saveFile->commit())
            return failed(QStringLiteral("Cannot write the file %1: %2"), saveFile->errorString());
        return true;
    }
    m_device->close();
    return true;
}

bool ChunkedOutput::flush()
{
    if (m_ok && !m_buffer.isEmpty())
        m_ok = m_target.write(m_buffer);
    m_buffer.resize(0);
    return m_ok;
}

} // namespace velmoran
