#pragma once

#include "results/text_file_writer.h"

namespace velmoran {

struct CommandContext;

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
    explicit SaveResultsAsTextFileCommand(CommandContext& context);
    void PushButton5_Click();

private:
    CommandContext& m_context;
};

} // namespace velmoran
