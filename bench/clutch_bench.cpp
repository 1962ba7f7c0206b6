// A clutch in one photograph: how often every egg of generated clutches (2-6 eggs, one touching
// pair, on cloth and on a card with a ruler) is found, how close each egg's lambda (3 %) and
// length (2 %) come to the truth, whether the touching pair is measured within those limits or
// flagged; and the time of a photograph with six eggs beside six photographs of one egg each,
// measured side by side in one run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "batch/clutch_fit.h"
#include "batch/photograph_fit.h"
#include "fit/egg_dimensions.h"
#include "tools/demo_photo_clutch.h"

using namespace meravel;

namespace {

constexpr unsigned kPhotos = 10;  // per ground: egg counts 2, 3, 4, 5, 6, twice
const cv::Size kAccuracySize(1600, 1200);
const cv::Size kSpeedSize(3000, 2250);

struct EggError {
  double lambda = 0, length = 0;  // relative
  bool within() const { return lambda <= 0.03 && length <= 0.02; }
};

EggError error_of(const PhotographFit& fit, const DemoObject& truth) {
  const ModelParameters& m = fit.result.model;
  const auto got = egg_dimensions_of_model(m.lambda_milli, m.width, m.height);
  const auto want = egg_dimensions(truth.lambda, truth.lambda * truth.width, truth.height);
  if (!fit.measured() || !got || !want) return {1.0, 1.0};
  // The model's lambda describes the egg from its top: the truth's or its inverse.
  const double lambda = std::min(std::fabs(fit.result.lambda / truth.lambda - 1.0),
                                 std::fabs(fit.result.lambda * truth.lambda - 1.0));
  return {lambda, std::fabs(got->length / want->length - 1.0)};
}

// The true egg whose centre lies nearest the fit's centre; -1 when none lies within half a length.
int true_egg_of(const PhotographFit& fit, const std::vector<DemoObject>& eggs) {
  int best = -1;
  double nearest = HUGE_VAL;
  for (size_t i = 0; i < eggs.size(); ++i) {
    const double d =
        std::hypot(fit.egg_centre_px.x - eggs[i].center_x, fit.egg_centre_px.y - eggs[i].center_y);
    if (d < nearest && d < 0.5 * eggs[i].height) {
      nearest = d;
      best = static_cast<int>(i);
    }
  }
  return best;
}

void BM_ClutchAccuracy(benchmark::State& bench, ClutchGround ground) {
  const std::string directory = "/tmp/meravel_clutch_bench_" + std::to_string(getpid());
  std::filesystem::create_directories(directory);
  int count_exact = 0, eggs = 0, lambda_ok = 0, length_ok = 0, pair_ok = 0;
  for (auto _ : bench) {
    count_exact = eggs = lambda_ok = length_ok = pair_ok = 0;
    for (unsigned seed = 1; seed <= kPhotos; ++seed) {
      bench.PauseTiming();
      const int count = 2 + static_cast<int>((seed - 1) % 5);
      const DemoClutch demo = make_demo_clutch(kAccuracySize, count, ground, seed);
      const std::string path = directory + "/clutch.jpg";
      write_demo_jpeg(path, demo.photo, 92, {});
      std::ostringstream errors;
      bench.ResumeTiming();
      const ClutchPhotographFit fit = fit_clutch_photograph(path, SessionStart{}, false, errors);
      count_exact += fit.eggs.size() == demo.eggs.size();
      // The pair counts as right when each of its eggs is measured within the limits or flagged.
      bool pair[2] = {false, false};
      for (const PhotographFit& egg : fit.eggs) {
        const int truth = true_egg_of(egg, demo.eggs);
        if (truth < 0) continue;
        const EggError error = error_of(egg, demo.eggs[truth]);
        ++eggs;
        lambda_ok += error.lambda <= 0.03;
        length_ok += error.length <= 0.02;
        for (int p = 0; p < 2; ++p) {
          if (truth == demo.touching[p])
            pair[p] = error.within() || egg.result.warnings.egg_touching;
        }
      }
      pair_ok += pair[0] && pair[1];
    }
  }
  std::filesystem::remove_all(directory);
  bench.counters["photos"] = kPhotos;
  bench.counters["count_exact"] = count_exact;
  bench.counters["eggs_matched"] = eggs;
  bench.counters["lambda_3pc"] = lambda_ok;
  bench.counters["length_2pc"] = length_ok;
  bench.counters["pair_ok"] = pair_ok;
}

// The same eggs as BM_ClutchAccuracy's, each alone in a photograph of the same size and ground,
// measured with the one-egg segmentation: what the clutch's eggs are compared with.
void BM_SameEggsAlone(benchmark::State& bench, ClutchGround ground) {
  const std::string directory = "/tmp/meravel_clutch_alone_" + std::to_string(getpid());
  std::filesystem::create_directories(directory);
  int eggs = 0, lambda_ok = 0, length_ok = 0;
  for (auto _ : bench) {
    eggs = lambda_ok = length_ok = 0;
    for (unsigned seed = 1; seed <= kPhotos; ++seed) {
      const int count = 2 + static_cast<int>((seed - 1) % 5);
      const DemoClutch demo = make_demo_clutch(kAccuracySize, count, ground, seed);
      for (size_t i = 0; i < demo.eggs.size(); ++i) {
        const DemoObject& egg = demo.eggs[i];
        bench.PauseTiming();
        const std::string path = directory + "/egg.jpg";
        write_demo_jpeg(path,
                        render_demo_clutch(kAccuracySize, {egg}, ground, seed, static_cast<int>(i)),
                        92, {});
        std::ostringstream errors;
        bench.ResumeTiming();
        const EggError error =
            error_of(fit_photograph(path, SessionStart{}, false, errors, true), egg);
        ++eggs;
        lambda_ok += error.lambda <= 0.03;
        length_ok += error.length <= 0.02;
      }
    }
  }
  std::filesystem::remove_all(directory);
  bench.counters["eggs"] = eggs;
  bench.counters["lambda_3pc"] = lambda_ok;
  bench.counters["length_2pc"] = length_ok;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One photograph of six eggs measured egg by egg, and the same six eggs in six photographs of the
// same size, one egg each, measured with the one-egg segmentation: the ratio of the two times.
void BM_SixEggsBesideSixPhotographs(benchmark::State& bench) {
  const std::string directory = "/tmp/meravel_clutch_speed_" + std::to_string(getpid());
  std::filesystem::create_directories(directory);
  const DemoClutch demo = make_demo_clutch(kSpeedSize, 6, ClutchGround::kCloth, 4);
  write_demo_jpeg(directory + "/six.jpg", demo.photo, 92, {});
  for (size_t i = 0; i < demo.eggs.size(); ++i) {
    write_demo_jpeg(directory + "/one" + std::to_string(i) + ".jpg",
                    render_demo_clutch(kSpeedSize, {demo.eggs[i]}, ClutchGround::kCloth, 4,
                                       static_cast<int>(i)),
                    92, {});
  }
  double clutch_s = 0, singles_s = 0;
  size_t found = 0;
  for (auto _ : bench) {
    std::ostringstream errors;
    auto start = std::chrono::steady_clock::now();
    found =
        fit_clutch_photograph(directory + "/six.jpg", SessionStart{}, false, errors).eggs.size();
    clutch_s += seconds_since(start);
    start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < demo.eggs.size(); ++i) {
      fit_photograph(directory + "/one" + std::to_string(i) + ".jpg", SessionStart{}, false, errors,
                     true);
    }
    singles_s += seconds_since(start);
  }
  std::filesystem::remove_all(directory);
  bench.counters["eggs_found"] = static_cast<double>(found);
  bench.counters["six_eggs_s"] = clutch_s / bench.iterations();
  bench.counters["six_photos_s"] = singles_s / bench.iterations();
  bench.counters["ratio"] = clutch_s / singles_s;
}

}  // namespace

BENCHMARK_CAPTURE(BM_ClutchAccuracy, cloth, ClutchGround::kCloth)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_ClutchAccuracy, card_with_ruler, ClutchGround::kCardWithRuler)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_SameEggsAlone, cloth, ClutchGround::kCloth)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_SameEggsAlone, card_with_ruler, ClutchGround::kCardWithRuler)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_SixEggsBesideSixPhotographs)->Unit(benchmark::kMillisecond)->Iterations(2);

BENCHMARK_MAIN();
