#include "batch/sleep_mode.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <thread>

namespace batch {

platform::SleepMode SleepModeForBatch(std::size_t runs, unsigned cores) {
  if (const char* forced = std::getenv("DERURUZUD_SLEEP_MODE")) {
    if (std::string_view(forced) == "spin") return platform::SleepMode::SpinTail;
    if (std::string_view(forced) == "plain") return platform::SleepMode::Plain;
  }
  const std::size_t spinning = std::max<std::size_t>(1, cores / 2);
  return runs <= spinning ? platform::SleepMode::SpinTail : platform::SleepMode::Plain;
}

platform::SleepMode SleepModeForBatch(std::size_t runs) {
  return SleepModeForBatch(runs, std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace batch
