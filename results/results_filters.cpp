#include "results_filters.h"

#include "dialogs.h"
#include "event_pump.h"
#include "guarded_routine.h"
#include "mouse_pointer.h"
#include "results_model.h"
#include "results_removal_lock.h"

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

void RemoveListviewEntriesContaining(ResultsModel& list, const QString& filterText,
                                     EventPump& pump)
{
    removeSelected(list, filterText, pump, true);
}

void RemoveListviewEntriesNotContaining(ResultsModel& list, const QString& filterText,
                                        EventPump& pump)
{
    removeSelected(list, filterText, pump, false);
}

ResultsFilterCommands::ResultsFilterCommands(Dialogs& dialogs, ErrorReporter& reporter,
                                             EventPump& pump, MousePointer& pointer,
                                             ResultsModel& results, ResultsRemovalLock& lock)
    : m_dialogs(dialogs)
    , m_reporter(reporter)
    , m_pump(pump)
    , m_pointer(pointer)
    , m_results(results)
    , m_lock(lock)
{
}

void ResultsFilterCommands::runFilter(const QString& routineName, const QString& prompt,
                                      Filter filter)
{
    // Another filter between its scan and its removal holds positions into the list.
    if (!m_lock.removalAllowed())
        return;
    GuardedRoutine routine(m_reporter, routineLabel(QStringLiteral("Form1"), routineName));
    const QString answer = routine.value(100, [&] { return m_dialogs.inputBox(prompt); }, QString());
    if (answer.isEmpty())
        return;
    routine.step(104, [&] { m_pointer.set(MousePointer::Hourglass); });
    routine.step(106, [&] {
        const ResultsRemovalLock::Hold hold(m_lock);
        filter(m_results, answer, m_pump);
    });
    routine.step(108, [&] { m_pointer.set(MousePointer::Default); });
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
    if (!m_lock.removalAllowed())
        return;
    GuardedRoutine routine(m_reporter, routineLabel(QStringLiteral("Form1"),
                                                    QStringLiteral("PushButton6_Click")));
    routine.step(100, [&] { m_results.clear(); });
}

} // namespace velmoran
