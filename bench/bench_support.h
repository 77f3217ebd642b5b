// Shared pieces of the benchmark programs: their common options, an observer that shows
// nothing, figures with median and spread, and the bulk write's span read from
// quivo-sim's event log.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "panel/events.h"

namespace bench {

struct Options {
  int runs = 3;
  std::string address = "127.0.0.1";
  bool flag = false;  // the program's one extra switch, when it has one
};

// Reads --runs N, --address A and, when flagName is given, that switch. Prints usage and
// returns false on anything else.
inline bool ParseOptions(int argc, char** argv, const char* usage, Options* o,
                         const char* flagName = nullptr) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--runs" && i + 1 < argc) {
      o->runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--address" && i + 1 < argc) {
      o->address = argv[++i];
    } else if (flagName && a == flagName) {
      o->flag = true;
    } else {
      std::fprintf(stderr, "usage: %s\n", usage);
      return false;
    }
  }
  return true;
}

// A run's observer that shows nothing, keeps the last notice and answers every question
// alike.
class SilentHost final : public panel::RunObserver {
 public:
  explicit SilentHost(bool answer = true) : answer_(answer) {}
  void OnEvent(const panel::Event& event) override {
    if (const auto* n = std::get_if<panel::NoticeRaised>(&event)) {
      last_ = std::string(panel::CaptionText(n->caption)) + ": " + panel::Render(n->message);
    }
  }
  bool OnQuestion(const panel::Question&) override { return answer_; }
  const std::string& last() const { return last_; }

 private:
  bool answer_;
  std::string last_;
};

// The protocol's own floor: 1,855 data blocks with three 1 ms pauses each.
inline constexpr double kFloorSeconds = 1855 * 3 / 1000.0;

struct Figure {
  std::string name;
  std::vector<double> values;

  void Add(double v) { values.push_back(v); }
  double Median() const {
    if (values.empty()) return 0;
    std::vector<double> v = values;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }
  void Print(const char* unit) const {
    if (values.empty()) return;
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    std::printf("  %-34s median %9.3f %s   spread %.3f .. %.3f\n", name.c_str(), Median(), unit,
                *lo, *hi);
  }
};

// The milliseconds stamped on the first event line that contains what; -1 when none.
inline long EventMs(const std::vector<std::string>& events, const std::string& what,
                    std::size_t from = 0, std::size_t* at = nullptr) {
  for (std::size_t i = from; i < events.size(); ++i) {
    if (events[i].find(what) != std::string::npos) {
      if (at) *at = i;
      return std::strtol(events[i].c_str(), nullptr, 10);
    }
  }
  return -1;
}

}  // namespace bench
