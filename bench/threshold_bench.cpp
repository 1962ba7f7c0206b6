// A threshold change at 6000x4000 (and 3000x2000): grey conversion, binary threshold, contour
// search with the outermost pixel frame as background and the largest outline with its box
// (find_outline), then the outline's distance map (compute_outline_distance, DIST_L2 with the
// 5x5 mask): the session's rebuild_outline. Each iteration alternates the threshold between 130 and
// 131, so every one finds an outline anew. The two parts are also timed on their own.
#include <benchmark/benchmark.h>

#include <opencv2/imgproc.hpp>

#include "bench/bench_scene.h"
#include "bench/bench_stats.h"
#include "fit/distance_transform.h"

using namespace meravel;

namespace {

void BM_ThresholdChange(benchmark::State& bench, cv::Size size) {
  FitState state = shared_bench_session(size);
  for (auto _ : bench) {
    state.threshold = state.threshold == 131 ? 130 : 131;
    rebuild_outline(state);
  }
  bench.counters["outline_points"] = static_cast<double>(state.target.outline_contour.size());
}

void BM_FindOutline(benchmark::State& bench, cv::Size size) {
  FitState state = shared_bench_session(size);
  for (auto _ : bench) {
    state.threshold = state.threshold == 131 ? 130 : 131;
    benchmark::DoNotOptimize(
        find_outline(state.source_image, state.threshold, &state.outline_storage));
  }
}

void BM_OutlineDistance(benchmark::State& bench, cv::Size size) {
  FitState state = shared_bench_session(size);
  state.target.distance_image = cv::Mat();  // a map of its own, not the shared session's
  state.mask_image = cv::Mat();
  for (auto _ : bench) compute_outline_distance(state);
}

// The distance transform alone, on the session's outline mask: OpenCV's and the program's, side
// by side (the results are the same bit for bit; a test checks it).
void BM_OpenCVDistanceTransform(benchmark::State& bench, cv::Size size) {
  const cv::Mat& mask = shared_bench_session(size).mask_image;
  cv::Mat distance(mask.size(), CV_32FC1);
  for (auto _ : bench) cv::distanceTransform(mask, distance, cv::DIST_L2, cv::DIST_MASK_5);
}

void BM_ChamferDistance(benchmark::State& bench, cv::Size size) {
  const cv::Mat& mask = shared_bench_session(size).mask_image;
  cv::Mat distance(mask.size(), CV_32FC1);
  for (auto _ : bench) chamfer_distance_5x5(mask, distance);
}

void register_benchmarks() {
  for (cv::Size size : {cv::Size(3000, 2000), cv::Size(6000, 4000)}) {
    const std::string suffix = "/" + std::to_string(size.width) + "x" + std::to_string(size.height);
    for (auto [name, function] :
         {std::pair{"threshold_change", BM_ThresholdChange},
          std::pair{"find_outline", BM_FindOutline},
          std::pair{"outline_distance", BM_OutlineDistance},
          std::pair{"opencv_distance_transform", BM_OpenCVDistanceTransform},
          std::pair{"chamfer_distance", BM_ChamferDistance}}) {
      with_min_max(benchmark::RegisterBenchmark((name + suffix).c_str(), function, size)
                       ->Unit(benchmark::kMillisecond)
                       ->UseRealTime()
                       ->Iterations(size.width > 4000 ? 3 : 6));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  register_benchmarks();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
