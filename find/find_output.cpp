#include "find/find_output.h"

#include "find/find_command.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimeZone>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace velmoran {

namespace {

// The ISO 8601 text of a UTC time as QDateTime writes it, for the years 1 to 9999 (QDateTime
// writes nothing for the others); the days after the proleptic Gregorian calendar.
constexpr qint64 FirstIsoMs = -62135596800000; // 0001-01-01T00:00:00.000Z
constexpr qint64 LastIsoMs = 253402300799999;  // 9999-12-31T23:59:59.999Z
constexpr qsizetype IsoTimeSize = 24;          // "2019-03-04T08:15:00.123Z"

void putDigits(char* at, unsigned value, int digits)
{
    for (int i = digits - 1; i >= 0; --i) {
        at[i] = char('0' + value % 10);
        value /= 10;
    }
}

void putIsoUtcTime(char* at, qint64 utcMilliseconds)
{
    constexpr qint64 DayMs = 86'400'000;
    qint64 days = utcMilliseconds / DayMs;
    qint64 ms = utcMilliseconds % DayMs;
    if (ms < 0) {
        ms += DayMs;
        --days;
    }
    // Civil date from days since 1970-01-01, in 400-year eras that start on 1 March.
    const qint64 z = days + 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const auto dayOfEra = unsigned(z - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const auto year = unsigned(qint64(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0));
    const auto msOfDay = unsigned(ms);

    putDigits(at, year, 4);
    at[4] = '-';
    putDigits(at + 5, month, 2);
    at[7] = '-';
    putDigits(at + 8, day, 2);
    at[10] = 'T';
    putDigits(at + 11, msOfDay / 3'600'000, 2);
    at[13] = ':';
    putDigits(at + 14, msOfDay / 60'000 % 60, 2);
    at[16] = ':';
    putDigits(at + 17, msOfDay / 1000 % 60, 2);
    at[19] = '.';
    putDigits(at + 20, msOfDay % 1000, 3);
    at[23] = 'Z';
}

// Writes text as UTF-8 at dst, as QString::toUtf8() does (an unpaired surrogate as '?'), each
// ASCII character through putAscii(dst, c), which answers the end of what it wrote. Answers the
// end of the text written. dst has room for 3 bytes per code unit, or what putAscii needs.
template <typename PutAscii> char* putUtf8(char* dst, QStringView text, PutAscii putAscii)
{
    const char16_t* src = text.utf16();
    const char16_t* const end = src + text.size();
    while (src != end) {
        const char16_t u = *src++;
        if (u < 0x80) {
            dst = putAscii(dst, char(u));
        } else if (u < 0x800) {
            dst[0] = char(0xc0 | (u >> 6));
            dst[1] = char(0x80 | (u & 0x3f));
            dst += 2;
        } else if (!QChar::isSurrogate(u)) {
            dst[0] = char(0xe0 | (u >> 12));
            dst[1] = char(0x80 | ((u >> 6) & 0x3f));
            dst[2] = char(0x80 | (u & 0x3f));
            dst += 3;
        } else if (QChar::isHighSurrogate(u) && src != end && QChar::isLowSurrogate(*src)) {
            const char32_t c = QChar::surrogateToUcs4(u, *src++);
            dst[0] = char(0xf0 | (c >> 18));
            dst[1] = char(0x80 | ((c >> 12) & 0x3f));
            dst[2] = char(0x80 | ((c >> 6) & 0x3f));
            dst[3] = char(0x80 | (c & 0x3f));
            dst += 4;
        } else {
            *dst++ = '?';
        }
    }
    return dst;
}

// Appends text through putUtf8(), in pieces so that the room set aside for the most bytes a
// code unit can take (bytesPerUnit) stays small however long the text.
template <typename PutAscii>
void appendUtf8(QByteArray& out, QStringView text, qsizetype bytesPerUnit, PutAscii putAscii)
{
    constexpr qsizetype Piece = 4096;
    while (!text.isEmpty()) {
        qsizetype n = std::min(text.size(), Piece);
        // A surrogate pair stays in one piece.
        if (n < text.size() && text[n - 1].isHighSurrogate())
            ++n;
        const qsizetype at = out.size();
        out.resize(at + n * bytesPerUnit);
        char* const end = putUtf8(out.data() + at, text.first(n), putAscii);
        out.resize(end - out.constData());
        text = text.sliced(n);
    }
}

// How JSON writes each ASCII character: 0 as it is, a letter after a backslash, or 'u' for
// \u00XX.
constexpr std::array<char, 128> JsonEscapes = [] {
    std::array<char, 128> escapes{};
    for (int c = 0; c < 0x20; ++c)
        escapes[c] = 'u';
    escapes['"'] = '"';
    escapes['\\'] = '\\';
    escapes['\b'] = 'b';
    escapes['\f'] = 'f';
    escapes['\n'] = 'n';
    escapes['\r'] = 'r';
    escapes['\t'] = 't';
    return escapes;
}();

} // namespace

QString isoUtcTime(qint64 utcMilliseconds)
{
    if (utcMilliseconds < FirstIsoMs || utcMilliseconds > LastIsoMs)
        return QDateTime::fromMSecsSinceEpoch(utcMilliseconds, Qt::UTC).toString(Qt::ISODateWithMs);
    char text[IsoTimeSize];
    putIsoUtcTime(text, utcMilliseconds);
    return QString::fromLatin1(text, IsoTimeSize);
}

void appendIsoUtcTime(QByteArray& out, qint64 utcMilliseconds)
{
    if (utcMilliseconds < FirstIsoMs || utcMilliseconds > LastIsoMs) {
        out += isoUtcTime(utcMilliseconds).toLatin1();
        return;
    }
    const qsizetype at = out.size();
    out.resize(at + IsoTimeSize);
    putIsoUtcTime(out.data() + at, utcMilliseconds);
}

void appendCsvField(QByteArray& out, QStringView text)
{
    // Only ASCII code units turn into these bytes in UTF-8.
    bool quote = false;
    for (const QChar c : text) {
        if (c == u',' || c == u'"' || c == u'\r' || c == u'\n') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        appendUtf8(out, text, 3, [](char* dst, char c) {
            *dst = c;
            return dst + 1;
        });
        return;
    }
    out += '"';
    appendUtf8(out, text, 3, [](char* dst, char c) {
        if (c == '"')
            *dst++ = '"';
        *dst = c;
        return dst + 1;
    });
    out += '"';
}

void appendJsonString(QByteArray& out, QStringView text)
{
    out += '"';
    appendUtf8(out, text, 6, [](char* dst, char c) {
        static constexpr char hex[] = "0123456789abcdef";
        const char escape = JsonEscapes[uchar(c)];
        if (!escape) {
            *dst = c;
            return dst + 1;
        }
        dst[0] = '\\';
        if (escape != 'u') {
            dst[1] = escape;
            return dst + 2;
        }
        dst[1] = 'u';
        dst[2] = '0';
        dst[3] = '0';
        dst[4] = hex[uchar(c) >> 4];
        dst[5] = hex[uchar(c) & 15];
        return dst + 6;
    });
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
