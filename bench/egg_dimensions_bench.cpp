// The egg dimensions of one fit, as a save or a batch run over a series computes them: the closed
// forms and the surface area's quadrature, for lambdas from a slender to a blunt egg and a
// near-degenerate one (the quadrature needs more points when lambda is small).
#include <benchmark/benchmark.h>

#include "bench/bench_stats.h"
#include "fit/egg_dimensions.h"

using namespace meravel;

namespace {

void egg_dimensions_of_one_fit(benchmark::State& state) {
  const int lambda_milli = static_cast<int>(state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(egg_dimensions_of_model(lambda_milli, 4044, 450));
  }
}

}  // namespace

BENCHMARK(egg_dimensions_of_one_fit)
    ->Apply([](benchmark::internal::Benchmark* bench) { with_min_max(bench); })
    ->Arg(50)
    ->Arg(950)
    ->Arg(1100)
    ->Arg(2500)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
