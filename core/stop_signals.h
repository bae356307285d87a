#pragma once

namespace velmoran {

// Sends SIGTERM, SIGINT and SIGHUP (kill, Ctrl+C in the terminal, a logout) to handler, which
// may only do what is safe in a signal handler (set a flag, write to a pipe). Interrupted
// system calls are restarted.
void handleStopSignals(void (*handler)(int));

} // namespace velmoran
