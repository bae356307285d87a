#include "chat/export_progress.h"

#include "chat/mapped_file.h"

namespace velmoran {

namespace {

// The parse reads on from where it stands; what lies more than a margin behind is done.
constexpr size_t ReleaseStep = 4 << 20;
constexpr size_t ReleaseMargin = 64 << 10;

} // namespace

void ExportProgress::tell(double level)
{
    if (!m_stopped && m_watch(level) == ReadStep::Stop)
        m_stopped = true;
}

ReadStep ExportProgress::report(double done)
{
    if (m_watch && m_scale.raise(done))
        tell(m_scale.level());
    return m_stopped ? ReadStep::Stop : ReadStep::Continue;
}

// A Stop answered here is kept, and answered by the next report.
void ExportProgress::stillReading()
{
    if (m_watch)
        tell(m_scale.level());
}

void ExportProgress::startDocument(const char* document, bool inMapping)
{
    m_releasing = inMapping && m_mapping;
    m_document = document;
    m_releasedOffset = 0;
}

void ExportProgress::releasePagesBefore(size_t offset)
{
    if (!m_releasing || offset < m_releasedOffset + ReleaseStep)
        return;
    m_mapping->release(m_document + offset - ReleaseMargin);
    m_releasedOffset = offset;
}

} // namespace velmoran
