// Accuracy of the automatic fit (key a) beside the specified key sequences r o, r p and r o p,
// on the same generated photographs of known objects. Prints one Markdown table.
//
// A plain program: arguments are ignored (scripts/bench passes Google Benchmark's). The number
// of photographs per row can be scaled with MERAVEL_ACCURACY_SCALE (default 1);
// MERAVEL_ACCURACY_DETAIL lists every photograph with key a's result.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "auto_fit_photos.h"
#include "fit/optimiser.h"

namespace {

// The trackbars clamp what is written through them.
void clamp_to_trackbars(FitState& s) {
  const int w = s.source_image.cols, h = s.source_image.rows;
  s.lambda_milli = std::clamp(s.lambda_milli, 0, 6000);
  s.width = std::clamp(s.width, 0, 20 * w);
  s.height = std::clamp(s.height, 0, h);
  s.rotation = std::clamp(s.rotation, 0, 360);
  s.translation_x = std::clamp(s.translation_x, 0, w);
  s.translation_y = std::clamp(s.translation_y, 0, h);
}

// Key r: translation to the outline box centre, height to its height, lambda 1, then the width
// from the peak abscissa of the model the lambda reset's refresh generated.
void key_r(FitState& s) {
  s.translation_x = s.outline_center_x;
  s.translation_y = s.outline_center_y;
  s.height = s.outline_height;
  s.lambda_milli = 1000;
  std::vector<cv::Point> left, right;
  s.keep_extent(generate_w_curve(1.0, 1.0 * s.width, s.height, s.rotation, s.translation_x,
                                 s.translation_y, s.cut_offs(), left, right, std::cerr));
  s.width = width_for_outline(s, s.peak_abscissa, s.outline_width);
  clamp_to_trackbars(s);
}

void optimiser_pass(FitState& s, const OptimiserRanges& r) {
  const ParameterVector result =
      pattern_search(parameter_vector(s), r.low, r.high, 1,
                     [&s](const ParameterVector& p) { return evaluate_parameters(s, p); });
  s.model() = truncated_model(result);
  clamp_to_trackbars(s);
}

void key_o(FitState& s) { optimiser_pass(s, ranges_all_values(s.source_image.size())); }

void key_p(FitState& s) {
  optimiser_pass(s, ranges_width(s, s.source_image.size()));
  optimiser_pass(s, ranges_lambda_width(s));
  optimiser_pass(s, ranges_fine(s));
}

void key_a(FitState& s) {
  const AutoFitResult r = auto_fit(s.target(), s.cut_offs(), s.rotation, s.work(), std::cerr);
  if (r.found) s.model() = r.model;
}

struct Method {
  const char* name;
  std::function<void(FitState&)> run;
};

struct Outcome {
  double error_percent;  // |lambda - lambda_true| / lambda_true, lambda_true as fitted
  double energy_excess;  // final energy minus the energy at the true parameters
  double seconds;
};

double median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

struct Row {
  cv::Size size;
  bool noisy;
  int count;
  unsigned seed;
};

}  // namespace

int main() {
  const char* scale_text = std::getenv("MERAVEL_ACCURACY_SCALE");
  const bool detail = std::getenv("MERAVEL_ACCURACY_DETAIL") != nullptr;
  const double scale = scale_text ? std::max(0.1, std::atof(scale_text)) : 1.0;
  const Row rows[] = {
      {{800, 600}, false, 24, 11},
      {{800, 600}, true, 24, 12},
      {{3000, 2000}, false, 8, 13},
      {{3000, 2000}, true, 8, 14},
  };
  const Method methods[] = {
      {"a", key_a},
      {"r o", [](FitState& s) { key_r(s), key_o(s); }},
      {"r p", [](FitState& s) { key_r(s), key_p(s); }},
      {"r o p", [](FitState& s) { key_r(s), key_o(s), key_p(s); }},
  };

  std::printf(
      "| photographs | keys | lambda within target | median / max lambda error | energy <= "
      "truth + 0.05 px | median time |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (const Row& row : rows) {
    const int count = std::max(1, static_cast<int>(std::lround(row.count * scale)));
    const std::vector<DemoObject> objects = random_objects(row.size, count, row.seed);
    std::vector<std::vector<Outcome>> outcomes(std::size(methods));
    for (int i = 0; i < count; ++i) {
      const DemoObject& o = objects[i];
      const cv::Mat photo = benchmark_photo(row.size, o, row.noisy, row.seed * 1000 + i);
      for (size_t m = 0; m < std::size(methods); ++m) {
        FitState state;
        session_start(state, photo);
        const ParameterVector truth = {o.lambda * 1000, o.width,    o.height,
                                       o.rotation_deg,  o.center_x, o.center_y};
        const double truth_energy = evaluate_parameters(state, truth);
        const auto start = std::chrono::steady_clock::now();
        methods[m].run(state);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double energy = evaluate_parameters(state, parameter_vector(state));
        const double expected = lambda_as_fitted(o, state.rotation);
        if (detail && m == 0)
          std::printf(
              "  object lambda %.3f h %.0f w %.0f rot %.0f at (%.0f, %.0f): a gives lambda "
              "%.3f h %d w %d rot %d at (%d, %d), energy %.3f (truth %.3f)\n",
              o.lambda, o.height, o.width, o.rotation_deg, o.center_x, o.center_y,
              state.lambda_milli / 1000.0, state.height, state.width, state.rotation,
              state.translation_x, state.translation_y, energy, truth_energy);
        outcomes[m].push_back({100.0 * std::fabs(state.lambda_milli / 1000.0 - expected) / expected,
                               energy - truth_energy, seconds});
      }
    }
    const double target = row.noisy ? 2.0 : 1.0;
    for (size_t m = 0; m < std::size(methods); ++m) {
      std::vector<double> errors, times;
      int within = 0, low_energy = 0;
      for (const Outcome& o : outcomes[m]) {
        errors.push_back(o.error_percent);
        times.push_back(o.seconds);
        within += o.error_percent <= target;
        low_energy += o.energy_excess <= 0.05;
      }
      std::printf("| %dx%d %s, %d | %s | %d/%d (%g %%) | %.2f %% / %.2f %% | %d/%d | %.2f s |\n",
                  row.size.width, row.size.height, row.noisy ? "noisy" : "clean", count,
                  methods[m].name, within, count, target, median(errors),
                  *std::max_element(errors.begin(), errors.end()), low_energy, count,
                  median(times));
      std::fflush(stdout);
    }
  }
  return 0;
}
