#pragma once

#include "results/spaced_text.h"

#include <QString>

namespace velmoran {

struct CommandContext;

class Clipboard;
class ErrorReporter;
class EventPump;
class ResultsModel;
class ResultsRemovalLock;
class TextTable;
struct Platform;

// Empties the clipboard; up to 1000 immediate attempts while another program holds it.
// True when an attempt succeeded.
bool ClearClipboard(Clipboard& clipboard);
// Puts text on the clipboard in a format (0: plain text); up to 1000 immediate attempts.
// True when an attempt succeeded.
bool SetClipboardText(Clipboard& clipboard, const QString& text, int format);

enum class ClipboardCopy {
    NothingToCopy, // the list has no rows: the clipboard was not touched
    Copied,
    ClipboardBusy, // another program held the clipboard through every attempt
};

// Builds the text of the list and hands it to the clipboard, which is emptied first.
ClipboardCopy CopyListviewProperlySpaced(const TextTable& list, Clipboard& clipboard,
                                         EventPump* pump);

inline constexpr char16_t CopiedMessage[] =
    u"Results have been copied to the clipboard.\r\rClick a text area where you normally type "
    u"and press Ctrl+V to paste the clipboard.";
inline constexpr char16_t ClipboardBusyMessage[] =
    u"The results could not be copied: another program is holding the clipboard. Please try "
    u"again.";

// "Copy Results To Clipboard".
class CopyResultsToClipboardCommand {
public:
    explicit CopyResultsToClipboardCommand(CommandContext& context);
    void PushButton8_Click();

private:
    CommandContext& m_context;
};

} // namespace velmoran
