#include "platform/terminal.h"

#include <windows.h>

namespace platform {
namespace {

// A console handle, not a file or pipe (the C library's _isatty also says yes for NUL).
bool IsConsole(DWORD which) {
  DWORD mode = 0;
  const HANDLE h = GetStdHandle(which);
  return h != INVALID_HANDLE_VALUE && h != nullptr && GetConsoleMode(h, &mode) != 0;
}

}  // namespace

bool StdinIsTerminal() {
  return IsConsole(STD_INPUT_HANDLE);
}
bool StdoutIsTerminal() {
  return IsConsole(STD_OUTPUT_HANDLE);
}

void UseUtf8Console() {
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
}

}  // namespace platform
