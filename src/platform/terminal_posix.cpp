#include "platform/terminal.h"

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

}  // namespace platform
