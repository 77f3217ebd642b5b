// Ctrl-C for the console programs: the first interrupt asks for an orderly stop, the
// second ends the program at once.
//
// POSIX: SIGINT, SIGTERM and SIGHUP (a closed terminal or ssh session); SIGPIPE is ignored,
// so a write into a closed pipe fails (EPIPE) instead of ending the program before its
// clean-up. Windows: Ctrl-C and Ctrl-Break; the console window's close, the log-off and the
// shut-down also set the flag, and then hold Windows back while the program cleans up.
// The handler is process-wide by nature (the OS has one per process); it only sets a flag
// that the program polls, and ends the process on the second interrupt.
#pragma once

#include <atomic>

namespace platform {

// The exit status of a program ended by an interrupt (128 + SIGINT, as shells report it).
inline constexpr int kInterruptedExitCode = 130;

// Installs the handler. After it, the first interrupt sets InterruptFlag(); the second
// writes secondNote (it must live as long as the program) to the error stream and ends the
// process at once with kInterruptedExitCode, without running destructors or clean-up.
// Blocking reads of the console are not resumed after an interrupt: they end as at the
// end of input, so a question waiting for its answer is answered No.
void InstallInterruptHandler(const char* secondNote);

// True once an interrupt came. Any thread may read it.
const std::atomic<bool>& InterruptFlag();

// Says that the clean-up after an interrupt is done (the leave commands and restores sent,
// the report and history written). Windows ends a process whose console is closed, or whose
// user logs off or shuts down, as soon as the handler returns, and about 5 s after a close
// in any case: the handler waits for this call, or 4.5 s, before it returns, and the
// process may end at any moment after. Call it once, just before the program ends. Does
// nothing on POSIX, and nothing harmful when no close came. Any thread may call it.
void CleanUpFinished();

}  // namespace platform
