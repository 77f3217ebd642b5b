// Fifty updates in one process through one session, as a front end that stays open all day
// would run them, good and faulty in turn: nothing may pile up. Open descriptors are
// counted here; leaks of memory are left to the sanitizer build, whose LeakSanitizer
// checks at exit.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "support/update_harness.h"

namespace {

using testing_support::kFinalStatus;
using testing_support::OpenDescriptorCount;
using testing_support::UpdateRun;

constexpr int kRuns = 50;

// The faulty runs, in turn: each ends at a different stage and on a different path of the
// clean-up (with and without restore, link lost or still open).
sim::Config Faulty(int n) {
  sim::Config c;
  switch (n % 7) {
    case 0:
      c.faults.identify = sim::IdentifyFault::Silent;
      break;
    case 1:
      c.faults.blocks.push_back({"bulk:928", sim::BlockFault::Close});
      break;
    case 2:
      c.faults.blocks.push_back({"single:0x294", sim::BlockFault::Reset});
      c.needsOverride = true;
      break;
    case 3:
      c.faults.xport = sim::XPortFault::ShortRecord;
      break;
    case 4:
      c.faults.blocks.push_back({"bulk:1", sim::BlockFault::WrongEcho});
      break;
    case 5:
      c.needsOverride = true;
      c.faults.refuseSet = 2;
      c.faults.leave = sim::LeaveFault::Reset;
      break;
    default:
      c.faults.blocks.push_back({"version", sim::BlockFault::Silent});
      break;
  }
  return c;
}

TEST(Soak, FiftyRunsLeaveNothingOpen) {
  UpdateRun run;
  run.SetWaitsMs(200, 200);
  const std::int64_t start = platform::MonotonicMs();
  int before = -1;
  int good = 0;
  for (int i = 0; i < kRuns; ++i) {
    const bool faulty = i % 2 == 1;
    run.Reconfigure(faulty ? Faulty(i / 2) : sim::Config{});
    const int result = run.Run().result;
    ASSERT_EQ(run.host.Text(panel::IDC_STATUS), kFinalStatus) << "run " << i;
    if (!faulty) {
      ASSERT_EQ(result, 1) << "run " << i;
      ++good;
    }
    // Counted with no simulator standing, after the first pair, so that whatever a first
    // use opens for good is not taken for growth.
    if (i == 1) {
      run.StopDevice();
      before = OpenDescriptorCount();
    }
  }
  run.StopDevice();
  const int after = OpenDescriptorCount();
  const std::int64_t wallMs = platform::MonotonicMs() - start;
  std::printf(
      "soak: %d runs (%d good) in %lld ms; open descriptors %d after two runs, %d "
      "after %d\n",
      kRuns, good, static_cast<long long>(wallMs), before, after, kRuns);
  ASSERT_GE(before, 0) << "descriptors cannot be counted here";
  EXPECT_EQ(after, before);
  EXPECT_EQ(good, kRuns / 2);
}

}  // namespace
