#include "platform/clock.h"

#include <windows.h>

#include <timeapi.h>

namespace platform {
namespace {

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

std::int64_t Frequency() {
  static const std::int64_t f = [] {
    LARGE_INTEGER v{};
    QueryPerformanceFrequency(&v);
    return static_cast<std::int64_t>(v.QuadPart);
  }();
  return f;
}

std::int64_t Ticks() {
  LARGE_INTEGER v{};
  QueryPerformanceCounter(&v);
  return static_cast<std::int64_t>(v.QuadPart);
}

std::int64_t Now(std::int64_t unitsPerSecond) {
  const std::int64_t t = Ticks();
  const std::int64_t f = Frequency();
  return (t / f) * unitsPerSecond + (t % f) * unitsPerSecond / f;
}

// One waitable timer per thread, high-resolution where the system offers it (Windows 10
// 1803 and later), an ordinary one otherwise. Closed when the thread ends.
class ThreadTimer {
 public:
  ThreadTimer() {
    handle_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                     TIMER_ALL_ACCESS);
    if (!handle_) handle_ = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
  }
  ~ThreadTimer() {
    if (handle_) CloseHandle(handle_);
  }
  ThreadTimer(const ThreadTimer&) = delete;
  ThreadTimer& operator=(const ThreadTimer&) = delete;

  // Waits about us microseconds.
  void Wait(std::int64_t us) {
    if (!handle_) {
      Sleep(static_cast<DWORD>((us + 999) / 1000));
      return;
    }
    LARGE_INTEGER due{};
    due.QuadPart = -us * 10;  // relative, in 100 ns units
    if (!SetWaitableTimer(handle_, &due, 0, nullptr, nullptr, FALSE)) {
      Sleep(static_cast<DWORD>((us + 999) / 1000));
      return;
    }
    WaitForSingleObject(handle_, INFINITE);
  }

 private:
  HANDLE handle_ = nullptr;
};

class Win32Sleeper final : public Sleeper {
 public:
  // Against an absolute deadline on the performance counter: a timer that fires early
  // is waited again for the rest, so a pause is never shorter than asked.
  void SleepMs(int ms) override {
    if (ms <= 0) return;
    thread_local ThreadTimer timer;
    const std::int64_t deadline = Now(1000000) + std::int64_t{ms} * 1000;
    for (;;) {
      const std::int64_t left = deadline - Now(1000000);
      if (left <= 0) return;
      timer.Wait(left);
    }
  }
};

}  // namespace

// The waitable timer never spins, so both modes are the same pause here.
Sleeper& RealSleeper(SleepMode) {
  static Win32Sleeper sleeper;
  return sleeper;
}

std::int64_t MonotonicMs() {
  return Now(1000);
}
std::int64_t MonotonicUs() {
  return Now(1000000);
}

bool LocalTime(std::time_t t, std::tm* out) {
  return localtime_s(out, &t) == 0;
}

bool UtcTime(std::time_t t, std::tm* out) { return gmtime_s(out, &t) == 0; }

bool LowerTimerSlack() {
  return false;
}

TimerResolutionGuard::TimerResolutionGuard() : raised_(timeBeginPeriod(1) == TIMERR_NOERROR) {}

TimerResolutionGuard::~TimerResolutionGuard() {
  if (raised_) timeEndPeriod(1);
}

}  // namespace platform
