// The deviation energy on a 6000 x 4000 photograph: one optimiser evaluation (model and energy,
// the outline's distance map made once) against the literal procedure that rasterises, traces and
// transforms the whole image on every call; and the once-per-outline work.
#include <benchmark/benchmark.h>

#include "bench_stats.h"
#include "fit/fit_W.h"
#include "reference/literal_energy.h"
#include "tools/demo_photo.h"

namespace {

struct LargePhotograph {
  FitState state;
  double parameters[6] = {1150, 88000, 2960, 2, 3010, 1990};

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
    state.outline_contour = find_outline(state, state.source_image);
    compute_outline_distance(state);
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
  const double* p = large.parameters;
  const double lambda = p[0] / 1000;
  for (auto _ : state) {
    std::vector<cv::Point> left, right;
    generate_w_curve(large.state, lambda, lambda * p[1], p[2], p[3], p[4], p[5], left, right);
    benchmark::DoNotOptimize(literal_deviation_energy(large.state, left, right));
  }
}
BENCHMARK(BM_LiteralEnergy)->Unit(benchmark::kMillisecond)->Iterations(3)->Apply(add_min_max);

void BM_FindOutlineAndDistanceMap(benchmark::State& state) {
  LargePhotograph& large = photograph();
  for (auto _ : state) {
    large.state.outline_contour = find_outline(large.state, large.state.source_image);
    compute_outline_distance(large.state);
  }
}
BENCHMARK(BM_FindOutlineAndDistanceMap)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Apply(add_min_max);

}  // namespace

BENCHMARK_MAIN();
