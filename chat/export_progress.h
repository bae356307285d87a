#pragma once

#include "chat/read_progress.h"

#include <cstddef>
#include <functional>

namespace velmoran {

class MappedFile;

// What the reading of an export's JSON tells outside as it goes, whether the document is read
// whole or in windows: how far it has come, and which pages of a mapped file it is done with.
class ExportProgress {
public:
    // Told the whole's fraction done; answers Continue, or Stop to end the reading (the file
    // changed under it).
    using Watch = std::function<ReadStep(double done)>;

    // watch, when set, is told the part of the document read, placed on scale.
    ExportProgress(Watch watch, ProgressScale scale)
        : m_watch(std::move(watch))
        , m_scale(scale)
    {
    }

    bool tells() const { return bool(m_watch); }
    // Whether a watch answered Stop; nothing is told after that.
    bool stopped() const { return m_stopped; }

    // Tells done, the fraction of the document read, when it raises the level. Answers Stop
    // once the watch has answered Stop.
    ReadStep report(double done);
    // Tells the level again without a change, so window events run during work that has no
    // place in the document (a sort, the repair of bytes that are no UTF-8); a Stop answered
    // then is answered by the next report, and stopped() tells it at once.
    void stillReading();

    // Documents read in place from mapping: the pages behind the parse are let go as it goes,
    // so the file and the history it becomes are not held at once.
    void releaseReadPagesOf(MappedFile* mapping) { m_mapping = mapping; }
    // A reading of the document from its start; inMapping: it lies in the mapping given to
    // releaseReadPagesOf (not in a copy), whose pages may be let go.
    void startDocument(const char* document, bool inMapping);
    bool releasesPages() const { return m_releasing; }
    // Lets the mapping drop the pages of the document well before offset, which is not read
    // again.
    void releasePagesBefore(size_t offset);

private:
    void tell(double level);

    Watch m_watch;
    ProgressScale m_scale;
    bool m_stopped = false;
    MappedFile* m_mapping = nullptr;
    bool m_releasing = false;
    const char* m_document = nullptr;
    size_t m_releasedOffset = 0;
};

} // namespace velmoran
