// How the runs of a batch wait out the 1 ms pauses inside each data block.
//
// A spun tail (the last 50 µs of each pause spun on the clock) makes one run's pauses
// exact at the price of about 0.3 s of CPU per run (5,565 pauses). When more runs than
// half the machine's cores go on at once, that CPU is what the other runs, and the devices
// when they are simulated, need, and a spinning thread that loses its core overshoots its
// deadline anyway; then each run leaves the whole pause to the OS timer.
//
// The fleet engine asks once per batch, with the number of runs that go on at once (the
// devices, or --jobs when it is smaller), and gives every run's session the real sleeper
// in that mode.
#pragma once

#include <cstddef>

#include "platform/clock.h"

namespace batch {

// SpinTail while runs <= max(1, cores / 2), Plain beyond. The environment variable
// DERURUZUD_SLEEP_MODE=spin or =plain overrides the choice, for measurements
// (bench/fleet_time measures both ways).
platform::SleepMode SleepModeForBatch(std::size_t runs, unsigned cores);
// The same with this machine's cores (std::thread::hardware_concurrency, 1 when unknown).
platform::SleepMode SleepModeForBatch(std::size_t runs);

}  // namespace batch
