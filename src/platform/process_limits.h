// Limits the operating system sets on this process, raised where a batch needs them.
#pragma once

#include <cstddef>

namespace platform {

// Raises the number of files and sockets this process may hold open (POSIX: the soft
// RLIMIT_NOFILE) to the most it is allowed (the hard limit), and returns the number now in
// force: a batch that talks to many devices at once keeps one connection and its records per
// device. Unchanged, and still returned, when it cannot be raised. Windows has no such
// limit on sockets and returns a large constant (see process_limits_win32.cpp).
std::size_t RaiseOpenFileLimit();

}  // namespace platform
