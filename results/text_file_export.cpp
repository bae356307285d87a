#include "text_file_export.h"

#include "dialogs.h"
#include "file_exists.h"
#include "guarded_routine.h"
#include "mouse_pointer.h"
#include "platform.h"
#include "progress_display.h"
#include "results_model.h"
#include "results_removal_lock.h"
#include "text_table.h"

namespace velmoran {

void ProgressDisplaySink::setValue(double value)
{
    m_display.setValue(value);
}

void ProgressDisplaySink::setText(const QString& text)
{
    m_display.setText(text);
}

SaveResultsAsTextFileCommand::SaveResultsAsTextFileCommand(
    Platform& platform, ErrorReporter& reporter, EventPump& pump, MousePointer& pointer,
    ResultsModel& results, ProgressDisplay& progress, ResultsRemovalLock& lock)
    : m_platform(platform)
    , m_reporter(reporter)
    , m_pump(pump)
    , m_pointer(pointer)
    , m_results(results)
    , m_progress(progress)
    , m_lock(lock)
{
}

void SaveResultsAsTextFileCommand::PushButton5_Click()
{
    GuardedRoutine routine(m_reporter, routineLabel(QStringLiteral("Form1"),
                                                    QStringLiteral("PushButton5_Click")));
    SaveDialogRequest request;
    request.fileName = QString();
    request.title = QStringLiteral("Save");
    request.filter = QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|");
    const QString path = routine.value(114, [&] { return m_platform.dialogs.saveFileName(request); },
                                       QString());
    if (path.isEmpty())
        return;
    bool overwrite = true;
    if (routine.test(120, [&] { return FileExists(path); })) {
        overwrite = routine.value(122, [&] {
            return m_platform.dialogs.question(QStringLiteral("Are you sure you wish to overwrite ")
                                               + path + QStringLiteral(" ?"));
        }, false);
    }
    if (!overwrite)
        return;
    routine.step(128, [&] { m_pointer.set(MousePointer::Hourglass); });
    bool written = false;
    routine.step(130, [&] {
        // Rows are read by position while the file is written.
        const ResultsRemovalLock::Hold hold(m_lock);
        const ResultsTable table(m_results);
        ProgressDisplaySink progress(m_progress);
        written = SaveListviewProperlySpaced(table, path, &progress, &m_pump, m_reporter);
    });
    routine.step(132, [&] { m_pointer.set(MousePointer::Default); });
    // The writer has reported why a file was not written; "Done." would say it was.
    if (written)
        routine.step(134, [&] { m_platform.dialogs.message(QStringLiteral("Done.")); });
}

} // namespace velmoran
