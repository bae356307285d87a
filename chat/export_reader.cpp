#include "chat/export_reader.h"

#include "chat/archive_open.h"
#include "chat/history_file_error.h"
#include "chat/history_text.h"
#include "chat/mapped_file.h"
#include "chat/message_mapping.h"
#include "chat/message_sieve.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <archive.h>
#include <archive_entry.h>
#include <simdjson.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace velmoran {

namespace {

namespace od = simdjson::ondemand;

// Message times the history keeps: from 1970-01-01T00:00:00Z up to the end of the year 9999.
const qint64 FirstPossibleMs = 0;
const qint64 EndOfPossibleMs = 253'402'300'800'000; // 10000-01-01T00:00:00Z

bool readDigits(std::string_view text, size_t at, size_t count, int& value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

bool isTextMessageType(std::string_view type)
{
    return type == "Text" || type == "RichText" || type.starts_with("RichText/");
}

bool isFileMessageType(std::string_view type)
{
    return type == "RichText/UriObject" || type.starts_with("RichText/Media_");
}

QString describeJsonError(simdjson::error_code error, const QString& subject)
{
    switch (error) {
    case simdjson::EMPTY:
        return QStringLiteral("%1 holds no JSON at all").arg(subject);
    case simdjson::UTF8_ERROR:
        return QStringLiteral("%1 holds text that is not valid UTF-8").arg(subject);
    case simdjson::DEPTH_ERROR:
        return QStringLiteral("%1 is nested too deeply").arg(subject);
    case simdjson::CAPACITY:
        return QStringLiteral("%1 is larger than the 4 GiB that can be read").arg(subject);
    case simdjson::MEMALLOC:
        return QStringLiteral("there is not enough memory to read %1").arg(subject);
    default:
        return QStringLiteral("%1 is not valid JSON (%2)")
            .arg(subject, QString::fromUtf8(simdjson::error_message(error)));
    }
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xc0 | (c >> 6));
        out += char(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        out += char(0xe0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3f));
        out += char(0x80 | (c & 0x3f));
    } else {
        out += char(0xf0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3f));
        out += char(0x80 | ((c >> 6) & 0x3f));
        out += char(0x80 | (c & 0x3f));
    }
}

bool readHex4(std::string_view text, size_t at, char32_t& value)
{
    if (at + 4 > text.size())
        return false;
    value = 0;
    for (size_t i = at; i < at + 4; ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return false;
        value = value * 16 + char32_t(digit);
    }
    return true;
}

// The text of a JSON string token that the parser refused to unescape: every escape that
// names no character (a lone surrogate, an unknown letter) becomes U+FFFD, the rest is decoded
// as usual. The token starts at its opening quote; the document's UTF-8 is already checked.
std::string_view unescapeWithReplacement(std::string_view token, std::string& out)
{
    const char32_t replacement = 0xfffd;
    out.clear();
    size_t i = token.find('"');
    i = i == std::string_view::npos ? token.size() : i + 1;
    while (i < token.size() && token[i] != '"') {
        if (token[i] != '\\') {
            out += token[i++];
            continue;
        }
        const char escape = i + 1 < token.size() ? token[i + 1] : '\0';
        i += 2;
        switch (escape) {
        case '"':
        case '\\':
        case '/':
            out += escape;
            continue;
        case 'b':
            out += '\b';
            continue;
        case 'f':
            out += '\f';
            continue;
        case 'n':
            out += '\n';
            continue;
        case 'r':
            out += '\r';
            continue;
        case 't':
            out += '\t';
            continue;
        case 'u':
            break;
        default:
            appendUtf8(out, replacement);
            continue;
        }
        char32_t unit = 0;
        if (!readHex4(token, i, unit)) {
            appendUtf8(out, replacement);
            continue;
        }
        i += 4;
        char32_t low = 0;
        if (unit >= 0xd800 && unit < 0xdc00 && token.substr(i, 2) == "\\u"
            && readHex4(token, i + 2, low) && low >= 0xdc00 && low < 0xe000) {
            appendUtf8(out, 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00));
            i += 6;
        } else if (unit >= 0xd800 && unit < 0xe000) {
            appendUtf8(out, replacement);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

// The bytes with every invalid UTF-8 sequence replaced by U+FFFD. Converted in pieces cut
// before a lead byte, so a large file is not held as UTF-16 all at once; tick is called after
// each piece.
simdjson::padded_string withUtf8Repaired(std::string_view bytes, const std::function<void()>& tick)
{
    const size_t piece = size_t(1) << 20;
    QByteArray repaired;
    repaired.reserve(qsizetype(bytes.size() + bytes.size() / 8));
    size_t at = 0;
    while (at < bytes.size()) {
        size_t end = std::min(bytes.size(), at + piece);
        for (int back = 0;
             back < 4 && end < bytes.size() && end > at + 1 && (uchar(bytes[end]) & 0xc0) == 0x80;
             ++back)
            --end;
        repaired += QString::fromUtf8(bytes.data() + at, qsizetype(end - at)).toUtf8();
        at = end;
        tick();
    }
    return simdjson::padded_string(repaired.constData(), size_t(repaired.size()));
}

// Where the string whose text starts at from ends: its closing quote, the first one after
// an even number of backslashes; the size of json when it has none.
size_t closingQuote(std::string_view json, size_t from)
{
    for (size_t at = json.find('"', from); at != std::string_view::npos;
         at = json.find('"', at + 1)) {
        size_t backslashes = 0;
        while (at - backslashes > from && json[at - backslashes - 1] == '\\')
            ++backslashes;
        if (backslashes % 2 == 0)
            return at;
    }
    return json.size();
}

// How many strings of a JSON document hold bytes that are no UTF-8, each counted once. A quote
// outside a string opens one; bytes that are no UTF-8 are neither quotes nor backslashes, so
// they never end one. tick is called after each piece of about a megabyte.
qsizetype stringsNotUtf8(std::string_view json, const std::function<void()>& tick)
{
    const size_t piece = size_t(1) << 20;
    qsizetype count = 0;
    size_t ticked = 0;
    for (size_t open = json.find('"'); open != std::string_view::npos;) {
        const size_t close = closingQuote(json, open + 1);
        if (!simdjson::validate_utf8(json.data() + open + 1, close - open - 1))
            ++count;
        if (close - ticked >= piece) {
            ticked = close;
            tick();
        }
        open = close < json.size() ? json.find('"', close + 1) : std::string_view::npos;
    }
    return count;
}

QString quotedExcerpt(std::string_view text, size_t length)
{
    QString excerpt = QString::fromUtf8(text.data(), qsizetype(std::min(text.size(), length)));
    if (text.size() > length)
        excerpt += QChar(0x2026);
    return QLatin1Char('"') + excerpt.simplified() + QLatin1Char('"');
}

// The messages of a conversation as they are read, in blocks, so a long chat never moves what
// it holds while it grows. At the end they are put in time order (ties in reading order) into
// one list of their exact size, a piece at a time: a chat of half a million messages takes a
// while to sort and move, and window events run between the pieces.
class MessageBlocks {
public:
    size_t size() const { return m_size; }
    const HistoryMessage& at(size_t i) const { return m_blocks[i / BlockSize][i % BlockSize]; }

    void push_back(HistoryMessage&& message)
    {
        if (m_blocks.empty() || m_blocks.back().size() == BlockSize) {
            m_blocks.emplace_back();
            // The first block grows as needed, so a short chat takes little room.
            if (m_blocks.size() > 1)
                m_blocks.back().reserve(BlockSize);
        }
        m_blocks.back().push_back(std::move(message));
        ++m_size;
    }

    // Forgets the messages from the count-th on.
    void truncate(size_t count)
    {
        while (m_size > count) {
            std::vector<HistoryMessage>& last = m_blocks.back();
            const size_t drop = std::min(m_size - count, last.size());
            last.erase(last.end() - qsizetype(drop), last.end());
            m_size -= drop;
            if (last.empty())
                m_blocks.pop_back();
        }
    }

    // The messages in time order; calls between() between pieces of the work. Leaves this
    // empty.
    std::vector<HistoryMessage> takeInTimeOrder(const std::function<void()>& between)
    {
        auto byTime = [](const HistoryMessage& a, const HistoryMessage& b) {
            return a.timestampMs < b.timestampMs;
        };
        std::vector<HistoryMessage> ordered;
        if (m_blocks.size() <= 1) {
            if (!m_blocks.empty())
                ordered = std::move(m_blocks.front());
            if (!std::is_sorted(ordered.begin(), ordered.end(), byTime))
                std::stable_sort(ordered.begin(), ordered.end(), byTime);
            ordered.shrink_to_fit();
            *this = {};
            return ordered;
        }
        // Sorted as (time, place read) keys, a run at a time, then runs merged pairwise.
        struct Key {
            qint64 time;
            size_t index;
            bool operator<(const Key& other) const
            {
                return time != other.time ? time < other.time : index < other.index;
            }
        };
        std::vector<Key> keys(m_size);
        bool sorted = true;
        for (size_t i = 0; i < m_size; ++i) {
            keys[i] = {at(i).timestampMs, i};
            sorted = sorted && (i == 0 || keys[i - 1].time <= keys[i].time);
        }
        if (!sorted) {
            const size_t run = 8 * BlockSize;
            for (size_t from = 0; from < m_size; from += run) {
                std::sort(keys.begin() + qsizetype(from),
                          keys.begin() + qsizetype(std::min(m_size, from + run)));
                between();
            }
            std::vector<Key> merged(m_size);
            for (size_t width = run; width < m_size; width *= 2) {
                for (size_t from = 0; from < m_size; from += 2 * width) {
                    const size_t middle = std::min(m_size, from + width);
                    const size_t end = std::min(m_size, from + 2 * width);
                    std::merge(keys.begin() + qsizetype(from), keys.begin() + qsizetype(middle),
                               keys.begin() + qsizetype(middle), keys.begin() + qsizetype(end),
                               merged.begin() + qsizetype(from));
                    between();
                }
                keys.swap(merged);
            }
        }
        ordered.reserve(m_size);
        for (size_t i = 0; i < m_size; ++i) {
            const size_t from = keys[i].index;
            ordered.push_back(std::move(m_blocks[from / BlockSize][from % BlockSize]));
            if ((i + 1) % BlockSize == 0)
                between();
        }
        *this = {};
        return ordered;
    }

private:
    static constexpr size_t BlockSize = 8192;
    std::vector<std::vector<HistoryMessage>> m_blocks;
    size_t m_size = 0;
};

class ExportParser {
public:
    // subject names the JSON in failure texts: "it" for a file of its own, "its
    // messages.json" for the member of a tar.
    // progress, when set, is told the part of the document read so far, scaled to the range
    // from progressFrom to progressTo.
    ExportParser(QString fileName, QString subject, const ReadProgress* progress = nullptr,
                 double progressFrom = 0, double progressTo = 1)
        : m_fileName(std::move(fileName))
        , m_subject(std::move(subject))
        , m_progress(progress && *progress ? progress : nullptr)
        , m_progressFrom(progressFrom)
        , m_progressTo(progressTo)
    {
    }

    // A document parsed in place from mapping: the pages of what has been read are released
    // as the parse goes on, so the file and the history it becomes are not held at once.
    void releaseReadPagesOf(MappedFile* mapping) { m_mapping = mapping; }

    // The size of the windows the document is read in (see parseInWindows).
    // 0: the document is read as one, without windows.
    void setWindowSize(size_t bytes) { m_firstWindow = bytes; }

    // Asked which messages to keep (see MessageSieve); none: every message is kept.
    void setSieve(MessageSieve* sieve) { m_sieve = sieve; }

    ChatHistory parse(const simdjson::padded_string& json)
    {
        return parse(std::string_view(json.data(), json.size()),
                     json.size() + simdjson::SIMDJSON_PADDING);
    }

    // Parses json; capacity is how many bytes from json.data() on may be read, at least
    // SIMDJSON_PADDING more than the document.
    //
    // The document is read a window at a time (see parseInWindows), so the structure index the
    // parser builds never covers more than a window: window events can run between windows and
    // the index's memory stays small. What a window cannot settle (a flaw in the JSON, text
    // after the document) is read once more as one document, which tells it exactly.
    ChatHistory parse(std::string_view json, size_t capacity)
    {
        ChatHistory history = parseDocument(json, capacity);
        history.notUtf8Texts = m_notUtf8Texts;
        return history;
    }

private:
    ChatHistory parseDocument(std::string_view json, size_t capacity)
    {
        if (m_firstWindow == 0)
            return parseWhole(json, capacity);
        try {
            return parseInWindows(json, true);
        } catch (const WindowEnded& ended) {
            if (ended.notUtf8) {
                // Bytes that are no UTF-8 become U+FFFD; the rest of the history is still
                // worth reading.
                const std::string_view repaired = repair(json);
                startOver();
                try {
                    return parseInWindows(repaired, false);
                } catch (const WindowEnded&) {
                }
            }
        }
        startOver();
        return parseWhole(json, capacity);
    }

    // json with every sequence of bytes that are no UTF-8 made U+FFFD, in m_repaired; the
    // strings that held any are counted, once each, whatever windows the document is read in.
    std::string_view repair(std::string_view json)
    {
        m_repaired = withUtf8Repaired(json, [this] { stillReading(); });
        m_notUtf8Texts = stringsNotUtf8(json, [this] { stillReading(); });
        return std::string_view(m_repaired.data(), m_repaired.size());
    }

    // Thrown instead of a failure while a window is read: the window ends there, or holds a
    // flaw that only a read of the whole document can describe.
    struct WindowEnded {
        bool flawed = false; // the flaw lies in the file's own bytes, not at the window's end
        bool notUtf8 = false;
        bool unfinished = false; // the last bytes are not the bracket that closes the document
    };

    // Where reading can go on after the last whole unit read: after a conversation, or after a
    // message of the open conversation's list.
    enum class ResumeAt { Start, Conversations, Messages };

    struct ResumePoint {
        ResumeAt at = ResumeAt::Start;
        size_t offset = 0;   // of the separator (',' or ']') after the unit, in the document
        size_t messages = 0; // of the open conversation, when at Messages
        qsizetype conversation = 0;
        qsizetype message = 0;
        qsizetype skipped = 0;
        bool firstSkipped = false;
    };

    // The name each sender's latest message in file order gives them, where it gives one other
    // than their id: what a chat without a name of its own is called after. Noted for every
    // message read, kept or not.
    class SenderNames {
    public:
        SenderNames() = default;
        SenderNames(const SenderNames&) = delete;
        SenderNames& operator=(const SenderNames&) = delete;
        // Moving keeps the map's nodes, so the last one stays valid.
        SenderNames(SenderNames&&) = default;
        SenderNames& operator=(SenderNames&&) = default;

        void note(const QString& id, const QString& name)
        {
            if (name.isEmpty() || name == id)
                return;
            // Runs of messages from one sender are common: those cost a comparison each.
            if (m_last && m_last->first == id) {
                if (m_last->second.constData() != name.constData())
                    m_last->second = name;
                return;
            }
            m_last = &*m_names.insert_or_assign(id, name).first;
        }
        QString of(const QString& id) const
        {
            const auto found = m_names.find(id);
            return found == m_names.end() ? QString() : found->second;
        }

    private:
        std::unordered_map<QString, QString> m_names;
        std::pair<const QString, QString>* m_last = nullptr;
    };

    // The conversation being read; it lasts across windows when one ends inside its messages.
    // The names of a message taken back with a window are noted again when it is read again.
    struct OpenConversation {
        HistoryChat chat;
        MessageBlocks messages;
        SenderNames senderNames;
        std::string id;
        bool sawId = false;
        bool sawMessages = false;
        QString displayName;
        QString topic;
    };

    // How a window resumed at a unit boundary starts: the document's own nesting down to the
    // list the unit belongs to, and a placeholder element that stands for the units already
    // read, so the separator that follows them in the file reads as JSON.
    static std::string_view prefixFor(ResumeAt at)
    {
        switch (at) {
        case ResumeAt::Start:
            break;
        case ResumeAt::Conversations:
            return R"({"conversations":[null)";
        case ResumeAt::Messages:
            return R"({"conversations":[{"MessageList":[null)";
        }
        return {};
    }

    // Where a window that should end at or before limit may be cut: right after a string's
    // closing quote, a place outside any string, so the window is JSON up to that point. A
    // quote closes a string when the byte before it is none that may come before an opening
    // quote (white space, ':', ',', '[', '{') and no backslash (an escaped quote, or one after
    // an escaped backslash, which is left alone). Answers 0 when there is no such place.
    static size_t cutAfterString(std::string_view json, size_t from, size_t limit)
    {
        for (size_t i = limit; i-- > from + 1;) {
            if (json[i] != '"')
                continue;
            switch (json[i - 1]) {
            case '\\':
            case ' ':
            case '\t':
            case '\r':
            case '\n':
            case ':':
            case ',':
            case '[':
            case '{':
                continue;
            default:
                return i + 1;
            }
        }
        return 0;
    }

    // Reads json a window at a time. Each window is copied into a buffer of its own: after the
    // first, it starts with a prefix made for the place where the last window's reading can go
    // on (prefixFor), and unless it reaches the end of the document it is cut after a string
    // (cutAfterString) and ended with " 0}", which no JSON value can follow, so the read of a
    // unit that the cut leaves unfinished fails there and is taken back. The next window starts
    // after the last whole unit read; a window that holds no whole unit is read again at twice
    // the size. releasePages: json lies in the mapping given to releaseReadPagesOf.
    ChatHistory parseInWindows(std::string_view json, bool releasePages)
    {
        m_windowed = true;
        m_source = json.data();
        m_length = json.size();
        m_releasePages = releasePages && m_mapping;
        m_releasedOffset = 0;
        const size_t bom = json.starts_with("\xef\xbb\xbf") ? 3 : 0;
        m_resume = {};
        m_resume.offset = bom;
        size_t start = bom;
        ResumeAt at = ResumeAt::Start;
        size_t window = m_firstWindow;
        for (;;) {
            const bool last = json.size() - start <= window;
            const size_t cut = last ? json.size() : cutAfterString(json, start, start + window);
            if (!last && cut == 0) {
                window *= 2;
                continue;
            }
            try {
                readWindow(json, start, cut, at, last);
                return std::move(m_history);
            } catch (const WindowEnded& ended) {
                m_doc = nullptr;
                if (last && ended.unfinished)
                    failUnfinished(json, start, at);
                if (last || ended.flawed)
                    throw;
            }
            takeBackTo(m_resume);
            if (m_resume.at != ResumeAt::Start && m_resume.offset > start) {
                start = m_resume.offset;
                at = m_resume.at;
                window = m_firstWindow;
                releasePagesBefore(start);
            } else {
                window *= 2;
            }
        }
    }

    // Reads json from start to cut as one window that starts as at tells; last: it reaches
    // the end of the document. Throws WindowEnded where the window's reading ends, unless it
    // is the last one and the document is a history.
    void readWindow(std::string_view json, size_t start, size_t cut, ResumeAt at, bool last)
    {
        const std::string_view prefix = prefixFor(at);
        const std::string_view suffix = last ? std::string_view() : std::string_view(" 0}");
        const size_t length = prefix.size() + (cut - start) + suffix.size();
        if (m_windowCapacity < length + simdjson::SIMDJSON_PADDING) {
            m_windowCapacity = std::max(length + simdjson::SIMDJSON_PADDING,
                                        m_windowCapacity + m_windowCapacity / 2);
            m_window.reset();
            m_window.reset(new char[m_windowCapacity]);
        }
        char* out = m_window.get();
        prefix.copy(out, prefix.size());
        json.copy(out + prefix.size(), cut - start, start);
        suffix.copy(out + prefix.size() + (cut - start), suffix.size());
        std::memset(out + length, ' ', simdjson::SIMDJSON_PADDING);
        m_windowStart = start;
        m_windowText = out + prefix.size();
        m_suffix = out + length - suffix.size();
        m_lastWindow = last;
        m_dummyConversation = at == ResumeAt::Conversations;
        m_resumedConversation = at == ResumeAt::Messages;
        m_dummyMessage = at == ResumeAt::Messages;
        od::document doc;
        const simdjson::error_code error =
            m_parser.iterate(out, length, length + simdjson::SIMDJSON_PADDING).get(doc);
        if (error == simdjson::UTF8_ERROR)
            throw WindowEnded{true, true};
        // The bytes of earlier windows passed this check, so the document's flaw is here,
        // and a read of the whole document would tell the same.
        if (error && last)
            fail(describeJsonError(error, m_subject), true);
        if (error)
            throw WindowEnded{true};
        m_doc = &doc;
        const bool sawConversations = readTop(doc);
        if (!last)
            throw WindowEnded{};
        if (!sawConversations)
            throw WindowEnded{true};
        const char* trailing = nullptr;
        if (doc.current_location().get(trailing) == simdjson::SUCCESS)
            throw WindowEnded{true};
        m_doc = nullptr;
        report(1);
    }

    // The last window, from start on, does not end with the bracket that closes the document:
    // the document was cut short (an interrupted download), or text follows it. Told as a read
    // of the whole document tells it, from this window alone: when the document up to the last
    // closing bracket is a history, the rest is text after it.
    [[noreturn]] void failUnfinished(std::string_view json, size_t start, ResumeAt at)
    {
        const size_t close = json.find_last_of("}]");
        const size_t after = close == std::string_view::npos || close < start
                                 ? std::string_view::npos
                                 : json.find_first_not_of(" \t\r\n", close + 1);
        if (after != std::string_view::npos) {
            takeBackTo(m_resume);
            bool whole = true;
            try {
                readWindow(json, start, close + 1, at, true);
            } catch (const WindowEnded&) {
                whole = false;
            } catch (const Failure&) {
                whole = false;
            }
            m_doc = nullptr;
            if (whole)
                failTrailing(json, after);
        }
        fail(describeJsonError(simdjson::INCOMPLETE_ARRAY_OR_OBJECT, m_subject), true);
    }

    // Notes that reading can go on after the unit just read.
    void markResume(ResumeAt at)
    {
        if (!m_windowed || m_lastWindow)
            return;
        const char* location = nullptr;
        // A read that ended in an error the parser keeps to itself cannot go on.
        if (!m_doc->is_alive())
            throw WindowEnded{};
        if (m_doc->current_location().get(location) != simdjson::SUCCESS || location >= m_suffix
            || location < m_windowText)
            return;
        m_resume.at = at;
        m_resume.offset = m_windowStart + size_t(location - m_windowText);
        m_resume.messages = at == ResumeAt::Messages ? m_open.messages.size() : 0;
        m_resume.conversation = m_conversation;
        m_resume.message = m_message;
        m_resume.skipped = m_history.skippedMessages;
        m_resume.firstSkipped = m_firstSkipped.has_value();
    }

    // Forgets what was read after the resume point.
    void takeBackTo(const ResumePoint& resume)
    {
        if (resume.at == ResumeAt::Messages)
            m_open.messages.truncate(resume.messages);
        else
            m_open = {};
        m_conversation = resume.conversation;
        m_message = resume.message;
        m_history.skippedMessages = resume.skipped;
        if (!resume.firstSkipped)
            m_firstSkipped.reset();
    }

    // Forgets everything read, for a read of the document from its start.
    void startOver()
    {
        m_history = ChatHistory();
        m_contactsSeen.clear();
        m_open = {};
        m_bodies = std::make_unique<TextArena>();
        m_conversation = 0;
        m_message = 0;
        m_firstSkipped.reset();
        m_windowed = false;
        m_lastWindow = false;
        m_dummyConversation = false;
        m_resumedConversation = false;
        m_dummyMessage = false;
        m_resume = {};
        m_window.reset();
        m_windowCapacity = 0;
    }

    // Reads json as one document.
    ChatHistory parseWhole(std::string_view json, size_t capacity)
    {
        // A byte order mark is no JSON, but some tools write one.
        size_t bom = json.starts_with("\xef\xbb\xbf") ? 3 : 0;
        std::string_view all = json;
        od::document doc;
        simdjson::error_code error =
            m_parser.iterate(all.data() + bom, all.size() - bom, capacity - bom).get(doc);
        if (error == simdjson::UTF8_ERROR) {
            all = repair(json);
            // The repair drops a byte order mark.
            bom = all.starts_with("\xef\xbb\xbf") ? 3 : 0;
            error = m_parser
                        .iterate(all.data() + bom, all.size() - bom,
                                 all.size() - bom + simdjson::SIMDJSON_PADDING)
                        .get(doc);
        }
        m_doc = &doc;
        m_source = all.data();
        m_length = all.size();
        m_windowStart = 0;
        m_windowText = all.data();
        m_releasePages = m_mapping && all.data() == json.data();
        m_releasedOffset = 0;
        m_bom = bom;
        if (error == simdjson::INCOMPLETE_ARRAY_OR_OBJECT)
            explainIncomplete(all, bom);
        check(error);
        const bool sawConversations = readTop(doc);
        if (!sawConversations)
            fail(QStringLiteral("%1 has no \"conversations\" list, so it is no chat export")
                     .arg(m_subject));
        const char* trailing = nullptr;
        if (doc.current_location().get(trailing) == simdjson::SUCCESS)
            failTrailing(all, size_t(trailing - all.data()));
        m_doc = nullptr;
        report(1);
        return std::move(m_history);
    }

    // Reads the top object's fields; answers whether it has a "conversations" list.
    bool readTop(od::document& doc)
    {
        od::object top;
        const simdjson::error_code topError = doc.get_object().get(top);
        if (topError == simdjson::INCORRECT_TYPE)
            fail(QStringLiteral("%1 is not a JSON object").arg(m_subject));
        if (topError == simdjson::INCOMPLETE_ARRAY_OR_OBJECT && m_windowed && m_lastWindow)
            throw WindowEnded{true, false, true};
        if (topError == simdjson::INCOMPLETE_ARRAY_OR_OBJECT && !m_windowed)
            explainIncomplete(std::string_view(m_source, m_length), m_bom);
        check(topError);
        bool sawConversations = false;
        for (auto fieldResult : top) {
            od::field field;
            check(std::move(fieldResult).get(field));
            if (field.key() == "conversations") {
                sawConversations = true;
                readConversations(field.value());
            } else if (field.key() == "userId") {
                // The export's own user, named as messages name their sender.
                const QString user = readOptionalText(field.value(), m_idScratch);
                m_history.ownUserId = user.startsWith(QLatin1String("8:")) ? user.mid(2) : user;
            }
        }
        return sawConversations;
    }

    // Tells progress again without a change, so window events run during work that has no
    // position in the document (the repair of bytes that are no UTF-8).
    void stillReading()
    {
        if (m_progress)
            (*m_progress)(std::max(m_reported, m_progressFrom));
    }

    void report(double done)
    {
        if (!m_progress)
            return;
        const double fraction =
            m_progressFrom + (m_progressTo - m_progressFrom) * std::clamp(done, 0.0, 1.0);
        if (fraction <= m_reported)
            return;
        m_reported = fraction;
        (*m_progress)(fraction);
    }

    // Tells how far the document has been read, by the position of the parser in it. Read as
    // one document, the mapping also drops what lies well behind that position.
    void reportPosition()
    {
        const char* at = nullptr;
        if ((!m_progress && !m_releasePages) || !m_doc || m_length == 0
            || m_doc->current_location().get(at) != simdjson::SUCCESS || at < m_windowText)
            return;
        const size_t offset = m_windowStart + size_t(at - m_windowText);
        if (!m_windowed)
            releasePagesBefore(offset);
        if (m_progress)
            report(double(offset) / double(m_length));
    }

    // Lets the mapping drop the pages of the document before offset, which is not read again.
    void releasePagesBefore(size_t offset)
    {
        if (!m_releasePages || offset < m_releasedOffset + ReleaseStep)
            return;
        m_mapping->release(m_source + offset - ReleaseMargin);
        m_releasedOffset = offset;
    }

    [[noreturn]] void failTrailing(std::string_view all, size_t at) const
    {
        fail(QStringLiteral("unexpected text after the JSON document at byte %1%2: %3")
                 .arg(at + 1)
                 .arg(m_subject == QStringLiteral("it") ? QString()
                                                        : QStringLiteral(" of ") + m_subject,
                      quotedExcerpt(all.substr(at), 24)),
             true);
    }

    // The parser refuses a document whose last token is not the bracket that closes it before
    // reading any of it. When everything up to the last closing bracket is a whole history,
    // the rest is stray text after it, and the failure says so; otherwise nothing is said here.
    void explainIncomplete(std::string_view all, size_t bom) const
    {
        const size_t close = all.find_last_of("}]");
        if (close == std::string_view::npos || close < bom)
            return;
        const size_t at = all.find_first_not_of(" \t\r\n", close + 1);
        if (at == std::string_view::npos)
            return;
        try {
            ExportParser(m_fileName, m_subject)
                .parse(simdjson::padded_string(all.substr(0, close + 1)));
        } catch (const Failure&) {
            return;
        }
        failTrailing(all, at);
    }

    // A message that is left out, and where it is.
    struct Skipped {
        qsizetype conversation = 0;
        qsizetype message = 0;
        QString messageId;
        QString reason;
    };

    // told: the reason is the one a read of the whole document gives, also in a window.
    [[noreturn]] void fail(const QString& reason, bool told = false) const
    {
        if (m_windowed && !told)
            throw WindowEnded{};
        failToRead(m_fileName, reason);
    }

    QString where() const
    {
        QString place = m_subject == QStringLiteral("it")
                            ? QString()
                            : QStringLiteral("in %1, ").arg(m_subject);
        place += QStringLiteral("conversation %1").arg(m_conversation);
        if (m_message > 0)
            place += QStringLiteral(", message %1").arg(m_message);
        return place;
    }

    void check(simdjson::error_code error) const
    {
        if (!error)
            return;
        // The last window has no made-up ending: the flaw is the file's, the first one a read
        // of the whole document meets too.
        if (m_windowed && m_lastWindow)
            fail(describeJsonError(error, m_subject), true);
        if (m_windowed) {
            // Where the window is cut, the parser stands in its ending; anywhere before
            // that, the flaw is the file's.
            const char* at = nullptr;
            const bool flawed =
                m_doc && m_doc->current_location().get(at) == simdjson::SUCCESS && at < m_suffix;
            throw WindowEnded{flawed};
        }
        fail(describeJsonError(error, m_subject));
    }

    void checkType(simdjson::error_code error, const char* key, const char* expected) const
    {
        if (error == simdjson::INCORRECT_TYPE)
            fail(QStringLiteral("%1: \"%2\" is not %3")
                     .arg(where(), QLatin1String(key), QLatin1String(expected)));
        check(error);
    }

    // Reads a string or null value into scratch (which must stay untouched while the answer
    // is used). Null answers an empty view. Strings are unescaped into our own buffer rather
    // than the parser's, which would otherwise keep a copy of every string of the file. An
    // escape that names no character becomes U+FFFD.
    std::string_view readText(od::value value, std::string& scratch, const char* key)
    {
        od::json_type type = od::json_type::null;
        check(value.type().get(type));
        if (type == od::json_type::null)
            return {};
        if (type != od::json_type::string)
            checkType(simdjson::INCORRECT_TYPE, key, "a text or null");
        const std::string_view token = value.raw_json_token();
        if (scratch.size() < token.size() + simdjson::SIMDJSON_PADDING)
            scratch.resize(token.size() + simdjson::SIMDJSON_PADDING);
        od::raw_json_string raw;
        check(value.get_raw_json_string().get(raw));
        auto* out = reinterpret_cast<uint8_t*>(scratch.data());
        std::string_view text;
        if (m_parser.unescape(raw, out).get(text) != simdjson::SUCCESS)
            return unescapeWithReplacement(token, scratch);
        return text;
    }

    // A text field that may hold anything: its text, or "" when it is no text.
    QString readOptionalText(od::value value, std::string& scratch)
    {
        od::json_type type = od::json_type::null;
        check(value.type().get(type));
        if (type != od::json_type::string)
            return {};
        const std::string_view text = readText(value, scratch, "");
        return QString::fromUtf8(text.data(), qsizetype(text.size()));
    }

    // The members of a group: a JSON list of ids held as a text (or, from other writers, as a
    // list). Members listed as objects give their "id". Anything else lists no members.
    QStringList readMembers(od::value value)
    {
        od::json_type type = od::json_type::null;
        check(value.type().get(type));
        if (type == od::json_type::array) {
            od::array list;
            check(value.get_array().get(list));
            QStringList members = membersOf(list);
            // A list that is no JSON ends the document's reading too; tell it here.
            if (m_doc && !m_doc->is_alive())
                check(simdjson::TAPE_ERROR);
            return members;
        }
        if (type != od::json_type::string)
            return {};
        const std::string_view text = readText(value, m_membersScratch, "members");
        const simdjson::padded_string listJson(text);
        od::document listDoc;
        od::array list;
        if (m_listParser.iterate(listJson).get(listDoc) || listDoc.get_array().get(list))
            return {};
        return membersOf(list);
    }

    static QStringList membersOf(od::array& list)
    {
        QStringList members;
        for (auto item : list) {
            od::value member;
            od::json_type type = od::json_type::null;
            if (std::move(item).get(member) || member.type().get(type))
                return {};
            std::string_view id;
            if (type == od::json_type::object) {
                od::object object;
                if (member.get_object().get(object)
                    || object.find_field_unordered("id").get_string().get(id))
                    continue;
            } else if (type != od::json_type::string || member.get_string().get(id)) {
                continue;
            }
            if (!id.empty())
                members << QString::fromUtf8(id.data(), qsizetype(id.size()));
        }
        return members;
    }

    // A group's member count as the export states it; 0 for anything but a count.
    qsizetype readMemberCount(od::value value)
    {
        od::json_type type = od::json_type::null;
        check(value.type().get(type));
        int64_t count = 0;
        if (type != od::json_type::number || value.get_int64().get(count) || count < 0)
            return 0;
        return qsizetype(count);
    }

    // Calls visit(key, value) for each field of value when it is an object; anything else
    // (null, a text) has no fields.
    template <typename Visit> void forEachField(od::value value, Visit&& visit)
    {
        od::json_type type = od::json_type::null;
        check(value.type().get(type));
        if (type != od::json_type::object)
            return;
        od::object object;
        check(value.get_object().get(object));
        for (auto fieldResult : object) {
            od::field field;
            check(std::move(fieldResult).get(field));
            visit(field.key(), field.value());
        }
    }

    void readThreadProperties(od::value value, QString& topic, QStringList& members,
                              qsizetype& memberCount)
    {
        forEachField(value, [&](const od::raw_json_string& key, od::value field) {
            if (key == "topic")
                topic = readOptionalText(field, m_topicScratch);
            else if (key == "members")
                members = readMembers(field);
            else if (key == "membercount")
                memberCount = readMemberCount(field);
        });
    }

    void readConversations(od::value value)
    {
        od::array conversations;
        checkType(value.get_array().get(conversations), "conversations", "a list");
        for (auto item : conversations) {
            if (m_dummyConversation) {
                m_dummyConversation = false;
                continue;
            }
            const bool resumed = m_resumedConversation;
            m_resumedConversation = false;
            if (!resumed) {
                ++m_conversation;
                m_message = 0;
            }
            reportPosition();
            od::object conversation;
            checkType(std::move(item).get_object().get(conversation), "conversations",
                      "a list of objects");
            readConversation(conversation, resumed);
            markResume(ResumeAt::Conversations);
        }
    }

    static ConversationKind kindOf(std::string_view id)
    {
        if (id.starts_with("8:"))
            return ConversationKind::OneToOne;
        if (id.starts_with("19:"))
            return ConversationKind::Group;
        if (id.starts_with("28:"))
            return ConversationKind::Bot;
        return ConversationKind::Other;
    }

    // The members' names as the messages show them, else their handles.
    static QString memberNames(const HistoryChat& chat, const SenderNames& senderNames)
    {
        QStringList names;
        for (const QString& member : chat.members) {
            const QString handle = member.startsWith(QStringLiteral("8:")) ? member.mid(2) : member;
            const QString name = senderNames.of(handle);
            names << (name.isEmpty() ? handle : name);
        }
        return names.join(QStringLiteral(", "));
    }

    static QString nameOf(const HistoryChat& chat, const SenderNames& senderNames,
                          const QString& displayName, const QString& topic)
    {
        switch (chat.kind) {
        case ConversationKind::OneToOne:
            if (!displayName.isEmpty())
                return displayName;
            // Exports often leave a dialog unnamed while the partner's messages carry a name.
            if (const QString name = senderNames.of(chat.peerHandle); !name.isEmpty())
                return name;
            return chat.peerHandle;
        case ConversationKind::Group:
            if (!topic.isEmpty())
                return topic;
            if (!displayName.isEmpty())
                return displayName;
            if (const QString names = memberNames(chat, senderNames); !names.isEmpty())
                return names;
            return chat.id;
        case ConversationKind::Bot:
        case ConversationKind::Other:
            break;
        }
        return displayName.isEmpty() ? chat.id : displayName;
    }

    // Reads a conversation into m_open; resumed: it is the open one, whose reading a window
    // took up again in its messages.
    void readConversation(od::object& conversation, bool resumed)
    {
        if (!resumed)
            m_open = {};
        OpenConversation& open = m_open;
        HistoryChat& chat = open.chat;
        for (auto fieldResult : conversation) {
            od::field field;
            check(std::move(fieldResult).get(field));
            const od::raw_json_string key = field.key();
            if (key == "id") {
                const std::string_view id = readText(field.value(), m_idScratch, "id");
                open.id.assign(id);
                open.sawId = !id.empty();
            } else if (key == "displayName") {
                open.displayName = readOptionalText(field.value(), m_nameScratch);
            } else if (key == "threadProperties") {
                readThreadProperties(field.value(), open.topic, chat.members, chat.memberCount);
            } else if (key == "MessageList") {
                open.sawMessages = true;
                readMessages(field.value(), open.messages);
            }
        }
        m_message = 0;
        if (!open.sawId)
            fail(QStringLiteral("%1 has no \"id\"").arg(where()));
        if (!open.sawMessages)
            fail(QStringLiteral("%1 has no \"MessageList\"").arg(where()));
        const std::string_view id = open.id;
        const QString& displayName = open.displayName;
        const QString& topic = open.topic;
        // As written, a leading byte-order mark included: the kind is told from the same text.
        chat.id = QStringDecoder(QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom)(
            QByteArrayView(id.data(), qsizetype(id.size())));
        chat.kind = kindOf(id);
        if (chat.kind == ConversationKind::OneToOne) {
            chat.peerHandle = chat.id.mid(2);
            if (!m_contactsSeen.contains(chat.peerHandle)) {
                m_contactsSeen.insert(chat.peerHandle);
                m_history.contacts.append(chat.peerHandle);
            }
        }
        chat.name = nameOf(chat, open.senderNames, displayName, topic);
        if (m_firstSkipped && m_firstSkipped->conversation == m_conversation) {
            m_history.firstSkipped = QStringLiteral("message %1 of conversation \"%2\"")
                                         .arg(m_firstSkipped->message)
                                         .arg(chat.id);
            if (!m_firstSkipped->messageId.isEmpty())
                m_history.firstSkipped +=
                    QStringLiteral(" (message id \"%1\")").arg(m_firstSkipped->messageId);
            m_history.firstSkipped += QStringLiteral(", ") + m_firstSkipped->reason;
        }
        chat.messages = open.messages.takeInTimeOrder([this] { stillReading(); });
        m_history.chats.push_back(std::move(chat));
        m_open = {};
    }

    void readMessages(od::value value, MessageBlocks& messages)
    {
        od::array list;
        checkType(value.get_array().get(list), "MessageList", "a list");
        for (auto item : list) {
            if (m_dummyMessage) {
                m_dummyMessage = false;
                continue;
            }
            if ((++m_message & 255) == 0)
                reportPosition();
            od::object message;
            checkType(std::move(item).get_object().get(message), "MessageList",
                      "a list of objects");
            HistoryMessage read;
            if (readMessage(message, read))
                messages.push_back(std::move(read));
            markResume(ResumeAt::Messages);
        }
    }

    // Counts a message that is left out; the first one is described in the history.
    void skip(std::string_view idToken, const QString& reason)
    {
        ++m_history.skippedMessages;
        if (m_firstSkipped)
            return;
        Skipped skipped{m_conversation, m_message, {}, reason};
        std::string scratch;
        while (!idToken.empty() && std::strchr(" \t\r\n", idToken.back()))
            idToken.remove_suffix(1);
        if (idToken.starts_with('"')) {
            const std::string_view id = unescapeWithReplacement(idToken, scratch);
            skipped.messageId = QString::fromUtf8(id.data(), qsizetype(id.size()));
        } else if (idToken != "null") {
            skipped.messageId = QString::fromUtf8(idToken.data(), qsizetype(idToken.size()));
        }
        m_firstSkipped = std::move(skipped);
    }

    // Reads one message into result; false when it is left out (it has no possible time, or
    // the sieve turns it down).
    bool readMessage(od::object& message, HistoryMessage& result)
    {
        std::string_view displayName, from, type, content, time, idToken;
        ExportMessageFacts facts;
        bool sawTime = false;
        for (auto fieldResult : message) {
            od::field field;
            check(std::move(fieldResult).get(field));
            const od::raw_json_string key = field.key();
            if (key == "displayName") {
                displayName = readText(field.value(), m_nameScratch, "displayName");
            } else if (key == "from") {
                from = readText(field.value(), m_fromScratch, "from");
            } else if (key == "messagetype") {
                type = readText(field.value(), m_typeScratch, "messagetype");
            } else if (key == "content") {
                content = readText(field.value(), m_contentScratch, "content");
            } else if (key == "originalarrivaltime") {
                time = readText(field.value(), m_timeScratch, "originalarrivaltime");
                sawTime = true;
            } else if (key == "id") {
                // Kept as written; only a message that is left out shows it.
                idToken = field.value().raw_json_token();
            } else if (key == "properties") {
                readMessageProperties(field.value(), facts);
            }
        }
        if (!sawTime || time.empty()) {
            skip(idToken, QStringLiteral("which has no time"));
            return false;
        }
        if (!parseIsoTimestampMs(time, result.timestampMs)) {
            skip(idToken, QStringLiteral("whose time %1 is no possible date and time")
                              .arg(quotedExcerpt(time, 40)));
            return false;
        }
        if (result.timestampMs < FirstPossibleMs || result.timestampMs >= EndOfPossibleMs) {
            skip(idToken, QStringLiteral("whose time %1 is outside the years 1970 to 9999")
                              .arg(quotedExcerpt(time, 40)));
            return false;
        }
        if (from.starts_with("8:"))
            from.remove_prefix(2);
        result.senderId = m_ids.intern(from);
        result.senderDisplayName =
            displayName.empty() ? result.senderId : m_names.intern(displayName);
        m_open.senderNames.note(result.senderId, result.senderDisplayName);
        const bool text = isTextMessageType(type);
        const std::string_view plain = text ? plainText(content, m_plainScratch) : "";
        if (m_sieve && !m_sieve->mayKeep(result, plain))
            return false;
        const TextArena::Mark mark = m_bodies->mark();
        if (text)
            result.body = m_bodies->add(plain);
        if (m_sieve && !m_sieve->keeps(result)) {
            // Turned down: its body's room goes to the next message.
            result.body = QString();
            m_bodies->takeBack(mark);
            return false;
        }
        if (isFileMessageType(type))
            result.file = sharedFileOf(content, m_xml);
        facts.type = type;
        facts.content = content;
        mapExportMessage(facts, result, *m_bodies, m_markupScratch);
        return true;
    }

    // What a message's "properties" tell of an edit or a deletion: each time is told when it
    // is a text or a number. Anything else tells nothing.
    void readMessageProperties(od::value value, ExportMessageFacts& facts)
    {
        forEachField(value, [&](const od::raw_json_string& key, od::value time) {
            const bool edit = key == "edittime";
            if (!edit && key != "deletetime")
                return;
            od::json_type type = od::json_type::null;
            check(time.type().get(type));
            std::string_view digits;
            if (type == od::json_type::string)
                digits = readText(time, m_propertyScratch, edit ? "edittime" : "deletetime");
            else if (type == od::json_type::number)
                digits = time.raw_json_token();
            else
                return;
            (edit ? facts.editTold : facts.deleteTold) = true;
            if (edit)
                facts.editedMs = propertyTimeMs(digits);
        });
    }

    // A time of the properties: UTC milliseconds written as digits; -1 when it is none.
    static qint64 propertyTimeMs(std::string_view digits)
    {
        while (!digits.empty() && std::strchr(" \t\r\n", digits.back()))
            digits.remove_suffix(1);
        if (digits.empty() || digits.size() > 15)
            return -1;
        qint64 ms = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9')
                return -1;
            ms = ms * 10 + (c - '0');
        }
        return ms < EndOfPossibleMs ? ms : -1;
    }

    QString m_fileName;
    QString m_subject;
    const ReadProgress* m_progress = nullptr;
    double m_progressFrom = 0;
    double m_progressTo = 1;
    double m_reported = -1;
    // The parse reads on from where it stands; what lies more than a margin behind is done.
    static constexpr size_t ReleaseStep = 4 << 20;
    static constexpr size_t ReleaseMargin = 64 << 10;
    // Large enough that a window costs little beyond its bytes, small enough that its reading
    // stays in the processor's cache and takes a few milliseconds.
    size_t m_firstWindow = size_t(1) << 20;
    MappedFile* m_mapping = nullptr;
    MessageSieve* m_sieve = nullptr;
    bool m_releasePages = false;
    size_t m_releasedOffset = 0;
    od::document* m_doc = nullptr;
    const char* m_source = nullptr; // the document
    size_t m_length = 0;
    size_t m_bom = 0;
    // The window being read: its copy of the document from m_windowStart on starts at
    // m_windowText, and its made-up ending at m_suffix.
    bool m_windowed = false;
    bool m_lastWindow = false;
    std::unique_ptr<char[]> m_window;
    size_t m_windowCapacity = 0;
    size_t m_windowStart = 0;
    const char* m_windowText = nullptr;
    const char* m_suffix = nullptr;
    // The placeholders a resumed window starts with, not read yet.
    bool m_dummyConversation = false;
    bool m_resumedConversation = false;
    bool m_dummyMessage = false;
    ResumePoint m_resume;
    OpenConversation m_open;
    od::parser m_parser;
    od::parser m_listParser;
    simdjson::padded_string m_repaired;
    qsizetype m_notUtf8Texts = 0;
    ChatHistory m_history;
    QSet<QString> m_contactsSeen;
    NamePool m_names;
    NamePool m_ids;
    std::unique_ptr<TextArena> m_bodies = std::make_unique<TextArena>();
    QXmlStreamReader m_xml;
    qsizetype m_conversation = 0;
    qsizetype m_message = 0;
    std::optional<Skipped> m_firstSkipped;
    std::string m_propertyScratch, m_markupScratch;
    std::string m_idScratch, m_nameScratch, m_fromScratch, m_typeScratch, m_contentScratch,
        m_timeScratch, m_plainScratch, m_topicScratch, m_membersScratch;
};

// Where the messages.json of a tar is: unpacked into memory, or, when the tar is not
// compressed and inPlace was asked for, at offset in the file.
struct ArchiveMember {
    simdjson::padded_string json;
    bool inPlace = false;
    qint64 offset = 0;
    size_t size = 0;
};

// Opens a tar (possibly compressed) and finds its messages.json. An uncompressed tar's is only
// located when inPlace is asked for; otherwise it is read into one padded buffer, telling
// progress (up to half-way) how much of the file has been read. When the tar holds
// messages.json more than once (an update appended to it), the last copy counts, as it would
// after unpacking.
ArchiveMember readArchiveMember(const QString& path, bool inPlace, const ReadProgress& progress)
{
    const ArchiveReader reader = openHistoryArchive(path);
    auto archiveFailure = [&](const QString& what) { failArchive(path, reader.get(), what); };
    ArchiveMember member;
    simdjson::padded_string& json = member.json;
    const qint64 fileSize = QFileInfo(path).size();
    double reported = 0;
    auto reportRead = [&] {
        // A tar read in place is only looked through here; its progress is that of the parse.
        if (!progress || fileSize <= 0
            || (inPlace && archive_filter_code(reader.get(), 0) == ARCHIVE_FILTER_NONE))
            return;
        const double done =
            0.5
            * std::clamp(double(archive_filter_bytes(reader.get(), -1)) / double(fileSize), 0.0,
                         1.0);
        if (done > reported) {
            reported = done;
            progress(done);
        }
    };
    bool found = false;
    QString refusal; // why the last messages.json cannot be read, when it is no plain file
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status < ARCHIVE_WARN)
            archiveFailure(QStringLiteral("it is no tar archive or it is damaged"));
        reportRead();
        std::string_view name = archive_entry_pathname(entry) ? archive_entry_pathname(entry) : "";
        if (name.starts_with("./"))
            name.remove_prefix(2);
        if (name != "messages.json")
            continue;
        found = true;
        json = simdjson::padded_string();
        member.inPlace = false;
        if (archive_entry_filetype(entry) == AE_IFLNK || archive_entry_hardlink(entry)) {
            refusal = QStringLiteral("its messages.json is a link, and links in an export are not "
                                     "followed");
            continue;
        }
        if (archive_entry_filetype(entry) != AE_IFREG) {
            refusal = QStringLiteral("its messages.json is no file");
            continue;
        }
        refusal.clear();
        if (!archive_entry_size_is_set(entry) || archive_entry_size(entry) < 0)
            failToRead(path, QStringLiteral("the size of its messages.json is not recorded"));
        const auto size = size_t(archive_entry_size(entry));
        if (size > simdjson::SIMDJSON_MAXSIZE_BYTES)
            failToRead(path, QStringLiteral(
                                 "its messages.json is larger than the 4 GiB that can be read"));
        if (inPlace && archive_filter_count(reader.get()) == 1
            && archive_filter_code(reader.get(), 0) == ARCHIVE_FILTER_NONE) {
            // The reader stands right after the member's header: where its data begins.
            member.inPlace = true;
            member.offset = archive_filter_bytes(reader.get(), 0);
            member.size = size;
            continue;
        }
        json = simdjson::padded_string(size);
        if (size > 0 && json.data() == nullptr)
            failToRead(path,
                       QStringLiteral("there is not enough memory to read its messages.json"));
        size_t done = 0;
        while (done < size) {
            const la_ssize_t got = archive_read_data(reader.get(), json.data() + done, size - done);
            if (got < 0)
                archiveFailure(QStringLiteral("its messages.json cannot be unpacked"));
            if (got == 0)
                failToRead(path, QStringLiteral("it ends in the middle of its messages.json"));
            done += size_t(got);
            reportRead();
        }
    }
    if (!found)
        failToRead(path, QStringLiteral("it holds no messages.json, so it is no chat export"));
    if (!refusal.isEmpty())
        failToRead(path, refusal);
    return member;
}

// Whether a member said to start at offset, size bytes long, lies in the mapped tar: right
// after a tar header block and within the file.
bool memberFitsMapping(const MappedFile& map, qint64 offset, size_t size)
{
    if (offset < 512 || offset % 512 != 0 || size_t(offset) > map.size()
        || size > map.size() - size_t(offset))
        return false;
    const std::string_view header(map.data() + offset - 512, 512);
    return header.substr(257, 5) == "ustar";
}

[[noreturn]] void failChanged(const QString& path, const MappedFile& map)
{
    // A page the disk could not read is lost as one cut off the file is.
    if (map.readFailed())
        failToRead(path, readErrorText(EIO, {}));
    failToRead(path, map.truncated() ? QStringLiteral("it became shorter while it was read")
                                     : QStringLiteral("it changed while it was read"));
}

// Parses size bytes at offset of a mapped file in place. A file that is cut short or changed
// meanwhile is refused, whatever the parse made of it.
ChatHistory parseMapped(const QString& path, MappedFile& map, qint64 offset, size_t size,
                        QString subject, const ReadProgress& progress, MessageSieve* sieve)
{
    const ReadProgress watched = [&](double done) {
        if (map.truncated())
            failChanged(path, map);
        if (progress)
            progress(done);
    };
    ChatHistory history;
    try {
        ExportParser parser(path, std::move(subject), &watched);
        parser.releaseReadPagesOf(&map);
        parser.setSieve(sieve);
        history = parser.parse(std::string_view(map.data() + offset, size),
                               map.capacity() - size_t(offset));
    } catch (const Failure&) {
        if (map.changed())
            failChanged(path, map);
        throw;
    }
    if (map.changed())
        failChanged(path, map);
    return history;
}

} // namespace

bool parseIsoTimestampMs(std::string_view text, qint64& ms)
{
    int year, month, day, hour, minute, second;
    if (!readDigits(text, 0, 4, year) || text.size() < 19 || text[4] != '-'
        || !readDigits(text, 5, 2, month) || text[7] != '-' || !readDigits(text, 8, 2, day)
        || (text[10] != 'T' && text[10] != ' ') || !readDigits(text, 11, 2, hour) || text[13] != ':'
        || !readDigits(text, 14, 2, minute) || text[16] != ':' || !readDigits(text, 17, 2, second))
        return false;
    if (hour > 23 || minute > 59 || second > 60)
        return false;
    size_t i = 19;
    int millis = 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        int digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            if (digits < 3)
                millis = millis * 10 + (text[i] - '0');
            ++digits;
            ++i;
        }
        if (digits == 0)
            return false;
        for (int d = digits; d < 3; ++d)
            millis *= 10;
    }
    int offsetMinutes = 0;
    if (i < text.size() && text[i] == 'Z') {
        ++i;
    } else if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        const int sign = text[i] == '+' ? 1 : -1;
        int offsetHours, offsetMins;
        if (!readDigits(text, i + 1, 2, offsetHours) || i + 3 >= text.size() || text[i + 3] != ':'
            || !readDigits(text, i + 4, 2, offsetMins) || offsetHours > 23 || offsetMins > 59)
            return false;
        offsetMinutes = sign * (offsetHours * 60 + offsetMins);
        i += 6;
    } else {
        return false;
    }
    if (i != text.size())
        return false;
    using namespace std::chrono;
    const year_month_day date{std::chrono::year(year), std::chrono::month(unsigned(month)),
                              std::chrono::day(unsigned(day))};
    if (!date.ok())
        return false;
    const qint64 days = sys_days(date).time_since_epoch().count();
    ms = ((days * 24 + hour) * 60 + minute) * 60000LL + second * 1000LL + millis
         - offsetMinutes * 60000LL;
    return true;
}

ChatHistory parseExportJson(QByteArrayView json, const QString& fileName)
{
    const simdjson::padded_string padded(json.data(), size_t(json.size()));
    return ExportParser(fileName, QStringLiteral("it")).parse(padded);
}

ChatHistory parseExportJsonInWindows(QByteArrayView json, const QString& fileName,
                                     size_t windowBytes, MessageSieve* sieve)
{
    const simdjson::padded_string padded(json.data(), size_t(json.size()));
    ExportParser parser(fileName, QStringLiteral("it"));
    parser.setWindowSize(windowBytes);
    parser.setSieve(sieve);
    return parser.parse(padded);
}

ChatHistory readExportJson(const QString& path, const ReadProgress& progress, MessageSieve* sieve)
{
    {
        MappedFile map(path);
        if (map.valid())
            return parseMapped(path, map, 0, map.size(), QStringLiteral("it"), progress, sieve);
    }
    // Not a regular file, or one that cannot be mapped: read it into memory.
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadOnly))
        failToRead(path, readErrorText(errno, file.errorString()));
    const qint64 size = file.size();
    if (size < 0 || quint64(size) > simdjson::SIMDJSON_MAXSIZE_BYTES)
        failToRead(path, QStringLiteral("it is larger than the 4 GiB that can be read"));
    simdjson::padded_string json{size_t(size)};
    if (size > 0 && json.data() == nullptr)
        failToRead(path, QStringLiteral("there is not enough memory to read it"));
    qint64 done = 0;
    while (done < size) {
        errno = 0;
        const qint64 got = file.read(json.data() + done, size - done);
        if (got < 0)
            failToRead(path, readErrorText(errno, file.errorString()));
        if (got == 0)
            failToRead(path, QStringLiteral("it became shorter while it was read"));
        done += got;
    }
    ExportParser parser(path, QStringLiteral("it"), &progress);
    parser.setSieve(sieve);
    return parser.parse(json);
}

ChatHistory readExportArchive(const QString& path, const ReadProgress& progress,
                              MessageSieve* sieve)
{
    const QString subject = QStringLiteral("its messages.json");
    auto parseUnpacked = [&](const ArchiveMember& member) {
        ExportParser parser(path, subject, &progress, 0.5, 1);
        parser.setSieve(sieve);
        return parser.parse(member.json);
    };
    {
        MappedFile map(path);
        if (map.valid()) {
            const ArchiveMember member = readArchiveMember(path, true, progress);
            if (!member.inPlace)
                return parseUnpacked(member);
            if (memberFitsMapping(map, member.offset, member.size))
                return parseMapped(path, map, member.offset, member.size, subject, progress, sieve);
        }
    }
    return parseUnpacked(readArchiveMember(path, false, progress));
}

} // namespace velmoran
