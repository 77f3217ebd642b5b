#include "platform/terminal.h"

#include <unistd.h>

namespace platform {

bool StdinIsTerminal() {
  return ::isatty(STDIN_FILENO) != 0;
}
bool StdoutIsTerminal() {
  return ::isatty(STDOUT_FILENO) != 0;
}
void UseUtf8Console() {}

}  // namespace platform
