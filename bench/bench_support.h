// Helpers the benchmarks share: the median of a repetition's ratios, the load it ran under, and
// ABBA rounds of two operations interleaved in one run.
#pragma once

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <string>
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

// Calls of step(i) timed together in one chunk of an ABBA round.
constexpr int kChunk = 256;

// Seconds that kChunk calls of step(i) took; negative when one fails.
template <class Step>
double timedChunk(Step step) {
  using Clock = std::chrono::steady_clock;
  auto t0 = Clock::now();
  for (int i = 0; i < kChunk; ++i)
    if (!step(i)) return -1;
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// ABBA rounds of a (the library) and b (the reference), one round an iteration: the counters
// "<nameA>_iops" and "<nameB>_per_s", "ratio" (the median of the rounds' b time / a time) and
// "load1".
template <class A, class B>
void interleave(benchmark::State& state, const char* nameA, A a, const char* nameB, B b) {
  std::vector<double> ratios;
  double secondsA = 0, secondsB = 0;
  for (auto _ : state) {
    double a1 = timedChunk(a), b1 = timedChunk(b), b2 = timedChunk(b), a2 = timedChunk(a);
    if (a1 < 0 || a2 < 0) return state.SkipWithError((std::string(nameA) + " failed").c_str());
    if (b1 < 0 || b2 < 0) return state.SkipWithError((std::string(nameB) + " failed").c_str());
    ratios.push_back((b1 + b2) / (a1 + a2));
    secondsA += a1 + a2;
    secondsB += b1 + b2;
  }
  const double ops = 2.0 * kChunk * static_cast<double>(state.iterations());
  state.counters[std::string(nameA) + "_iops"] = ops / secondsA;
  state.counters[std::string(nameB) + "_per_s"] = ops / secondsB;
  state.counters["ratio"] = median(ratios);
  recordLoad(state);
}

}  // namespace qxscsi::bench
