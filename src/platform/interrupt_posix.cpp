#include "platform/interrupt.h"

#include <signal.h>
#include <unistd.h>

namespace platform {
namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler may only touch lock-free atomics");

void OnSignal(int) {
  if (g_interrupted.exchange(true)) {
    // Only async-signal-safe calls from here on.
    static const char kNote[] = "\ninterrupted again: ending now\n";
    const ssize_t ignored = ::write(2, kNote, sizeof kNote - 1);
    (void)ignored;
    ::_exit(kInterruptedExitCode);
  }
}

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action{};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a read of the terminal ends, so a waiting question is answered No. The
  // socket and sleep calls resume on their own after EINTR.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

const std::atomic<bool>& InterruptFlag() { return g_interrupted; }

}  // namespace platform
