// Shared by the benchmark programs: every timing is reported as min, median and max over the
// repetitions (scripts/bench runs several), beside Google Benchmark's own mean and spread.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

inline benchmark::internal::Benchmark* with_min_max(benchmark::internal::Benchmark* bench) {
  return bench
      ->ComputeStatistics("min",
                          [](const std::vector<double>& v) {
                            return *std::min_element(v.begin(), v.end());
                          })
      ->ComputeStatistics("max", [](const std::vector<double>& v) {
        return *std::max_element(v.begin(), v.end());
      });
}
