// Opening a photograph for a measurement, at 800x600, 3000x2000 and 6000x4000 (the benchmarks'
// synthetic photograph, JPEG quality 92):
// - open/WxH: from the path to the first status line of the real session (measure_photo with its
//   windows, offscreen), which has composed and shown the first Output view; the session is then
//   cancelled. Beside it, in the same iterations, the JPEG decode alone of the same file
//   (cv::imread): decode_alone_ms and open_to_decode, the ratio of the two. cpu_ms is the
//   process's CPU time (every thread) from the path to the first status line.
// - open_main_window/WxH: the same open through the main window's session
//   (measure_prefetched_photo) with nothing read ahead: the photograph is read on the prefetch's
//   thread while the main window repaints, as for the first photograph of a series.
// - open_prefetched/WxH: the same open of a photograph the prefetch has already read, as after ">"
//   during a series.
// - stages/WxH: the steps of an open one after the other on the program's fit state, each timed
//   alone: decode (cv::imread), grey and threshold, contour search and outline, distance map,
//   the working images and the rest of the core's set-up (prepare_fit less the three before),
//   composition and resize (compose_output_view from scratch), and window set-up (the windows,
//   trackbars and imshow: show_fit_windows less its own composition); each as wall time (_ms)
//   and as the process's CPU time (_cpu_ms), which a busy machine disturbs less.
// - peak_memory/WxH/...: the peak resident set of a child process that opens the photograph and
//   ends at the first status line ("open"), the same with a second decoded photograph held as the
//   prefetch keeps one ("open_with_prefetched_held"), and one that only decodes ("decode").
// Every figure is a mean over the iterations of one repetition; scripts/bench repeats and reports
// median, minimum and maximum. The load average is in the context printed first.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QtGlobal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>
#include <optional>
#include <streambuf>
#include <string>

#include "app/photo_open.h"
#include "bench/bench_scene.h"
#include "bench/bench_stats.h"
#include "fit/fit_internal.h"
#include "series/photo_file.h"
#include "windows/fit_session.h"
#include "windows/fit_windows.h"

using namespace meravel;

namespace {

constexpr const char* kChildFlag = "--open-child=";

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double process_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

std::string size_name(cv::Size size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

std::string photo_path(cv::Size size) {
  return "/tmp/meravel_open_bench_" + std::to_string(getpid()) + "_" + size_name(size) + ".jpg";
}

const cv::Size kSizes[] = {{800, 600}, {3000, 2000}, {6000, 4000}};

void write_photos() {
  for (cv::Size size : kSizes) {
    cv::imwrite(photo_path(size), bench_photo(size), {cv::IMWRITE_JPEG_QUALITY, 92});
  }
}

void remove_photos() {
  for (cv::Size size : kSizes) std::remove(photo_path(size).c_str());
}

// The session's start from the main window's defaults.
SessionStart bench_start() {
  SessionStart start;
  start.threshold = 131;
  start.lambda = 1.1;
  start.cut_offs = {0, 0};
  return start;
}

// Stands in for standard output during a session: notes when the first status line is complete
// and asks the session to end at its first key wait.
class FirstStatusLine : public std::streambuf {
 public:
  explicit FirstStatusLine(MeasuringWindow& measuring) : measuring_(measuring) {}
  bool seen = false;
  Clock::time_point at;
  double cpu_at = 0;

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return 0;
    line_.push_back(static_cast<char>(c));
    if (c == '\n') {
      if (!seen && line_.rfind("energy=", 0) == 0) {
        at = Clock::now();
        cpu_at = process_cpu_seconds();
        seen = true;
        measuring_.request_cancel();
      }
      line_.clear();
    }
    return c;
  }

 private:
  MeasuringWindow& measuring_;
  std::string line_;
};

struct OpenTiming {
  bool ok = false;
  double wall = 0;
  double cpu = 0;
};

using Session = std::optional<SessionResult> (*)(MeasuringWindow&, const std::string&,
                                                 const SessionStart&);

// The session on a photograph read on demand.
std::optional<SessionResult> measure_photo(MeasuringWindow& measuring, const std::string& path,
                                           const SessionStart& start) {
  return measuring.measure_photo(path, start);
}

// The real open of the photograph at `path`, up to its first status line.
OpenTiming open_photo(const std::string& path, Session session = measure_photo) {
  MeasuringWindow measuring;
  FirstStatusLine sink(measuring);
  std::streambuf* const kept = std::cout.rdbuf(&sink);
  const Clock::time_point start = Clock::now();
  const double cpu_start = process_cpu_seconds();
  session(measuring, path, bench_start());
  std::cout.rdbuf(kept);
  OpenTiming timing;
  timing.ok = sink.seen;
  timing.wall = std::chrono::duration<double>(sink.at - start).count();
  timing.cpu = sink.cpu_at - cpu_start;
  return timing;
}

void BM_Open(benchmark::State& bench, cv::Size size, Session session) {
  const std::string path = photo_path(size);
  double decode = 0;
  double open = 0;
  double cpu = 0;
  for (auto _ : bench) {
    Clock::time_point start = Clock::now();
    benchmark::DoNotOptimize(cv::imread(path, cv::IMREAD_COLOR).data);
    decode += seconds_since(start);
    const OpenTiming timing = open_photo(path, session);
    if (!timing.ok) {
      bench.SkipWithError("no status line");
      break;
    }
    open += timing.wall;
    cpu += timing.cpu;
    bench.SetIterationTime(timing.wall);
  }
  const double n = static_cast<double>(bench.iterations());
  if (n == 0) return;
  bench.counters["decode_alone_ms"] = 1000 * decode / n;
  bench.counters["cpu_ms"] = 1000 * cpu / n;
  bench.counters["open_to_decode"] = open / decode;
}

// The open of a photograph that the prefetch has read ahead, as after ">" during a series: the
// main window's session (measure_prefetched_photo) up to the first status line. The read ahead is
// not timed; the read of the next file that the session starts after its first view is dropped.
void BM_OpenPrefetched(benchmark::State& bench, cv::Size size) {
  const std::string path = photo_path(size);
  double open = 0;
  double cpu = 0;
  for (auto _ : bench) {
    bench.PauseTiming();
    photograph_prefetch().prefetch(path);
    photograph_prefetch().wait_until_read(path, std::chrono::minutes(1));
    bench.ResumeTiming();
    const OpenTiming timing = open_photo(path, measure_prefetched_photo);
    if (!timing.ok) {
      bench.SkipWithError("no status line");
      break;
    }
    open += timing.wall;
    cpu += timing.cpu;
    bench.SetIterationTime(timing.wall);
  }
  const double n = static_cast<double>(bench.iterations());
  if (n == 0) return;
  bench.counters["cpu_ms"] = 1000 * cpu / n;
}

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c == traits_type::eof() ? 0 : c; }
};

// The wall and CPU time of one step.
struct StepTime {
  double wall = 0;
  double cpu = 0;
  StepTime& operator+=(const StepTime& o) {
    wall += o.wall;
    cpu += o.cpu;
    return *this;
  }
  StepTime operator-(const StepTime& o) const {
    return {std::max(0.0, wall - o.wall), std::max(0.0, cpu - o.cpu)};
  }
};

template <typename Step>
StepTime time_step(Step step) {
  const Clock::time_point start = Clock::now();
  const double cpu_start = process_cpu_seconds();
  step();
  return {seconds_since(start), process_cpu_seconds() - cpu_start};
}

void BM_Stages(benchmark::State& bench, cv::Size size) {
  const std::string path = photo_path(size);
  StepTime decode, grey, contour, distance, rest, compose, windows;
  NullBuffer null_buffer;
  std::ostream null_stream(&null_buffer);
  for (auto _ : bench) {
    MeasuringWindow measuring;
    FitState& state = measuring.state;

    cv::Mat photo;
    decode += time_step([&] { photo = cv::imread(path, cv::IMREAD_COLOR); });

    cv::Mat binary;
    const StepTime grey_t = time_step([&] { binarise_photograph(photo, 131, binary); });
    std::vector<std::vector<cv::Point>> contours;
    Outline outline;
    const StepTime contour_t = time_step([&] { outline = largest_outline(binary, contours); });
    binary.release();
    FitTarget target;
    cv::Mat mask;
    const StepTime distance_t =
        time_step([&] { rebuild_fit_target(target, outline.contour, photo.size(), mask); });
    target = FitTarget();
    mask.release();

    const StepTime prepare_t = time_step([&] { prepare_fit(state, photo, bench_start()); });

    state.composed_overlay.release();
    state.composed_source.release();
    const StepTime compose_t = time_step([&] { compose_output_view(state, null_stream); });

    state.composed_overlay.release();
    state.composed_source.release();
    std::streambuf* const kept = std::cout.rdbuf(&null_buffer);
    const StepTime show_t = time_step([&] { show_fit_windows(measuring); });
    std::cout.rdbuf(kept);
    cv::destroyAllWindows();
    state = FitState();

    grey += grey_t;
    contour += contour_t;
    distance += distance_t;
    rest += prepare_t - grey_t - contour_t - distance_t;
    compose += compose_t;
    windows += show_t - compose_t;
    bench.SetIterationTime(grey_t.wall + contour_t.wall + prepare_t.wall + compose_t.wall +
                           show_t.wall);
  }
  const double n = static_cast<double>(bench.iterations());
  if (n == 0) return;
  const std::pair<const char*, const StepTime*> steps[] = {
      {"decode", &decode},         {"grey_threshold", &grey}, {"contour_outline", &contour},
      {"distance_map", &distance}, {"working_images", &rest}, {"compose_resize", &compose},
      {"window_setup", &windows}};
  for (const auto& [name, step] : steps) {
    bench.counters[std::string(name) + "_ms"] = 1000 * step->wall / n;
    bench.counters[std::string(name) + "_cpu_ms"] = 1000 * step->cpu / n;
  }
}

// The offscreen platform's notes on every window would bury the table.
void drop_qt_message(QtMsgType, const QMessageLogContext&, const QString&) {}

// The child's work: "decode" decodes only; "open" opens up to the first status line;
// "open_with_prefetched_held" does so with a second decoded photograph of the same size held.
// The peak resident set of this process's own memory since its exec, in MB ("VmHWM"; the
// rusage maximum would include the parent's memory copied at the fork).
double own_peak_mb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return -1;
}

// The child's peak goes to descriptor 3, which the parent reads.
int report_peak(int code) {
  const std::string text = std::to_string(own_peak_mb());
  if (write(3, text.data(), text.size()) < 0) return 4;
  return code;
}

int child_main(int argc, char** argv, const std::string& what, const char* path) {
  if (!std::getenv("MERAVEL_BENCH_FRESH_PAGES")) keep_freed_images_for_reuse();
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  qInstallMessageHandler(drop_qt_message);
  QApplication app(argc, argv);
  if (what == "decode") return report_peak(cv::imread(path, cv::IMREAD_COLOR).empty() ? 2 : 0);
  PhotographFile held;
  if (what == "open_with_prefetched_held") {
    held = load_photograph_file(path);
    if (held.status != PhotographFile::loaded) return 2;
  }
  return report_peak(open_photo(path).ok ? 0 : 3);
}

// Runs this program again as a child doing `what`; its peak resident set in MB, or -1.
double child_peak_mb(const std::string& what, const std::string& path) {
  const std::string flag = kChildFlag + what;
  int report[2];
  if (pipe(report) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(report[1], 3);
    const char* args[] = {"/proc/self/exe", flag.c_str(), path.c_str(), nullptr};
    execv(args[0], const_cast<char* const*>(args));
    _exit(127);
  }
  close(report[1]);
  std::string text;
  char buffer[64];
  ssize_t length;
  while ((length = read(report[0], buffer, sizeof buffer)) > 0) text.append(buffer, length);
  close(report[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.empty()) return -1;
  return std::atof(text.c_str());
}

void BM_PeakMemory(benchmark::State& bench, cv::Size size, const char* what) {
  double peak = 0;
  for (auto _ : bench) peak = child_peak_mb(what, photo_path(size));
  if (peak < 0) bench.SkipWithError("the child failed");
  bench.counters["peak_rss_MB"] = peak;
}

void register_benchmarks() {
  for (cv::Size size : kSizes) {
    const std::string name = size_name(size);
    const int iterations = size.width > 4000 ? 3 : size.width > 1000 ? 5 : 10;
    with_min_max(
        benchmark::RegisterBenchmark(("open/" + name).c_str(), BM_Open, size, measure_photo)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(iterations));
    with_min_max(benchmark::RegisterBenchmark(("open_main_window/" + name).c_str(), BM_Open, size,
                                              measure_prefetched_photo)
                     ->Unit(benchmark::kMillisecond)
                     ->UseManualTime()
                     ->Iterations(iterations));
    with_min_max(
        benchmark::RegisterBenchmark(("open_prefetched/" + name).c_str(), BM_OpenPrefetched, size)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(iterations));
    with_min_max(benchmark::RegisterBenchmark(("stages/" + name).c_str(), BM_Stages, size)
                     ->Unit(benchmark::kMillisecond)
                     ->UseManualTime()
                     ->Iterations(iterations));
  }
  for (cv::Size size : kSizes) {
    for (const char* what : {"open", "open_with_prefetched_held", "decode"}) {
      with_min_max(
          benchmark::RegisterBenchmark(("peak_memory/" + size_name(size) + "/" + what).c_str(),
                                       BM_PeakMemory, size, what)
              ->Unit(benchmark::kMillisecond)
              ->UseRealTime()
              ->Iterations(1));
    }
  }
}

std::string load_average() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strncmp(argv[1], kChildFlag, std::strlen(kChildFlag)) == 0) {
    return child_main(argc, argv, argv[1] + std::strlen(kChildFlag), argv[2]);
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  qInstallMessageHandler(drop_qt_message);
  // As the program's main does; MERAVEL_BENCH_FRESH_PAGES=1 measures without it.
  if (!std::getenv("MERAVEL_BENCH_FRESH_PAGES")) keep_freed_images_for_reuse();
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  write_photos();
  benchmark::AddCustomContext("load_average_at_start", load_average());
  register_benchmarks();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::cerr << "Load average at the end: " << load_average() << std::endl;
  remove_photos();
  return 0;
}
