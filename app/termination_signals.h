#pragma once

class QWidget;

namespace velmoran {

// Lets SIGTERM, SIGINT and SIGHUP (a logout, kill, Ctrl+C in the terminal) close the program as
// closing the main window does: a running command ends at its next yield, a file being taken out is
// removed, settings are saved, and the program exits normally. Call once, after the window is
// made.
void closeOnTerminationSignals(QWidget& window);

} // namespace velmoran
