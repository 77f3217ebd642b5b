#include "platform/clock.h"

#include <cerrno>
#include <ctime>
#include <sys/prctl.h>

namespace platform {
namespace {

// A wake-up from clock_nanosleep lands tens of microseconds after its deadline even with
// the timer slack lowered; three 1 ms pauses per data block make that several percent of
// the bulk write. So the sleeper wakes a little early and spins the last stretch on the
// (vDSO, syscall-free) clock: a pause is never shorter than asked and hardly longer.
constexpr long kSpinNs = 50000;

long long Ns(const timespec& t) { return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec; }

timespec FromNs(long long ns) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(ns / 1000000000LL);
  t.tv_nsec = static_cast<long>(ns % 1000000000LL);
  return t;
}

class PosixSleeper final : public Sleeper {
 public:
  explicit PosixSleeper(long spinNs) : spinNs_(spinNs) {}
  void SleepMs(int ms) override {
    if (ms <= 0) return;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long deadline = Ns(now) + static_cast<long long>(ms) * 1000000LL;
    const timespec early = FromNs(deadline - spinNs_);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &early, nullptr) == EINTR) {
    }
    do {
      clock_gettime(CLOCK_MONOTONIC, &now);
    } while (Ns(now) < deadline);
  }

 private:
  const long spinNs_;
};

std::int64_t Now(std::int64_t unitsPerSecond) {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * unitsPerSecond +
         static_cast<std::int64_t>(t.tv_nsec) / (1000000000L / unitsPerSecond);
}

}  // namespace

Sleeper& RealSleeper(SleepMode mode) {
  static PosixSleeper spinning(kSpinNs);
  static PosixSleeper plain(0);
  return mode == SleepMode::SpinTail ? spinning : plain;
}

std::int64_t MonotonicMs() { return Now(1000); }
std::int64_t MonotonicUs() { return Now(1000000); }

bool LocalTime(std::time_t t, std::tm* out) { return localtime_r(&t, out) != nullptr; }
bool UtcTime(std::time_t t, std::tm* out) { return gmtime_r(&t, out) != nullptr; }

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
