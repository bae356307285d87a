#include "app/results_filters.h"

#include "app/command_context.h"
#include "core/platform.h"

#include "app/mouse_pointer.h"
#include "app/results_model.h"
#include "app/results_removal_lock.h"
#include "core/dialogs.h"
#include "core/event_pump.h"
#include "core/guarded_routine.h"

#include <vector>

namespace velmoran {

namespace {

void removeSelected(ResultsModel& list, const QString& filterText, EventPump& pump,
                    bool removeMatches)
{
    const QString filter = filterText.toLower();
    std::vector<qsizetype> positions;
    const qsizetype n = list.size();
    for (qsizetype i = 1; i <= n; ++i) {
        pump.yield();
        const QString& contact = list.contact(i);
        // An empty contact contains nothing, not even an empty text.
        const bool found = !contact.isEmpty() && contact.toLower().contains(filter);
        if (found == removeMatches)
            positions.push_back(i);
    }
    list.removePositions(positions);
}

} // namespace

void RemoveListviewEntriesContaining(ResultsModel& list, const QString& filterText, EventPump& pump)
{
    removeSelected(list, filterText, pump, true);
}

void RemoveListviewEntriesNotContaining(ResultsModel& list, const QString& filterText,
                                        EventPump& pump)
{
    removeSelected(list, filterText, pump, false);
}

ResultsFilterCommands::ResultsFilterCommands(CommandContext& context)
    : m_context(context)
{
}

void ResultsFilterCommands::runFilter(const QString& routineName, const QString& prompt,
                                      Filter filter)
{
    // Another filter between its scan and its removal holds positions into the list.
    if (!m_context.resultsRemoval.removalAllowed())
        return;
    GuardedRoutine routine(m_context.reporter, routineLabel(QStringLiteral("Form1"), routineName));
    const QString answer = routine.value(
        100, [&] { return m_context.platform.dialogs.inputBox(prompt); }, QString());
    if (answer.isEmpty())
        return;
    routine.step(104, [&] { m_context.pointer.set(MousePointer::Hourglass); });
    routine.step(106, [&] {
        const ResultsRemovalLock::Hold hold(m_context.resultsRemoval);
        filter(m_context.results, answer, m_context.pump);
    });
    routine.step(108, [&] { m_context.pointer.set(MousePointer::Default); });
}

void ResultsFilterCommands::PushButton17_Click()
{
    runFilter(QStringLiteral("PushButton17_Click"), QStringLiteral("Remove entries containing: "),
              RemoveListviewEntriesContaining);
}

void ResultsFilterCommands::PushButton11_Click()
{
    runFilter(QStringLiteral("PushButton11_Click"),
              QStringLiteral("Remove entries not containing: "),
              RemoveListviewEntriesNotContaining);
}

void ResultsFilterCommands::PushButton6_Click()
{
    if (!m_context.resultsRemoval.removalAllowed())
        return;
    GuardedRoutine routine(m_context.reporter, routineLabel(QStringLiteral("Form1"),
                                                            QStringLiteral("PushButton6_Click")));
    routine.step(100, [&] { m_context.results.clear(); });
}

} // namespace velmoran
