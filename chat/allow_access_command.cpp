#include "allow_access_command.h"

#include "guarded_routine.h"
#include "main_window_help_command.h"
#include "platform.h"

namespace velmoran {

AllowAccessCommand::AllowAccessCommand(Platform& platform, ErrorReporter& reporter)
    : m_platform(platform)
    , m_reporter(reporter)
{
}

void AllowAccessCommand::PushButton1_Click()
{
    GuardedRoutine routine(m_reporter, routineLabel(QStringLiteral("Form1"),
                                                    QStringLiteral("PushButton1_Click")));
    routine.step(100, [&] {
        m_platform.shell.openDocument(helpVideoRequest(m_platform.programFolder));
    });
}

} // namespace velmoran
