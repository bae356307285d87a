#include "clipboard_copy.h"

#include "dialogs.h"
#include "guarded_routine.h"
#include "platform.h"
#include "results_model.h"
#include "results_removal_lock.h"
#include "spaced_text.h"
#include "text_table.h"

namespace velmoran {

namespace {

constexpr int ClipboardAttempts = 1000;

template <typename Attempt>
bool withRetry(Attempt attempt)
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

QString spacedClipboardText(const TextTable& list, EventPump* pump)
{
    const std::vector<qsizetype> widths = ColumnWidths(list, false, pump);
    const int columns = int(widths.size());
    const qsizetype n = list.size();
    YieldPoints yield(pump);
    QString text;
    for (qsizetype k = 1; k <= n; ++k) {
        yield();
        if (!list.isChecked(k))
            continue;
        for (int c = 1; c <= columns; ++c) {
            yield();
            appendCellField(text, list.text(k, c), widths[size_t(c - 1)]);
        }
        text.chop(1); // the last cell's tab
        qsizetype end = text.size();
        while (end > 0 && text[end - 1] == QLatin1Char(' '))
            --end;
        text.truncate(end);
        text += QLatin1String("\r\n");
    }
    return text;
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

CopyResultsToClipboardCommand::CopyResultsToClipboardCommand(Platform& platform,
                                                             ErrorReporter& reporter,
                                                             EventPump& pump,
                                                             ResultsModel& results,
                                                             ResultsRemovalLock& lock)
    : m_platform(platform)
    , m_reporter(reporter)
    , m_pump(pump)
    , m_results(results)
    , m_lock(lock)
{
}

void CopyResultsToClipboardCommand::PushButton8_Click()
{
    GuardedRoutine routine(m_reporter, routineLabel(QStringLiteral("Form1"),
                                                    QStringLiteral("PushButton8_Click")));
    // A failure while the text is built leaves the clipboard untouched: nothing was copied.
    std::optional<ClipboardCopy> outcome;
    routine.step(106, [&] {
        const ResultsRemovalLock::Hold hold(m_lock);
        outcome = CopyListviewProperlySpaced(ResultsTable(m_results), m_platform.clipboard, &m_pump);
    });
    if (!outcome)
        return;
    routine.step(108, [&] {
        m_platform.dialogs.message(QString::fromUtf16(*outcome == ClipboardCopy::ClipboardBusy
                                                          ? ClipboardBusyMessage
                                                          : CopiedMessage));
    });
}

} // namespace velmoran
