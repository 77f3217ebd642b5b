#include "platform/interrupt.h"

#include <windows.h>

#include <cstring>

namespace platform {
namespace {

std::atomic<bool> g_interrupted{false};
// Set once before the handler is installed; only read by it.
const char* g_note = "";
std::size_t g_noteLength = 0;
// Signalled by CleanUpFinished (manual reset: every waiting handler is let go, and any
// later one does not wait).
HANDLE g_cleanUpDone = nullptr;

// Windows runs the handler on a thread of its own.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      if (g_interrupted.exchange(true)) {
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), g_note, static_cast<DWORD>(g_noteLength),
                  &written, nullptr);
        TerminateProcess(GetCurrentProcess(), kInterruptedExitCode);
      }
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The process ends as soon as this returns, and about 5 s after a close whatever it
      // does: it holds on until the runs have sent their leave commands and restores, within
      // that time. A close is never the second interrupt that ends at once, even after a
      // Ctrl-C: the clean-up it waits for is the one already under way. (Windows delivers
      // the log-off and the shut-down to a console program only while it has not loaded
      // user32.dll; otherwise they never come here.)
      g_interrupted.store(true);
      if (g_cleanUpDone) {
        WaitForSingleObject(g_cleanUpDone, 4500);
      } else {
        Sleep(4500);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void InstallInterruptHandler(const char* secondNote) {
  g_note = secondNote;
  g_noteLength = std::strlen(secondNote);
  if (!g_cleanUpDone) g_cleanUpDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

const std::atomic<bool>& InterruptFlag() {
  return g_interrupted;
}

void CleanUpFinished() {
  if (g_cleanUpDone) SetEvent(g_cleanUpDone);
}

}  // namespace platform
