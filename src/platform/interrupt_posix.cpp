#include "platform/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>

namespace platform {
namespace {

std::atomic<bool> g_interrupted{false};
// Set once before the handler is installed; only read by it.
const char* g_note = "";
std::size_t g_noteLength = 0;
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler may only touch lock-free atomics");

void OnSignal(int) {
  if (g_interrupted.exchange(true)) {
    // Only async-signal-safe calls from here on.
    const ssize_t ignored = ::write(2, g_note, g_noteLength);
    (void)ignored;
    ::_exit(kInterruptedExitCode);
  }
}

}  // namespace

void InstallInterruptHandler(const char* secondNote) {
  g_note = secondNote;
  g_noteLength = std::strlen(secondNote);
  struct sigaction action{};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a read of the terminal ends, so a waiting question is answered No. The
  // socket and sleep calls resume on their own after EINTR.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  // A reader that went away (`| head`, a closed terminal) makes writes fail with EPIPE, and
  // the program goes on to its clean-up instead of dying in the write.
  struct sigaction ignore{};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

const std::atomic<bool>& InterruptFlag() { return g_interrupted; }

void CleanUpFinished() {}

}  // namespace platform
