#include "platform/interrupt.h"

#include <windows.h>

#include <cstring>

namespace platform {
namespace {

std::atomic<bool> g_interrupted{false};
// Set once before the handler is installed; only read by it.
const char* g_note = "";
std::size_t g_noteLength = 0;

// Windows runs the handler on a thread of its own.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      if (g_interrupted.exchange(true)) {
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), g_note, static_cast<DWORD>(g_noteLength),
                  &written, nullptr);
        TerminateProcess(GetCurrentProcess(), kInterruptedExitCode);
      }
      // A closed console window ends the process as soon as the handler returns: the
      // handler holds on for most of the few seconds Windows grants, so that the runs can
      // send their leave commands and restores.
      if (event == CTRL_CLOSE_EVENT) Sleep(4500);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void InstallInterruptHandler(const char* secondNote) {
  g_note = secondNote;
  g_noteLength = std::strlen(secondNote);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

const std::atomic<bool>& InterruptFlag() { return g_interrupted; }

}  // namespace platform
