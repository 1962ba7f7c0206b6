// Finding the egg: how often the automatic segmentation and the threshold's largest outline
// measure the egg right in each realistic condition (right = length and breadth within 3 %,
// axis within 5 degrees), and the time the segmentation adds to a 24-megapixel photograph beside
// the threshold's outline it replaces.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "batch/photograph_fit.h"
#include "bench/bench_stats.h"
#include "fit/egg_dimensions.h"
#include "fit/fit_target.h"
#include "fit/segmentation.h"
#include "tools/demo_photo_conditions.h"

using namespace meravel;

namespace {

constexpr unsigned kSeeds = 6;
const cv::Size kConditionSize(1200, 900);

bool right_fit(const PhotographFit& fit, const DemoObject& truth) {
  if (!fit.measured()) return false;
  const ModelParameters& m = fit.result.model;
  const auto got = egg_dimensions_of_model(m.lambda_milli, m.width, m.height);
  const auto want = egg_dimensions(truth.lambda, truth.lambda * truth.width, truth.height);
  if (!got || !want) return false;
  const double axis = std::fmod(std::fabs(m.rotation - truth.rotation_deg), 180.0);
  return std::fabs(got->length / want->length - 1.0) <= 0.03 &&
         std::fabs(got->breadth / want->breadth - 1.0) <= 0.03 && std::min(axis, 180 - axis) <= 5;
}

// Right fits of kSeeds photographs of the condition, with the automatic segmentation or with the
// start's threshold 131 (a dark ground's light egg, or --dark on a light ground).
void BM_Condition(benchmark::State& bench, DemoCondition condition, bool automatic) {
  const std::string directory = "/tmp/meravel_segmentation_bench_" + std::to_string(getpid());
  std::filesystem::create_directories(directory);
  int right = 0, measured = 0;
  for (auto _ : bench) {
    right = measured = 0;
    for (unsigned seed = 1; seed <= kSeeds; ++seed) {
      bench.PauseTiming();
      const DemoObject egg = demo_condition_egg(kConditionSize, seed);
      const std::string path = directory + "/photo.jpg";
      cv::Mat photo = render_condition_photo(kConditionSize, egg, condition, seed);
      write_demo_jpeg(path, photo, 92, {});
      SessionStart start;
      if (condition == DemoCondition::kBrownOnPaper) start.polarity = ObjectPolarity::kDarkOnLight;
      std::ostringstream errors;
      bench.ResumeTiming();
      const PhotographFit fit = fit_photograph(path, start, false, errors, automatic);
      measured += fit.measured();
      right += right_fit(fit, egg);
    }
  }
  std::filesystem::remove_all(directory);
  bench.counters["right"] = right;
  bench.counters["measured"] = measured;
  bench.counters["photos"] = kSeeds;
}

cv::Mat photo_24mp() {
  static cv::Mat photo;
  if (photo.empty()) {
    DemoObject egg;
    egg.lambda = 1.1;
    egg.height = 2000;
    egg.width = 2700;
    egg.rotation_deg = 330;
    egg.center_x = 3000;
    egg.center_y = 2000;
    photo = render_demo_photo(cv::Size(6000, 4000), egg);
  }
  return photo;
}

// The outline the segmentation replaces: the threshold's largest, and the segmentation's.
void BM_Outline24MP(benchmark::State& bench, bool automatic) {
  const cv::Mat photo = photo_24mp();
  for (auto _ : bench) {
    if (automatic) {
      benchmark::DoNotOptimize(segment_photograph(photo).chosen);
    } else {
      benchmark::DoNotOptimize(find_outline(photo, 131).contour.size());
    }
  }
}

void register_all() {
  for (const DemoConditionInfo& info : kDemoConditions) {
    for (const bool automatic : {false, true}) {
      const std::string name =
          std::string("Condition/") + info.name + (automatic ? "/automatic" : "/threshold");
      benchmark::RegisterBenchmark(name.c_str(), BM_Condition, info.condition, automatic)
          ->Unit(benchmark::kMillisecond)
          ->Iterations(1);
    }
  }
  for (const bool automatic : {false, true}) {
    with_min_max(
        benchmark::RegisterBenchmark(automatic ? "Outline24MP/automatic" : "Outline24MP/threshold",
                                     BM_Outline24MP, automatic))
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(5);
  }
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
