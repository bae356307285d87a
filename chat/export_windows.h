#pragma once

#include "chat/export_mapping.h"

#include <QString>

#include <simdjson.h>

#include <memory>
#include <optional>
#include <string_view>

namespace velmoran {

class ExportProgress;

// Reads an export's JSON a window at a time, so the structure index the parser builds never
// covers more than a window: window events can run between windows and the index's memory
// stays small. Each window is copied into a buffer of its own: after the first, it starts with
// the made-up prefix for the unit the last window's reading can go on after
// (ExportMapping::prefixFor), and unless it reaches the end of the document it is cut after a
// string and ended with " 0}", which no JSON value can follow, so the read of a unit that the
// cut leaves unfinished fails there and is taken back. The next window starts after the last
// whole unit read; a window that holds no whole unit is read again at twice the size.
class ExportWindows final : private ExportDocument {
public:
    // fileName names the file in failures; firstWindow is the usual size of a window.
    ExportWindows(ExportMapping& mapping, ExportProgress& progress,
                  simdjson::ondemand::parser& parser, QString fileName, size_t firstWindow);
    ~ExportWindows() override;

    enum class Outcome {
        Read,     // the mapping holds the history
        Stopped,  // the progress answered Stop
        NotUtf8,  // a window holds bytes that are no UTF-8
        Unsettled // a flaw, or text after the document, that only a read of it whole describes
    };

    // Reads json in windows; releasePages: json lies in the mapping the progress was given
    // (ExportProgress::startDocument).
    // Throws Failure where the windows tell what a read of the whole document would tell.
    Outcome read(std::string_view json, bool releasePages);

    // Where a window that should end at or before limit may be cut: right after a string's
    // closing quote, a place outside any string, so the window is JSON up to that point. A
    // quote closes a string when the byte before it is none that may come before an opening
    // quote (white space, ':', ',', '[', '{') and no backslash (an escaped quote, or one after
    // an escaped backslash, which is left alone). Answers 0 when there is no such place.
    static size_t cutAfterString(std::string_view json, size_t from, size_t limit);

private:
    // How the reading of a window ended short of its end.
    struct Ended {
        bool flawed = false; // the flaw lies in the file's own bytes, not at the window's end
        bool notUtf8 = false;
        bool unfinished = false; // the last bytes are not the bracket that closes the document
    };
    // Where reading can go on: after the last whole unit read (at the start when none).
    struct ResumePoint {
        size_t offset = 0; // of the separator (',' or ']') after the unit, in the document
        ExportMapping::Mark mark;
    };
    enum class WindowRead { Whole, Stopped, Ended };

    WindowRead readWindow(std::string_view json, size_t start, size_t cut,
                          std::optional<ExportUnit> after, bool last);
    // Note how a window's reading ended short, answering Stop to the mapping or Ended.
    ReadStep end(Ended ended)
    {
        m_ended = ended;
        return ReadStep::Stop;
    }
    WindowRead windowEnded(Ended ended)
    {
        m_ended = ended;
        return WindowRead::Ended;
    }
    [[noreturn]] void failUnfinished(std::string_view json, size_t start,
                                     std::optional<ExportUnit> after);
    [[noreturn]] void failTold(const QString& reason) const;

    ReadStep flaw(simdjson::error_code error) override;
    ReadStep flawAtTop(simdjson::error_code error) override;
    ReadStep refuse(const QString& reason) override;
    ReadStep passing() override;
    ReadStep unitRead(ExportUnit unit) override;
    void stillReading() override;

    ExportMapping& m_mapping;
    ExportProgress& m_progress;
    simdjson::ondemand::parser& m_parser;
    QString m_fileName;
    size_t m_firstWindow;
    size_t m_length = 0;
    ResumePoint m_resume;
    Ended m_ended; // how the last window's reading ended, when it ended short
    simdjson::ondemand::document* m_doc = nullptr;
    // The window being read: its copy of the document from m_windowStart on starts at
    // m_windowText, and its made-up ending at m_suffix.
    std::unique_ptr<char[]> m_window;
    size_t m_windowCapacity = 0;
    size_t m_windowStart = 0;
    const char* m_windowText = nullptr;
    const char* m_suffix = nullptr;
    bool m_lastWindow = false;
};

} // namespace velmoran
