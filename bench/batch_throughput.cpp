// Throughput of `meravel fit`: a whole series measured (decoded, set up, fitted with key a's
// automatic fit, saved) with one job and with two, at 800x600 and at 6000x4000. Reported per
// photograph: the rate (photographs per second, wall clock), the processor time of the whole
// process (every job's thread) and the machine's load average when the run ended.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "batch/batch_run.h"
#include "bench/bench_stats.h"
#include "fit/geometry.h"
#include "tools/demo_photo.h"

using namespace meravel;

namespace {

constexpr int kPhotographs = 6;

double process_cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         1e-6 * (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// A series of kPhotographs photographs of `size`, objects of 45 to 70 % of the height at various
// tilts and shapes, made once per size.
std::string directories[2];

const std::string& series_of(cv::Size size) {
  std::string& directory = directories[size.width > 4000 ? 1 : 0];
  if (!directory.empty()) return directory;
  directory =
      "/tmp/meravel_batch_bench_" + std::to_string(getpid()) + "_" + std::to_string(size.width);
  std::filesystem::create_directories(directory);
  for (int i = 0; i < kPhotographs; ++i) {
    DemoObject object;
    object.lambda = 0.9 + 0.07 * i;
    object.height = size.height * (0.45 + 0.05 * i);
    object.width = std::round(
        width_for_pixel_width(object.lambda, object.height, object.height * (0.62 + 0.03 * i)));
    object.rotation_deg = -15.0 + 6.0 * i;
    object.center_x = size.width * (0.45 + 0.02 * i);
    object.center_y = size.height * 0.5;
    DemoLook look;
    look.noise_seed = static_cast<unsigned>(i + 1);
    const std::string path = directory + "/IMG_" + std::to_string(1000 + i) + ".JPG";
    write_demo_jpeg(path, render_demo_photo(size, object, look), 90,
                    {true, "2012:04:02 09:05:03", {}});
  }
  return directory;
}

void BM_FitSeries(benchmark::State& bench, cv::Size size, unsigned jobs, bool automatic) {
  BatchSettings settings;
  settings.directory = series_of(size);
  settings.jobs = jobs;
  settings.automatic_segmentation = automatic;
  std::ostringstream out;
  std::ostringstream progress;
  BatchEnvironment environment{out, progress};
  double cpu = 0.0;
  size_t measured = 0;
  for (auto _ : bench) {
    bench.PauseTiming();
    // Every record of the last run goes, so that each run measures every photograph again.
    for (const char* record : {"/measures.csv", "/measures_details.csv", "/measures.journal"})
      std::filesystem::remove(settings.directory + record);
    const double cpu_before = process_cpu_seconds();
    bench.ResumeTiming();
    const BatchSummary summary = run_batch(settings, environment);
    bench.PauseTiming();
    cpu += process_cpu_seconds() - cpu_before;
    measured += summary.measured;
    if (summary.measured != kPhotographs) bench.SkipWithError("not every photograph measured");
    out.str(std::string());
    progress.str(std::string());
    bench.ResumeTiming();
  }
  bench.SetItemsProcessed(static_cast<int64_t>(measured));
  bench.counters["cpu_s_per_photo"] = measured ? cpu / measured : 0.0;
  double load[1] = {0.0};
  getloadavg(load, 1);
  bench.counters["load_average"] = load[0];
}

void register_all() {
  for (const cv::Size size : {cv::Size(800, 600), cv::Size(6000, 4000)}) {
    for (const unsigned jobs : {1u, 2u}) {
      // The threshold's outline (--threshold given) and the automatic segmentation, side by side.
      for (const bool automatic : {false, true}) {
        const std::string name = "FitSeries/" + std::to_string(size.width) + "x" +
                                 std::to_string(size.height) + "/jobs:" + std::to_string(jobs) +
                                 (automatic ? "/automatic" : "/threshold");
        with_min_max(
            benchmark::RegisterBenchmark(name.c_str(), BM_FitSeries, size, jobs, automatic))
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(size.width > 4000 ? 1 : 3);
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  for (const std::string& directory : directories) {
    std::error_code ignored;
    if (!directory.empty()) std::filesystem::remove_all(directory, ignored);
  }
  return 0;
}
