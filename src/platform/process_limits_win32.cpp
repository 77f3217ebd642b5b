#include "platform/process_limits.h"

namespace platform {

// Winsock sockets are kernel handles, not entries in the C runtime's table of descriptors
// (whose 512 can be raised with _setmaxstdio but is never used here for sockets), and the
// files the program opens are few and short-lived. The limit that remains is the process's
// handle table (about 16 million): this constant only stands for "more than a batch needs".
std::size_t RaiseOpenFileLimit() {
  return 16384;
}

}  // namespace platform
