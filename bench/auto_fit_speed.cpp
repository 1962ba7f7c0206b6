// Key a's computing part on a 6000x4000 photograph: the automatic fit from an outline whose
// distance map is ready (the fitting windows compute it once per outline, not per key press).
#include <benchmark/benchmark.h>

#include <iostream>

#include "auto_fit_photos.h"
#include "bench_stats.h"

using namespace meravel;

namespace {

struct LargePhotograph {
  FitState state;
  explicit LargePhotograph(const DemoObject& object) {
    session_start(state, benchmark_photo({6000, 4000}, object, true, 7));
  }
};

DemoObject object(double lambda, double height, double pixel_width, double rotation, double x,
                  double y) {
  return {lambda, std::round(width_for_pixel_width(lambda, height, pixel_width)),
          height, rotation,
          x,      y};
}

// A large object (3000 x 2000 px) and a small one (600 x 450 px): the stand-in's cost grows
// with the model's length, the deviation energy's with its bounding box.
LargePhotograph& photograph(int index) {
  static LargePhotograph large(object(1.3, 3000, 2000, 20, 3000, 2000));
  static LargePhotograph small(object(0.8, 600, 450, 300, 2500, 1800));
  return index == 0 ? large : small;
}

void BM_AutoFit6000x4000(benchmark::State& state) {
  LargePhotograph& photo = photograph(static_cast<int>(state.range(0)));
  int evaluations = 0;
  for (auto _ : state) {
    FitState& s = photo.state;
    const AutoFitResult result = auto_fit(s.target, s.source_image, s.threshold, s.cut_offs(),
                                          s.model.rotation, s.work, std::cerr);
    benchmark::DoNotOptimize(result.energy);
    evaluations = result.evaluations;
  }
  state.counters["energies"] = evaluations;
}
BENCHMARK(BM_AutoFit6000x4000)
    ->Apply([](benchmark::internal::Benchmark* b) { with_min_max(b); })
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5);

}  // namespace

BENCHMARK_MAIN();
