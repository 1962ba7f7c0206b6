// The deviation energy on a 6000 x 4000 photograph: one optimiser evaluation (model and energy,
// the outline's distance map made once) against the literal procedure that rasterises, traces and
// transforms the whole image on every call; and the once-per-outline work.
#include <benchmark/benchmark.h>

#include <iostream>

#include "bench_stats.h"
#include "fit/fit_W.h"
#include "reference/literal_energy.h"
#include "tools/demo_photo.h"

using namespace meravel;

namespace {

struct LargePhotograph {
  FitState state;
  ParameterVector parameters = {1150, 88000, 2960, 2, 3010, 1990};

  LargePhotograph() {
    DemoObject object;
    object.lambda = 1.1;
    object.width = 90000;  // about 2100 pixels wide
    object.height = 3000;
    object.center_x = 3000;
    object.center_y = 2000;
    // A light object on a dark ground, so that the object's outline is the largest contour.
    DemoLook look;
    look.background_level = 40;
    look.object_level = 210;
    state.source_image = render_demo_photo(cv::Size(6000, 4000), object, look);
    state.threshold = 131;
    state.deviation_width = 600;
    state.deviation_height = 100;
    rebuild_outline(state);
  }
};

LargePhotograph& photograph() {
  static LargePhotograph large;
  return large;
}

void add_min_max(benchmark::internal::Benchmark* bench) { with_min_max(bench); }

void BM_EvaluateParameters(benchmark::State& state) {
  LargePhotograph& large = photograph();
  for (auto _ : state) {
    benchmark::DoNotOptimize(evaluate_parameters(large.state, large.parameters));
  }
}
BENCHMARK(BM_EvaluateParameters)->Unit(benchmark::kMillisecond)->Apply(add_min_max);

void BM_LiteralEnergy(benchmark::State& state) {
  LargePhotograph& large = photograph();
  for (auto _ : state) {
    std::vector<cv::Point> left, right;
    generate_w_curve(large.parameters, large.state.cut_offs(), left, right, std::cerr);
    benchmark::DoNotOptimize(literal_deviation_energy(large.state, left, right));
  }
}
BENCHMARK(BM_LiteralEnergy)->Unit(benchmark::kMillisecond)->Iterations(3)->Apply(add_min_max);

void BM_FindOutlineAndDistanceMap(benchmark::State& state) {
  LargePhotograph& large = photograph();
  for (auto _ : state) {
    rebuild_outline(large.state);
  }
}
BENCHMARK(BM_FindOutlineAndDistanceMap)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Apply(add_min_max);

}  // namespace

BENCHMARK_MAIN();
