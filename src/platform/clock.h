// Pauses and time. The update's waits (1 ms inside a data block, 2,000 ms steps while the
// XPort restarts) go through a Sleeper so that tests can record the schedule instead of
// waiting it out; production always uses RealSleeper().
#pragma once

#include <cstdint>

namespace platform {

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  // Pauses the calling thread for at least ms milliseconds.
  virtual void SleepMs(int ms) = 0;
};

// Sleeps against an absolute deadline on the monotonic clock, so a pause is never
// shorter than asked and an interrupted sleep does not start over.
Sleeper& RealSleeper();

// Monotonic milliseconds and microseconds, for durations only.
std::int64_t MonotonicMs();
std::int64_t MonotonicUs();

// Asks the OS to wake the calling thread as close to its deadlines as it can (Linux:
// timer slack of 1 µs instead of 50 µs). Returns false where it cannot be lowered.
bool LowerTimerSlack();

}  // namespace platform
