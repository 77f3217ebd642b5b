// Pauses and time. The update's waits (1 ms inside a data block, 2,000 ms steps while the
// XPort restarts) go through a Sleeper so that tests can record the schedule instead of
// waiting it out; production always uses RealSleeper().
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  // Pauses the calling thread for at least ms milliseconds.
  virtual void SleepMs(int ms) = 0;
};

// How a real pause ends. SpinTail wakes a little early and spins the last stretch on the
// clock: the most exact pause, for a run that has the machine to itself. Plain leaves the
// whole pause to the OS timer: a little longer, but no CPU burnt, for many runs side by
// side that need the CPU for each other (and for the devices, when simulated).
enum class SleepMode { SpinTail, Plain };

// Sleeps against an absolute deadline on the monotonic clock, so a pause is never
// shorter than asked and an interrupted sleep does not start over.
Sleeper& RealSleeper(SleepMode mode = SleepMode::SpinTail);

// Monotonic milliseconds and microseconds, for durations only.
std::int64_t MonotonicMs();
std::int64_t MonotonicUs();

// Asks the OS to wake the calling thread as close to its deadlines as it can (Linux:
// timer slack of 1 µs instead of 50 µs). Returns false where it cannot be lowered.
bool LowerTimerSlack();

// The local calendar time of t (thread-safe, unlike std::localtime). False on failure.
bool LocalTime(std::time_t t, std::tm* out);
// The same in UTC.
bool UtcTime(std::time_t t, std::tm* out);

// Raises the system timer's resolution to 1 ms for its lifetime, so that the 1 ms pauses
// inside a data block last about 1 ms (Windows: timeBeginPeriod/timeEndPeriod; elsewhere
// nothing to do). Held by the update's job runner for the time of a run.
class TimerResolutionGuard {
 public:
  TimerResolutionGuard();
  ~TimerResolutionGuard();
  TimerResolutionGuard(const TimerResolutionGuard&) = delete;
  TimerResolutionGuard& operator=(const TimerResolutionGuard&) = delete;
  // True when the resolution was raised (and will be put back).
  bool raised() const { return raised_; }

 private:
  bool raised_ = false;
};

}  // namespace platform
