#include "platform/terminal.h"

#include <windows.h>

#include <shellapi.h>

#include "platform/text_win32.h"

namespace platform {
namespace {

// A console handle, not a file or pipe (the C library's _isatty also says yes for NUL).
bool IsConsole(DWORD which) {
  DWORD mode = 0;
  const HANDLE h = GetStdHandle(which);
  return h != INVALID_HANDLE_VALUE && h != nullptr && GetConsoleMode(h, &mode) != 0;
}

}  // namespace

std::vector<std::string> CommandLineArgs(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  args.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) args.push_back(ToUtf8(wide[i]));
  LocalFree(wide);
  return args;
}

bool StdinIsTerminal() {
  return IsConsole(STD_INPUT_HANDLE);
}
bool StdoutIsTerminal() {
  return IsConsole(STD_OUTPUT_HANDLE);
}

TerminalSize OutputTerminalSize() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return {};
  return {static_cast<std::size_t>(info.srWindow.Bottom - info.srWindow.Top + 1),
          static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1)};
}

void UseUtf8Console() {
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
  // The progress bar and the batch's live lines are redrawn with escape sequences, which
  // the console only follows when asked to (Windows 10 and later).
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out != INVALID_HANDLE_VALUE && out != nullptr && GetConsoleMode(out, &mode)) {
    SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
}

}  // namespace platform
