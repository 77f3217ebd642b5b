#include "platform/clock.h"

#include <cerrno>
#include <ctime>
#include <sys/prctl.h>

namespace platform {
namespace {

class PosixSleeper final : public Sleeper {
 public:
  void SleepMs(int ms) override {
    if (ms <= 0) return;
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
  }
};

std::int64_t Now(std::int64_t unitsPerSecond) {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * unitsPerSecond +
         static_cast<std::int64_t>(t.tv_nsec) / (1000000000L / unitsPerSecond);
}

}  // namespace

Sleeper& RealSleeper() {
  static PosixSleeper sleeper;
  return sleeper;
}

std::int64_t MonotonicMs() { return Now(1000); }
std::int64_t MonotonicUs() { return Now(1000000); }

bool LocalTime(std::time_t t, std::tm* out) { return localtime_r(&t, out) != nullptr; }

bool LowerTimerSlack() {
#ifdef PR_SET_TIMERSLACK
  return prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
#else
  return false;
#endif
}

// Linux timers already run at fine resolution; LowerTimerSlack covers the rest.
TimerResolutionGuard::TimerResolutionGuard() = default;
TimerResolutionGuard::~TimerResolutionGuard() = default;

}  // namespace platform
