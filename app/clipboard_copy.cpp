#include "app/clipboard_copy.h"

#include "app/command_context.h"

#include "app/results_model.h"
#include "app/results_removal_lock.h"
#include "core/dialogs.h"
#include "core/guarded_routine.h"
#include "core/platform.h"
#include "results/spaced_text.h"
#include "results/text_table.h"

namespace velmoran {

namespace {

constexpr int ClipboardAttempts = 1000;

template <typename Attempt> bool withRetry(Attempt attempt)
{
    for (int count = 0; count < ClipboardAttempts; ++count) {
        if (attempt())
            return true;
    }
    return false;
}

} // namespace

bool ClearClipboard(Clipboard& clipboard)
{
    return withRetry([&] { return clipboard.clear(); });
}

bool SetClipboardText(Clipboard& clipboard, const QString& text, int format)
{
    return withRetry([&] { return clipboard.setText(text, format); });
}

ClipboardCopy CopyListviewProperlySpaced(const TextTable& list, Clipboard& clipboard,
                                         EventPump* pump)
{
    if (list.size() == 0)
        return ClipboardCopy::NothingToCopy;
    const QString text = spacedClipboardText(list, pump);
    ClearClipboard(clipboard);
    return SetClipboardText(clipboard, text, 0) ? ClipboardCopy::Copied
                                                : ClipboardCopy::ClipboardBusy;
}

CopyResultsToClipboardCommand::CopyResultsToClipboardCommand(CommandContext& context)
    : m_context(context)
{
}

void CopyResultsToClipboardCommand::PushButton8_Click()
{
    GuardedRoutine routine(m_context.reporter, routineLabel(QStringLiteral("Form1"),
                                                            QStringLiteral("PushButton8_Click")));
    // A failure while the text is built leaves the clipboard untouched: nothing was copied.
    std::optional<ClipboardCopy> outcome;
    routine.step(106, [&] {
        const ResultsRemovalLock::Hold hold(m_context.resultsRemoval);
        outcome = CopyListviewProperlySpaced(
            ResultsTable(m_context.results.rows(), m_context.results.headerTexts()),
            m_context.platform.clipboard, &m_context.pump);
    });
    if (!outcome)
        return;
    routine.step(108, [&] {
        m_context.platform.dialogs.message(QString::fromUtf16(
            *outcome == ClipboardCopy::ClipboardBusy ? ClipboardBusyMessage : CopiedMessage));
    });
}

} // namespace velmoran
