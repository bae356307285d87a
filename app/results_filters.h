#pragma once

#include <QString>

namespace velmoran {

struct CommandContext;

class Dialogs;
class ErrorReporter;
class EventPump;
class MousePointer;
class ResultsModel;
class ResultsRemovalLock;

// Remove the rows whose contact text contains (or does not contain) the filter text, compared
// in lower case; the "Field" and "Value" columns are not looked at. Events run before each row
// is examined; rows appended meanwhile are neither examined nor removed. Rows are removed only
// after the scan, so the caller must keep other removals away until the routine returns
// (ResultsRemovalLock). A failure ends the routine and passes to the caller.
void RemoveListviewEntriesContaining(ResultsModel& list, const QString& filterText,
                                     EventPump& pump);
void RemoveListviewEntriesNotContaining(ResultsModel& list, const QString& filterText,
                                        EventPump& pump);

// "Remove Results Containing X", "Remove Results Not Containing X" and "Clear Results".
class ResultsFilterCommands {
public:
    explicit ResultsFilterCommands(CommandContext& context);

    void PushButton17_Click();
    void PushButton11_Click();
    void PushButton6_Click();

private:
    using Filter = void (*)(ResultsModel&, const QString&, EventPump&);
    void runFilter(const QString& routine, const QString& prompt, Filter filter);

    CommandContext& m_context;
};

} // namespace velmoran
