#include "app/main_window_help_command.h"

#include "core/dialogs.h"
#include "core/guarded_routine.h"
#include "core/platform.h"
#include "help/main_window_help.h"

namespace velmoran {

MainWindowHelpCommand::MainWindowHelpCommand(Platform& platform, ErrorReporter& reporter,
                                             std::function<QString()> listContactsCaption)
    : m_platform(platform)
    , m_reporter(reporter)
    , m_listContactsCaption(std::move(listContactsCaption))
{
}

void MainWindowHelpCommand::PushButton13_Click()
{
    GuardedRoutine routine(
        m_reporter, routineLabel(QStringLiteral("Form1"), QStringLiteral("PushButton13_Click")));
    // A failure while the message is built or shown counts as a Yes (a failed test runs the
    // steps it guards).
    const bool wantsVideo = routine.test(100, [&] {
        return m_platform.dialogs.question(mainWindowHelpText(m_listContactsCaption()));
    });
    if (!wantsVideo)
        return;
    routine.step(
        102, [&] { m_platform.shell.openDocument(helpVideoRequest(m_platform.programFolder)); });
}

} // namespace velmoran
