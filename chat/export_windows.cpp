#include "chat/export_windows.h"

#include "chat/export_progress.h"
#include "chat/history_file_error.h"
#include "chat/history_text.h"

#include <algorithm>
#include <cstring>

namespace velmoran {

namespace od = simdjson::ondemand;

ExportWindows::ExportWindows(ExportMapping& mapping, ExportProgress& progress, od::parser& parser,
                             QString fileName, size_t firstWindow)
    : m_mapping(mapping)
    , m_progress(progress)
    , m_parser(parser)
    , m_fileName(std::move(fileName))
    , m_firstWindow(firstWindow)
{
}

ExportWindows::~ExportWindows() = default;

size_t ExportWindows::cutAfterString(std::string_view json, size_t from, size_t limit)
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

ExportWindows::Outcome ExportWindows::read(std::string_view json, bool releasePages)
{
    m_length = json.size();
    m_progress.startDocument(json.data(), releasePages);
    const size_t bom = byteOrderMarkSize(json);
    m_resume = {};
    m_resume.offset = bom;
    size_t start = bom;
    std::optional<ExportUnit> after;
    size_t window = m_firstWindow;
    for (;;) {
        const bool last = json.size() - start <= window;
        const size_t cut = last ? json.size() : cutAfterString(json, start, start + window);
        if (!last && cut == 0) {
            window *= 2;
            continue;
        }
        const WindowRead read = readWindow(json, start, cut, after, last);
        if (read == WindowRead::Whole)
            return Outcome::Read;
        if (read == WindowRead::Stopped)
            return Outcome::Stopped;
        if (last && m_ended.unfinished)
            failUnfinished(json, start, after);
        if (last || m_ended.flawed)
            return m_ended.notUtf8 ? Outcome::NotUtf8 : Outcome::Unsettled;
        m_mapping.takeBackTo(m_resume.mark);
        if (m_resume.mark.after && m_resume.offset > start) {
            start = m_resume.offset;
            after = m_resume.mark.after;
            window = m_firstWindow;
            m_progress.releasePagesBefore(start);
        } else {
            window *= 2;
        }
    }
}

// Reads json from start to cut as one window that starts after the unit after tells; last: it
// reaches the end of the document. Whole: the document was a history and the mapping holds
// it. Ended: the window's reading ended as m_ended tells.
ExportWindows::WindowRead ExportWindows::readWindow(std::string_view json, size_t start, size_t cut,
                                                    std::optional<ExportUnit> after, bool last)
{
    const std::string_view prefix = ExportMapping::prefixFor(after);
    const std::string_view suffix = last ? std::string_view() : std::string_view(" 0}");
    const size_t length = prefix.size() + (cut - start) + suffix.size();
    if (m_windowCapacity < length + simdjson::SIMDJSON_PADDING) {
        m_windowCapacity =
            std::max(length + simdjson::SIMDJSON_PADDING, m_windowCapacity + m_windowCapacity / 2);
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
    m_ended = {};
    od::document doc;
    const simdjson::error_code error =
        m_parser.iterate(out, length, length + simdjson::SIMDJSON_PADDING).get(doc);
    if (error == simdjson::UTF8_ERROR)
        return windowEnded({true, true});
    // The bytes of earlier windows passed this check, so the document's flaw is here, and a
    // read of the whole document would tell the same.
    if (error && last)
        failTold(m_mapping.texts().jsonError(error));
    if (error)
        return windowEnded({true});
    m_doc = &doc;
    if (m_mapping.read(m_parser, doc, *this, after) == ReadStep::Stop) {
        m_doc = nullptr;
        return m_progress.stopped() ? WindowRead::Stopped : WindowRead::Ended;
    }
    m_doc = nullptr;
    if (!last)
        return windowEnded({});
    if (!m_mapping.sawConversations())
        return windowEnded({true});
    const char* trailing = nullptr;
    if (doc.current_location().get(trailing) == simdjson::SUCCESS)
        return windowEnded({true});
    return m_progress.report(1) == ReadStep::Stop ? WindowRead::Stopped : WindowRead::Whole;
}

// The last window, from start on, does not end with the bracket that closes the document: the
// document was cut short (an interrupted download), or text follows it. Told as a read of the
// whole document tells it, from this window alone: when the document up to the last closing
// bracket is a history, the rest is text after it.
void ExportWindows::failUnfinished(std::string_view json, size_t start,
                                   std::optional<ExportUnit> after)
{
    const size_t close = json.find_last_of("}]");
    const size_t trailing = close == std::string_view::npos || close < start
                                ? std::string_view::npos
                                : json.find_first_not_of(" \t\r\n", close + 1);
    if (trailing != std::string_view::npos) {
        m_mapping.takeBackTo(m_resume.mark);
        bool whole = true;
        try {
            whole = readWindow(json, start, close + 1, after, true) == WindowRead::Whole;
        } catch (const Failure&) {
            whole = false;
        }
        m_doc = nullptr;
        if (whole)
            failTold(m_mapping.texts().trailingText(json, trailing));
    }
    failTold(m_mapping.texts().jsonError(simdjson::INCOMPLETE_ARRAY_OR_OBJECT));
}

// A failure whose reason is the one a read of the whole document gives.
void ExportWindows::failTold(const QString& reason) const
{
    failToRead(m_fileName, reason);
}

ReadStep ExportWindows::flaw(simdjson::error_code error)
{
    // The last window has no made-up ending: the flaw is the file's, the first one a read of
    // the whole document meets too.
    if (m_lastWindow)
        failTold(m_mapping.texts().jsonError(error));
    // Where the window is cut, the parser stands in its ending; anywhere before that, the flaw
    // is the file's.
    const char* at = nullptr;
    return end({m_doc && m_doc->current_location().get(at) == simdjson::SUCCESS && at < m_suffix});
}

ReadStep ExportWindows::flawAtTop(simdjson::error_code error)
{
    if (error == simdjson::INCOMPLETE_ARRAY_OR_OBJECT && m_lastWindow)
        return end({true, false, true});
    return flaw(error);
}

ReadStep ExportWindows::refuse(const QString&)
{
    // What the mapping finds may be an effect of the window's end; a read of the whole
    // document tells it if it is not.
    return end({});
}

ReadStep ExportWindows::passing()
{
    const char* at = nullptr;
    if (m_progress.stopped())
        return ReadStep::Stop;
    if (!m_progress.tells() || !m_doc || m_length == 0
        || m_doc->current_location().get(at) != simdjson::SUCCESS || at < m_windowText)
        return ReadStep::Continue;
    const size_t offset = m_windowStart + size_t(at - m_windowText);
    return m_progress.report(double(offset) / double(m_length));
}

ReadStep ExportWindows::unitRead(ExportUnit unit)
{
    if (m_lastWindow)
        return ReadStep::Continue;
    // A read that ended in an error the parser keeps to itself cannot go on.
    if (!m_doc->is_alive())
        return end({});
    const char* location = nullptr;
    if (m_doc->current_location().get(location) != simdjson::SUCCESS || location >= m_suffix
        || location < m_windowText)
        return ReadStep::Continue;
    m_resume.offset = m_windowStart + size_t(location - m_windowText);
    m_resume.mark = m_mapping.mark(unit);
    return ReadStep::Continue;
}

void ExportWindows::stillReading()
{
    m_progress.stillReading();
}

} // namespace velmoran
