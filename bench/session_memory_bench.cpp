// Peak resident memory of a measurement on a 6000x4000 photograph, as GNU time -v reports it
// ("Maximum resident set size"): a child process loads the JPEG the way the session does, sets up
// the real fitting windows (offscreen), runs key o's pass and key p's three passes through the
// window layer's optimise, and ends. The parent reads the child's peak from wait4. A second child
// only loads the photograph, for comparison. The photograph is rendered into a temporary JPEG
// first, in the parent, so its rendering buffers do not count.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <opencv2/imgcodecs.hpp>
#include <string>

#include "bench/bench_scene.h"
#include "bench/bench_stats.h"
#include "fit/optimiser.h"
#include "windows/fit_windows.h"
#include "windows/measuring_window.h"

using namespace meravel;

namespace {

constexpr const char* kChildFlag = "--session-child=";

// The child's work: "load" only loads; "session" runs the whole measurement.
int child_main(int argc, char** argv, const std::string& what, const char* photo_path) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::freopen("/dev/null", "w", stdout);  // the refreshes' status lines
  QApplication app(argc, argv);
  MeasuringWindow measuring;
  FitState& state = measuring.state;
  state.source_image = cv::imread(photo_path, cv::IMREAD_COLOR);
  if (state.source_image.empty()) return 2;
  if (what == "load") return 0;
  // The benchmarks' scene: the session's set-up with no cut-offs, rotation 0, half dimmed.
  SessionStart start;
  start.cut_offs = {0, 0};
  prepare_fit(state, state.source_image, start);
  state.model.rotation = 0;
  state.show_input = 50;
  show_fit_windows(measuring);
  optimise(measuring, ranges_all_values(state.source_image.size()), 1);
  optimise(measuring, ranges_width(state.model, state.source_image.size()), 1);
  optimise(measuring, ranges_lambda_width(state.model), 1);
  optimise(measuring, ranges_fine(state.model), 1);
  return 0;
}

bool photo_written = false;

const std::string& photo_path() {
  static const std::string path = [] {
    photo_written = true;
    const std::string p = "/tmp/meravel_session_memory_" + std::to_string(getpid()) + ".jpg";
    cv::imwrite(p, bench_photo({6000, 4000}), {cv::IMWRITE_JPEG_QUALITY, 92});
    return p;
  }();
  return path;
}

// Runs this program again as a child doing `what`; returns its peak resident set in MB, or -1.
double child_peak_mb(const std::string& what) {
  const std::string flag = kChildFlag + what;
  const pid_t pid = fork();
  if (pid == 0) {
    const char* args[] = {"/proc/self/exe", flag.c_str(), photo_path().c_str(), nullptr};
    execv(args[0], const_cast<char* const*>(args));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return -1;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return usage.ru_maxrss / 1024.0;  // kilobytes on Linux
}

void BM_PeakMemory(benchmark::State& bench, const char* what) {
  photo_path();
  double peak = 0;
  for (auto _ : bench) peak = child_peak_mb(what);
  bench.counters["peak_rss_MB"] = peak;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strncmp(argv[1], kChildFlag, std::strlen(kChildFlag)) == 0) {
    return child_main(argc, argv, argv[1] + std::strlen(kChildFlag), argv[2]);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  for (const char* what : {"load", "session"}) {
    with_min_max(benchmark::RegisterBenchmark(
                     (std::string("peak_memory_6000x4000/") + what).c_str(), BM_PeakMemory, what)
                     ->Unit(benchmark::kMillisecond)
                     ->UseRealTime()
                     ->Iterations(1));
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (photo_written) std::remove(photo_path().c_str());
  return 0;
}
