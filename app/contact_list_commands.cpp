#include "app/contact_list_commands.h"

#include "app/command_context.h"

#include "app/contact_list_model.h"
#include "app/main_window_help_command.h"
#include "app/mouse_pointer.h"
#include "chat/chat_service.h"
#include "core/dialogs.h"
#include "core/failure.h"
#include "core/guarded_routine.h"
#include "core/platform.h"

#include <QStringList>

#include <algorithm>
#include <memory>
#include <optional>

namespace velmoran {

namespace {

const QString Owner = QStringLiteral("Form1");

ChatService& existing(const std::unique_ptr<ChatService>& service)
{
    if (!service)
        throw Failure(QStringLiteral("The chat service could not be created."));
    return *service;
}

// Ticks (or clears) rows 1 to bound, one numbered step per row. The rows that exist are set in
// one go, so the view hears of a large list once; positions beyond the list fail one by one,
// each reported under the step's label, as a row-by-row pass would.
void tickPass(GuardedRoutine& routine, int stepLabel, ContactListModel& contacts, qsizetype bound,
              bool checked)
{
    const qsizetype present = std::min(bound, contacts.size());
    routine.step(stepLabel, [&] { contacts.setCheckedRange(1, present, checked); });
    for (qsizetype row = std::max<qsizetype>(present + 1, 1); row <= bound; ++row)
        routine.step(stepLabel, [&] { contacts.setChecked(row, checked); });
}

} // namespace

ContactListCommands::ContactListCommands(CommandContext& context)
    : m_context(context)
{
}

void ContactListCommands::PushButton2_Click()
{
    GuardedRoutine routine(m_context.reporter,
                           routineLabel(Owner, QStringLiteral("PushButton2_Click")));
    routine.step(100, [&] { m_context.pointer.set(MousePointer::Hourglass); });

    std::unique_ptr<ChatService> service;
    routine.step(102, [&] { service = m_context.chatServices.create(); });

    // A failed test runs the not-running branch, as if the client had answered false.
    if (routine.test(104, [&] { return !existing(service).isClientRunning(); })) {
        routine.step(106, [&] { m_context.pointer.set(MousePointer::Default); });
        routine.step(108, [&] { m_context.help.PushButton13_Click(); });
        return;
    }

    // When the contacts cannot be read, the loop body still runs once, for a contact that is
    // not there: its steps fail and are reported, and the listing goes on to the tick pass.
    std::optional<QStringList> contacts;
    routine.step(110, [&] { contacts = existing(service).enumerateContacts(); });
    const qsizetype contactCount = contacts ? contacts->size() : 1;
    auto handleAt = [&](qsizetype i) -> const QString& {
        if (!contacts)
            throw Failure(QStringLiteral("The contacts could not be read."));
        return contacts->at(i);
    };

    // The rows are collected and appended in one go after the walk; nothing can look at the
    // list in between, since no window events run.
    QStringList listed;
    for (qsizetype i = 0; i < contactCount; ++i) {
        if (routine.test(112, [&] { return !handleAt(i).isEmpty(); }))
            routine.step(114, [&] { listed << handleAt(i); });
        // 116: next contact.
    }
    m_context.contacts.appendAll(listed);

    const qsizetype rowCount = routine.loopBound(118, [&] { return m_context.contacts.size(); });
    tickPass(routine, 120, m_context.contacts, rowCount, true);
    // 122: next row.

    routine.step(124, [&] { m_context.pointer.set(MousePointer::Default); });

    // Messages the readers had to leave out are told once the listing is complete.
    const QStringList notices = m_context.chatServices.takeNotices();
    if (!notices.isEmpty())
        m_context.platform.dialogs.message(notices.join(QStringLiteral("\r\r")));
}

void ContactListCommands::PushButton3_Click()
{
    setEveryTick(QStringLiteral("PushButton3_Click"), true);
}

void ContactListCommands::PushButton4_Click()
{
    setEveryTick(QStringLiteral("PushButton4_Click"), false);
}

void ContactListCommands::setEveryTick(const QString& routineName, bool checked)
{
    GuardedRoutine routine(m_context.reporter, routineLabel(Owner, routineName));
    const qsizetype rowCount = routine.loopBound(100, [&] { return m_context.contacts.size(); });
    tickPass(routine, 102, m_context.contacts, rowCount, checked);
    // 104: next row.
}

} // namespace velmoran
