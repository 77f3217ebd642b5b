#include "platform/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

std::vector<std::string> CommandLineArgs(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool StdinIsTerminal() {
  return ::isatty(STDIN_FILENO) != 0;
}
bool StdoutIsTerminal() {
  return ::isatty(STDOUT_FILENO) != 0;
}
void UseUtf8Console() {}

TerminalSize OutputTerminalSize() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return {};
  return {size.ws_row, size.ws_col};
}

}  // namespace platform
