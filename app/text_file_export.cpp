#include "app/text_file_export.h"

#include "app/command_context.h"

#include "app/mouse_pointer.h"
#include "app/progress_display.h"
#include "app/results_model.h"
#include "app/results_removal_lock.h"
#include "core/dialogs.h"
#include "core/file_exists.h"
#include "core/guarded_routine.h"
#include "core/platform.h"
#include "results/text_table.h"

namespace velmoran {

void ProgressDisplaySink::setValue(double value)
{
    m_display.setValue(value);
}

void ProgressDisplaySink::setText(const QString& text)
{
    m_display.setText(text);
}

SaveResultsAsTextFileCommand::SaveResultsAsTextFileCommand(CommandContext& context)
    : m_context(context)
{
}

void SaveResultsAsTextFileCommand::PushButton5_Click()
{
    GuardedRoutine routine(m_context.reporter, routineLabel(QStringLiteral("Form1"),
                                                            QStringLiteral("PushButton5_Click")));
    SaveDialogRequest request;
    request.fileName = QString();
    request.title = QStringLiteral("Save");
    request.filter = QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|");
    const QString path = routine.value(
        114, [&] { return m_context.platform.dialogs.saveFileName(request); }, QString());
    if (path.isEmpty())
        return;
    bool overwrite = true;
    if (routine.test(120, [&] { return FileExists(path); })) {
        overwrite = routine.value(
            122,
            [&] {
                return m_context.platform.dialogs.question(
                    QStringLiteral("Are you sure you wish to overwrite ") + path
                    + QStringLiteral(" ?"));
            },
            false);
    }
    if (!overwrite)
        return;
    routine.step(128, [&] { m_context.pointer.set(MousePointer::Hourglass); });
    bool written = false;
    routine.step(130, [&] {
        // Rows are read by position while the file is written.
        const ResultsRemovalLock::Hold hold(m_context.resultsRemoval);
        const ResultsTable table(m_context.results.rows(), m_context.results.headerTexts());
        ProgressDisplaySink progress(m_context.progress);
        written =
            SaveListviewProperlySpaced(table, path, &progress, &m_context.pump, m_context.reporter);
    });
    routine.step(132, [&] { m_context.pointer.set(MousePointer::Default); });
    // The writer has reported why a file was not written; "Done." would say it was.
    if (written)
        routine.step(134, [&] { m_context.platform.dialogs.message(QStringLiteral("Done.")); });
}

} // namespace velmoran
