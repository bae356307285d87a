#pragma once

#include "text_file_writer.h"

namespace velmoran {

class ErrorReporter;
class EventPump;
class MousePointer;
class ProgressDisplay;
class ResultsModel;
class ResultsRemovalLock;
struct Platform;

// The main window's progress bar as a ProgressSink.
class ProgressDisplaySink final : public ProgressSink {
public:
    explicit ProgressDisplaySink(ProgressDisplay& display)
        : m_display(display)
    {
    }
    void setValue(double value) override;
    void setText(const QString& text) override;

private:
    ProgressDisplay& m_display;
};

// "Save Results As Text File".
class SaveResultsAsTextFileCommand {
public:
    SaveResultsAsTextFileCommand(Platform& platform, ErrorReporter& reporter, EventPump& pump,
                                 MousePointer& pointer, ResultsModel& results,
                                 ProgressDisplay& progress, ResultsRemovalLock& lock);
    void PushButton5_Click();

private:
    Platform& m_platform;
    ErrorReporter& m_reporter;
    EventPump& m_pump;
    MousePointer& m_pointer;
    ResultsModel& m_results;
    ProgressDisplay& m_progress;
    ResultsRemovalLock& m_lock;
};

} // namespace velmoran
