// Ctrl-C for the console programs: the first interrupt asks for an orderly stop, the
// second ends the program at once.
//
// POSIX: SIGINT and SIGTERM. Windows: Ctrl-C, Ctrl-Break and the console window's close.
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

}  // namespace platform
