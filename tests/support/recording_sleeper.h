// A Sleeper that records every pause instead of taking it, so a whole update runs in a
// fraction of a second and the test still sees the exact schedule production uses.
#pragma once

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace testing_support {

class RecordingSleeper : public platform::Sleeper {
 public:
  void SleepMs(int ms) override {
    std::lock_guard lock(mu_);
    calls_.push_back(ms);
  }
  // Every pause, or only those of exactly ms milliseconds.
  std::vector<int> Calls(int ms = -1) const {
    std::lock_guard lock(mu_);
    std::vector<int> out;
    std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(out),
                 [ms](int c) { return ms < 0 || c == ms; });
    return out;
  }
  void Forget() {
    std::lock_guard lock(mu_);
    calls_.clear();
  }

 private:
  mutable std::mutex mu_;
  std::vector<int> calls_;
};

}  // namespace testing_support
