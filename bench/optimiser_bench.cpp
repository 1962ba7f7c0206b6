// The optimiser keys on synthetic photographs of 3000x2000 and 6000x4000 with one W-curve object:
// key o's pass and key p's three passes, each with the refreshes its six trackbar sets and its
// final refresh run. The project's path (distance map once per outline, halves traced on their
// bounding boxes) is timed whole. The literal procedure (full-size masks, contour searches and a
// distance transform in every evaluation) takes about a second per evaluation at 6000x4000, so
// it is timed per evaluation and per refresh at points the project's search visited, its energy
// compared bit for bit with the project's there; a key's literal time is estimated as
// evaluations x literal evaluation + refreshes x literal refresh (medians). With
// MERAVEL_FULL_LITERAL=3000x2000 (or 6000x4000, or both, comma-separated) the whole literal
// searches run once as well, and their every energy and their fitted values are compared.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "bench/bench_scene.h"
#include "bench/bench_stats.h"
#include "fit/optimiser.h"

using namespace meravel;

namespace {

enum class Key { o, p };
const char* key_name(Key key) { return key == Key::o ? "o" : "p"; }

// What one key's passes did: every evaluated point with its energy, the refreshes, the result.
struct KeyRun {
  std::vector<ParameterVector> points;
  std::vector<double> energies;
  int refreshes = 0;
  ModelParameters fitted;
  double final_energy = 0;
};

// One optimiser pass as the window layer runs it: the search, the result written into the fields,
// the six trackbars set in order (each clamped to its range, each refreshing when its position
// changes), then one more refresh.
template <typename Energy, typename Refresh>
void run_pass(FitState& state, const OptimiserRanges& ranges, Energy energy, Refresh refresh,
              KeyRun& run) {
  const ParameterVector result = pattern_search(parameter_vector(state.model), ranges.low,
                                                ranges.high, 1, [&](const ParameterVector& p) {
                                                  const double e = energy(p);
                                                  run.points.push_back(p);
                                                  run.energies.push_back(e);
                                                  return e;
                                                });
  const ModelParameters before = state.model;
  state.model = truncated_model(result);
  const int w = state.source_image.cols;
  const int h = state.source_image.rows;
  const int maxima[6] = {6000, 20 * w, h, 360, w, h};
  int ModelParameters::*const fields[6] = {
      &ModelParameters::lambda_milli,  &ModelParameters::width,
      &ModelParameters::height,        &ModelParameters::rotation,
      &ModelParameters::translation_x, &ModelParameters::translation_y};
  for (int k = 0; k < 6; ++k) {
    int& value = state.model.*fields[k];
    value = std::clamp(value, 0, maxima[k]);
    if (value != before.*fields[k]) {
      refresh();
      ++run.refreshes;
    }
  }
  refresh();
  ++run.refreshes;
}

template <typename Energy, typename Refresh>
KeyRun run_key(FitState& state, Key key, Energy energy, Refresh refresh) {
  KeyRun run;
  if (key == Key::o) {
    run_pass(state, ranges_all_values(state.source_image.size()), energy, refresh, run);
  } else {
    run_pass(state, ranges_width(state.model, state.source_image.size()), energy, refresh, run);
    run_pass(state, ranges_lambda_width(state.model), energy, refresh, run);
    run_pass(state, ranges_fine(state.model), energy, refresh, run);
  }
  run.fitted = state.model;
  run.final_energy = state.energy;
  return run;
}

KeyRun project_key(FitState& state, Key key) {
  return run_key(
      state, key, [&state](const ParameterVector& p) { return evaluate_parameters(state, p); },
      [&state] { compose_output_view(state, null_stream()); });
}

double literal_energy_at(FitState& state, const ParameterVector& p) {
  const double lambda = p[0] / 1000;
  std::vector<cv::Point> left;
  std::vector<cv::Point> right;
  if (!literal_generate_w_curve(state, lambda, lambda * p[1], p[2], p[3], p[4], p[5], left,
                                right)) {
    return std::numeric_limits<double>::infinity();
  }
  return literal_deviation_energy(state, left, right);
}

KeyRun literal_key(FitState& state, Key key) {
  cv::Mat display;
  return run_key(
      state, key, [&state](const ParameterVector& p) { return literal_energy_at(state, p); },
      [&state, &display] { state.energy = literal_refresh(state, &display); });
}

struct Scene {
  cv::Size size;
  FitState start;
  KeyRun project[2];  // keys o and p from the start, run once before timing
  std::vector<ParameterVector> sample_points;
  std::vector<double> sample_energies;
  size_t next_sample = 0;
  int compared = 0;
  int mismatches = 0;
};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string size_text(cv::Size size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

std::map<std::pair<int, int>, std::unique_ptr<Scene>>& scenes() {
  static std::map<std::pair<int, int>, std::unique_ptr<Scene>> made;
  return made;
}

// The scene of `size` if a benchmark has made it, else null.
const Scene* made_scene(cv::Size size) {
  const auto found = scenes().find({size.width, size.height});
  return found == scenes().end() ? nullptr : found->second.get();
}

Scene& scene(cv::Size size) {
  std::unique_ptr<Scene>& entry = scenes()[{size.width, size.height}];
  if (entry) return *entry;
  entry = std::make_unique<Scene>();
  Scene& s = *entry;
  s.size = size;
  s.start = bench_session(bench_photo(size));
  for (Key key : {Key::o, Key::p}) {
    FitState state = s.start;
    s.project[static_cast<int>(key)] = project_key(state, key);
  }
  // Forty points spread evenly over both keys' searches.
  std::vector<ParameterVector> points;
  std::vector<double> energies;
  for (const KeyRun& run : s.project) {
    points.insert(points.end(), run.points.begin(), run.points.end());
    energies.insert(energies.end(), run.energies.begin(), run.energies.end());
  }
  const size_t count = std::min<size_t>(40, points.size());
  for (size_t i = 0; i < count; ++i) {
    const size_t at = i * points.size() / count;
    s.sample_points.push_back(points[at]);
    s.sample_energies.push_back(energies[at]);
  }
  return s;
}

void BM_ProjectKey(benchmark::State& bench, cv::Size size, Key key) {
  Scene& s = scene(size);
  const KeyRun& reference = s.project[static_cast<int>(key)];
  bool same = true;
  for (auto _ : bench) {
    FitState state = s.start;
    const KeyRun run = project_key(state, key);
    same = same && run.energies == reference.energies && run.fitted == reference.fitted;
  }
  bench.counters["evaluations"] = static_cast<double>(reference.points.size());
  bench.counters["refreshes"] = reference.refreshes;
  bench.counters["repeatable"] = same;
  bench.counters["outline_width"] = s.start.outline_width;
  bench.counters["outline_height"] = s.start.outline_height;
}

void BM_LiteralEvaluation(benchmark::State& bench, cv::Size size) {
  Scene& s = scene(size);
  FitState state = s.start;
  for (auto _ : bench) {
    const size_t i = s.next_sample++ % s.sample_points.size();
    const double e = literal_energy_at(state, s.sample_points[i]);
    ++s.compared;
    if (!same_bits(e, s.sample_energies[i])) ++s.mismatches;
  }
  bench.counters["compared"] = s.compared;
  bench.counters["mismatches"] = s.mismatches;
}

void BM_LiteralRefresh(benchmark::State& bench, cv::Size size) {
  Scene& s = scene(size);
  FitState state = s.start;
  const KeyRun& fitted = s.project[static_cast<int>(Key::o)];
  state.model.lambda_milli = fitted.fitted.lambda_milli;
  state.model.width = fitted.fitted.width;
  cv::Mat display;
  for (auto _ : bench) benchmark::DoNotOptimize(literal_refresh(state, &display));
}

// Keeps the median, minimum and maximum of every benchmark (milliseconds of wall-clock time) and
// its median processor time, for the summary.
struct Figures {
  double median = 0, min = 0, max = 0, cpu_median = 0;
};
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, Figures> figures;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Aggregate) continue;
      // Every benchmark here reports milliseconds.
      const double ms = run.GetAdjustedRealTime();
      Figures& f = figures[run.run_name.function_name];
      if (run.aggregate_name == "median") {
        f.median = ms;
        f.cpu_median = run.GetAdjustedCPUTime();
      }
      if (run.aggregate_name == "min") f.min = ms;
      if (run.aggregate_name == "max") f.max = ms;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

const cv::Size kSizes[] = {{3000, 2000}, {6000, 4000}};

std::string project_name(cv::Size size, Key key) {
  return "key_" + std::string(key_name(key)) + "/project/" + size_text(size);
}
std::string literal_evaluation_name(cv::Size size) {
  return "literal_evaluation/" + size_text(size);
}
std::string literal_refresh_name(cv::Size size) { return "literal_refresh/" + size_text(size); }

void register_benchmarks() {
  for (cv::Size size : kSizes) {
    const bool large = size.width > 4000;
    for (Key key : {Key::o, Key::p}) {
      with_min_max(
          benchmark::RegisterBenchmark(project_name(size, key).c_str(), BM_ProjectKey, size, key)
              ->Unit(benchmark::kMillisecond)
              ->UseRealTime()
              ->Iterations(1));
    }
    with_min_max(benchmark::RegisterBenchmark(literal_evaluation_name(size).c_str(),
                                              BM_LiteralEvaluation, size)
                     ->Unit(benchmark::kMillisecond)
                     ->UseRealTime()
                     ->Iterations(large ? 2 : 4));
    with_min_max(
        benchmark::RegisterBenchmark(literal_refresh_name(size).c_str(), BM_LiteralRefresh, size)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(large ? 1 : 2));
  }
}

// The literal time of a key is estimated from its evaluations and refreshes, each at the literal
// procedure's median; the ratio is that estimate over the project's median, in wall-clock time
// and in processor time (the latter is what a busy machine distorts least).
void print_summary(const SummaryReporter& reporter) {
  std::printf(
      "\nkey  size       project ms: median   min    max  (cpu)  evaluations  refreshes  "
      "literal ms (cpu)       ratio (cpu)\n");
  for (cv::Size size : kSizes) {
    const auto evaluation = reporter.figures.find(literal_evaluation_name(size));
    const auto refresh = reporter.figures.find(literal_refresh_name(size));
    for (Key key : {Key::o, Key::p}) {
      const auto project = reporter.figures.find(project_name(size, key));
      if (project == reporter.figures.end() || !made_scene(size)) continue;
      const KeyRun& run = made_scene(size)->project[static_cast<int>(key)];
      const Figures& f = project->second;
      std::printf("%-4s %-10s %17.0f %6.0f %6.0f (%4.0f)", key_name(key), size_text(size).c_str(),
                  f.median, f.min, f.max, f.cpu_median);
      std::printf("  %11zu  %9d", run.points.size(), run.refreshes);
      if (evaluation != reporter.figures.end() && refresh != reporter.figures.end()) {
        const double literal =
            run.points.size() * evaluation->second.median + run.refreshes * refresh->second.median;
        const double literal_cpu = run.points.size() * evaluation->second.cpu_median +
                                   run.refreshes * refresh->second.cpu_median;
        std::printf("  %9.0f (%7.0f)  %5.0fx (%5.0fx)", literal, literal_cpu, literal / f.median,
                    literal_cpu / f.cpu_median);
      }
      std::printf("\n");
    }
  }
  for (cv::Size size : kSizes) {
    const Scene* s = made_scene(size);
    if (!s || s->compared == 0) continue;
    std::printf("%s: literal energy at %d visited points, %d differing in any bit\n",
                size_text(size).c_str(), s->compared, s->mismatches);
  }
}

// The whole literal searches, once, compared evaluation by evaluation with the project's.
void run_full_literal(const char* sizes) {
  for (cv::Size size : kSizes) {
    if (!std::strstr(sizes, size_text(size).c_str())) continue;
    Scene& s = scene(size);
    for (Key key : {Key::o, Key::p}) {
      FitState state = s.start;
      const auto begin = std::chrono::steady_clock::now();
      const KeyRun literal = literal_key(state, key);
      const double ms =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
              .count();
      const KeyRun& project = s.project[static_cast<int>(key)];
      size_t same = 0;
      const size_t n = std::min(literal.energies.size(), project.energies.size());
      while (same < n && same_bits(literal.energies[same], project.energies[same]) &&
             literal.points[same] == project.points[same]) {
        ++same;
      }
      std::printf(
          "full literal key %s at %s: %.0f ms, %zu evaluations (project %zu), %zu identical in "
          "sequence, fitted values %s (%d %d %d %d %d %d), final energy %.6f vs %.6f\n",
          key_name(key), size_text(size).c_str(), ms, literal.energies.size(),
          project.energies.size(), same, literal.fitted == project.fitted ? "identical" : "DIFFER",
          literal.fitted.lambda_milli, literal.fitted.width, literal.fitted.height,
          literal.fitted.rotation, literal.fitted.translation_x, literal.fitted.translation_y,
          literal.final_energy, project.final_energy);
      std::fflush(stdout);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  register_benchmarks();
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  print_summary(reporter);
  for (cv::Size size : kSizes) {
    if (!made_scene(size)) continue;
    for (Key key : {Key::o, Key::p}) {
      const KeyRun& run = made_scene(size)->project[static_cast<int>(key)];
      std::printf(
          "key %s at %s fits lambda*1000 %d, width %d, height %d, rotation %d, "
          "translation (%d, %d), energy %.6f\n",
          key_name(key), size_text(size).c_str(), run.fitted.lambda_milli, run.fitted.width,
          run.fitted.height, run.fitted.rotation, run.fitted.translation_x,
          run.fitted.translation_y, run.final_energy);
    }
  }
  if (const char* sizes = std::getenv("MERAVEL_FULL_LITERAL")) run_full_literal(sizes);
  benchmark::Shutdown();
  return 0;
}
