#include "platform/interrupt.h"

#include <windows.h>

#include <cstdlib>

namespace platform {
namespace {

std::atomic<bool> g_interrupted{false};

// Windows runs the handler on a thread of its own.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      if (g_interrupted.exchange(true)) {
        static const char kNote[] = "\ninterrupted again: ending now\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), kNote, sizeof kNote - 1, &written, nullptr);
        TerminateProcess(GetCurrentProcess(), kInterruptedExitCode);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

const std::atomic<bool>& InterruptFlag() { return g_interrupted; }

}  // namespace platform
