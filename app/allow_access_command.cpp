#include "app/allow_access_command.h"

#include "app/command_context.h"

#include "core/guarded_routine.h"
#include "core/platform.h"
#include "help/main_window_help.h"

namespace velmoran {

AllowAccessCommand::AllowAccessCommand(CommandContext& context)
    : m_context(context)
{
}

void AllowAccessCommand::PushButton1_Click()
{
    GuardedRoutine routine(m_context.reporter, routineLabel(QStringLiteral("Form1"),
                                                            QStringLiteral("PushButton1_Click")));
    routine.step(100, [&] {
        m_context.platform.shell.openDocument(helpVideoRequest(m_context.platform.programFolder));
    });
}

} // namespace velmoran
