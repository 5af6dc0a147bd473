// Helpers the benchmarks share: the median of a repetition's ratios and the load it ran under.
#pragma once

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace qxscsi::bench {

// The median of `v` (0 when empty).
inline double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Records the one-minute load average as the counter "load1".
inline void recordLoad(benchmark::State& state) {
  double load[1] = {-1};
  getloadavg(load, 1);
  state.counters["load1"] = load[0];
}

}  // namespace qxscsi::bench
