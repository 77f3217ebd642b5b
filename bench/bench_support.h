// Shared pieces of the benchmark programs: figures with median and spread, and the bulk
// write's span read from quivo-sim's event log.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

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
