// One trackbar move at 6000x4000 (and 3000x2000): the computing part of the Output view refresh,
// i.e. the model, the composition of the dimmed photograph with the red halves and the yellow
// outline, the energy with the Deviation plot, and the bilinear resize to the display size. Each
// iteration moves "Translation x" by one pixel, back and forth, as a dragged trackbar does; the
// "Show input" move dims the photograph anew. The literal refresh (everything recomputed) is
// timed beside it.
#include <benchmark/benchmark.h>

#include "bench/bench_scene.h"
#include "bench/bench_stats.h"

using namespace meravel;

namespace {

// A model close to the object, as after a first fit.
FitState fitted_session(cv::Size size) {
  FitState state = shared_bench_session(size);
  const DemoObject object = bench_object(size);
  state.model.lambda_milli = 1250;
  state.model.width = static_cast<int>(object.width);
  state.model.height = static_cast<int>(object.height);
  state.model.rotation = 4;
  state.model.translation_x = static_cast<int>(object.center_x);
  state.model.translation_y = static_cast<int>(object.center_y);
  compose_output_view(state, null_stream());
  return state;
}

void BM_TranslationMove(benchmark::State& bench, cv::Size size) {
  FitState state = fitted_session(size);
  int step = 1;
  for (auto _ : bench) {
    state.model.translation_x += step;
    step = -step;
    compose_output_view(state, null_stream());
  }
}

void BM_ShowInputMove(benchmark::State& bench, cv::Size size) {
  FitState state = fitted_session(size);
  int step = 1;
  for (auto _ : bench) {
    state.show_input += step;
    step = -step;
    compose_output_view(state, null_stream());
  }
}

void BM_LiteralRefresh(benchmark::State& bench, cv::Size size) {
  FitState state = fitted_session(size);
  cv::Mat display;
  int step = 1;
  for (auto _ : bench) {
    state.model.translation_x += step;
    step = -step;
    benchmark::DoNotOptimize(literal_refresh(state, &display));
  }
}

void register_benchmarks() {
  for (cv::Size size : {cv::Size(3000, 2000), cv::Size(6000, 4000)}) {
    const std::string suffix = "/" + std::to_string(size.width) + "x" + std::to_string(size.height);
    with_min_max(benchmark::RegisterBenchmark(("translation_move" + suffix).c_str(),
                                              BM_TranslationMove, size)
                     ->Unit(benchmark::kMillisecond)
                     ->UseRealTime());
    with_min_max(
        benchmark::RegisterBenchmark(("show_input_move" + suffix).c_str(), BM_ShowInputMove, size)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime());
    with_min_max(
        benchmark::RegisterBenchmark(("literal_refresh" + suffix).c_str(), BM_LiteralRefresh, size)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(2));
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
