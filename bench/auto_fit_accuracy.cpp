// Accuracy of the automatic fit (key a), in three parts, each one Markdown table:
// - keys: key a beside the specified key sequences r o, r p and r o p on the same generated
//   photographs of known objects (cut-offs 0);
// - conditions: key a per photographing condition (clear, touching or cut by the border, uneven
//   light, JPEG quality 40, threshold off by 20, elongated, nearly round, lying and longer than
//   the photograph is high) and per size band (48-800 px), with the default cut-offs 1 and 5;
// - repeatability: one object at 16 quarter-pixel shifts and 8 rotations, the spread of lambda.
//
// A plain program: arguments are ignored (scripts/bench passes Google Benchmark's). The number
// of photographs can be scaled with MERAVEL_ACCURACY_SCALE (default 1); MERAVEL_ACCURACY_PARTS
// (for example "conditions,repeatability") picks parts; MERAVEL_ACCURACY_DETAIL lists every
// photograph with key a's result.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "accuracy_conditions.h"
#include "auto_fit_photos.h"
#include "fit/height_maximum.h"
#include "fit/optimiser.h"

using namespace meravel;

namespace {

// The trackbars clamp what is written through them.
void clamp_to_trackbars(FitState& s) {
  const int w = s.source_image.cols, h = s.source_image.rows;
  s.model.lambda_milli = std::clamp(s.model.lambda_milli, 0, 6000);
  s.model.width = std::clamp(s.model.width, 0, 20 * w);
  s.model.height = std::clamp(s.model.height, 0, height_maximum(w, h));
  s.model.rotation = std::clamp(s.model.rotation, 0, 360);
  s.model.translation_x = std::clamp(s.model.translation_x, 0, w);
  s.model.translation_y = std::clamp(s.model.translation_y, 0, h);
}

// Key r: translation to the outline box centre, height to its height, lambda 1, then the width
// from the peak abscissa of the model the lambda reset's refresh generated.
void key_r(FitState& s) {
  s.model.translation_x = s.outline_center_x;
  s.model.translation_y = s.outline_center_y;
  s.model.height = s.outline_height;
  s.model.lambda_milli = 1000;
  std::vector<cv::Point> left, right;
  s.keep_extent(generate_w_curve(1.0, 1.0 * s.model.width, s.model.height, s.model.rotation,
                                 s.model.translation_x, s.model.translation_y, s.cut_offs(), left,
                                 right, std::cerr));
  s.model.width = width_for_outline(s.model, s.peak_abscissa, s.outline_width);
  clamp_to_trackbars(s);
}

void optimiser_pass(FitState& s, const OptimiserRanges& r) {
  const ParameterVector result =
      pattern_search(parameter_vector(s.model), r.low, r.high, 1,
                     [&s](const ParameterVector& p) { return evaluate_parameters(s, p); });
  s.model = truncated_model(result);
  clamp_to_trackbars(s);
}

void key_o(FitState& s) { optimiser_pass(s, ranges_all_values(s.source_image.size())); }

void key_p(FitState& s) {
  optimiser_pass(s, ranges_width(s.model, s.source_image.size()));
  optimiser_pass(s, ranges_lambda_width(s.model));
  optimiser_pass(s, ranges_fine(s.model));
}

void key_a(FitState& s) {
  const AutoFitResult r = auto_fit(s.target, s.source_image, s.threshold, s.cut_offs(),
                                   s.model.rotation, s.work, std::cerr);
  if (r.found) s.model = r.model;
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

void key_table(double scale, bool detail) {
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
        const double energy = evaluate_parameters(state, parameter_vector(state.model));
        const double expected = lambda_as_fitted(o, state.model.rotation);
        if (detail && m == 0)
          std::printf(
              "  object lambda %.3f h %.0f w %.0f rot %.0f at (%.0f, %.0f): a gives lambda "
              "%.3f h %d w %d rot %d at (%d, %d), energy %.3f (truth %.3f)\n",
              o.lambda, o.height, o.width, o.rotation_deg, o.center_x, o.center_y,
              state.model.lambda_milli / 1000.0, state.model.height, state.model.width,
              state.model.rotation, state.model.translation_x, state.model.translation_y, energy,
              truth_energy);
        outcomes[m].push_back(
            {100.0 * std::fabs(state.model.lambda_milli / 1000.0 - expected) / expected,
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
}

// One fit of key a as the conditions and the repeatability judge it.
struct Fit {
  double error_percent;  // signed, lambda as fitted against the object's lambda in that orientation
  double energy_excess;  // fitted energy minus the energy at the true values; NaN when that is inf
  bool top_kept;         // top within 90 degrees of the session's rotation 325
  double seconds;
};

Fit fit_scene(const cv::Mat& photo, const DemoObject& o, int threshold, bool detail,
              const char* label) {
  FitState state;
  session_start(state, photo, threshold, 1, 5);
  const ParameterVector truth = {o.lambda * 1000, o.width,    o.height,
                                 o.rotation_deg,  o.center_x, o.center_y};
  const double truth_energy = evaluate_parameters(state, truth);
  const auto start = std::chrono::steady_clock::now();
  key_a(state);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const ParameterVector fitted = {
      double(state.model.lambda_milli),  double(state.model.width),
      double(state.model.height),        double(state.model.rotation),
      double(state.model.translation_x), double(state.model.translation_y)};
  const double energy = evaluate_parameters(state, fitted);
  const double expected = lambda_as_fitted(o, state.model.rotation);
  Fit fit;
  fit.error_percent = 100.0 * (state.model.lambda_milli / 1000.0 - expected) / expected;
  fit.energy_excess = std::isfinite(truth_energy) ? energy - truth_energy : NAN;
  fit.top_kept = degrees_between(state.model.rotation, 325) <= 90.0;
  fit.seconds = seconds;
  if (detail)
    std::printf(
        "  %s: %dx%d, lambda %.3f h %.0f w %.0f rot %.0f at (%.2f, %.2f): lambda %.3f h %d w %d "
        "rot %d at (%d, %d), error %+.2f %%, energy %.3f (truth %.3f), %.2f s\n",
        label, photo.cols, photo.rows, o.lambda, o.height, o.width, o.rotation_deg, o.center_x,
        o.center_y, state.model.lambda_milli / 1000.0, state.model.height, state.model.width,
        state.model.rotation, state.model.translation_x, state.model.translation_y,
        fit.error_percent, energy, truth_energy, seconds);
  return fit;
}

struct Band {
  const char* name;
  double low, high;  // longest side, px
};

const Band kBands[] = {{"48-80 px", 48, 80},
                       {"80-120 px", 80, 120},
                       {"120-200 px", 120, 200},
                       {"200-400 px", 200, 400},
                       {"400-800 px", 400, 800}};

void print_fits(const char* condition, const char* band, const std::vector<Fit>& fits) {
  if (fits.empty()) return;
  double squares = 0, worst = 0;
  int within = 0, low_energy = 0, scored = 0, top_kept = 0;
  std::vector<double> times;
  for (const Fit& f : fits) {
    squares += f.error_percent * f.error_percent;
    worst = std::max(worst, std::fabs(f.error_percent));
    within += std::fabs(f.error_percent) <= 1.0;
    if (!std::isnan(f.energy_excess)) {
      ++scored;
      low_energy += f.energy_excess <= 0.1;
    }
    top_kept += f.top_kept;
    times.push_back(f.seconds);
  }
  const int n = static_cast<int>(fits.size());
  std::printf("| %s | %s | %d | %.2f %% | %.2f %% | %d/%d | %d/%d | %d/%d | %.2f s |\n", condition,
              band, n, std::sqrt(squares / n), worst, within, n, low_energy, scored, top_kept, n,
              median(times));
  std::fflush(stdout);
}

void condition_table(double scale, bool detail) {
  const Condition conditions[] = {
      Condition::kClean,        Condition::kNoisy,    Condition::kTouching,  Condition::kCut,
      Condition::kIllumination, Condition::kJpeg40,   Condition::kThreshold, Condition::kElongated,
      Condition::kRound,        Condition::kLyingLong};
  const int per_band = std::max(1, static_cast<int>(std::lround(12 * scale)));
  std::printf(
      "| condition | longest side | fits | RMS lambda error | max | within 1 %% | energy <= "
      "truth + 0.1 px | top kept | median time |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|\n");
  for (const Condition condition : conditions) {
    std::mt19937 random(7919u * (static_cast<unsigned>(condition) + 1));
    std::vector<Fit> all;
    for (size_t b = 0; b < std::size(kBands); ++b) {
      std::vector<Fit> fits;
      for (int i = 0; i < per_band; ++i) {
        const double longest =
            kBands[b].low * std::pow(kBands[b].high / kBands[b].low, (i + 0.5) / per_band);
        const unsigned seed = 100000u * (static_cast<unsigned>(condition) + 1) + 1000u * b + i;
        const Scene scene = make_scene(condition, longest, i, random, seed);
        fits.push_back(fit_scene(scene.photo, scene.object, scene.threshold, detail,
                                 condition_name(condition)));
      }
      print_fits(condition_name(condition), kBands[b].name, fits);
      all.insert(all.end(), fits.begin(), fits.end());
    }
    print_fits(condition_name(condition), "all", all);
  }
}

// One clean or noisy object of height x pixel width px (lambda 1.3) at 16 quarter-pixel shifts
// of its centre and 8 rotations 45 degrees apart: the mean and the standard deviation of the
// lambda error, the largest error.
void repeatability_table(bool detail) {
  std::printf(
      "| object | look | fits | mean lambda error | standard deviation | max | median time |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  const struct {
    double height, pixel_width;
    cv::Size photo;
  } objects[] = {{64, 48, {160, 120}}, {128, 96, {256, 192}}};
  for (const auto& object : objects) {
    for (const bool noisy : {false, true}) {
      std::vector<double> errors, times;
      unsigned seed = 500;
      for (int r = 0; r < 8; ++r) {
        for (int shift = 0; shift < 16; ++shift) {
          const double lambda = 1.3;
          const DemoObject o{lambda,
                             width_for_pixel_width(lambda, object.height, object.pixel_width),
                             object.height,
                             10.0 + 45.0 * r,
                             object.photo.width / 2 + 0.25 * (shift % 4),
                             object.photo.height / 2 + 0.25 * (shift / 4)};
          cv::Mat photo = render_demo_photo(object.photo, o, fit_test_look(noisy, ++seed));
          if (noisy) photo = jpeg(photo, 75);
          const Fit fit = fit_scene(photo, o, 131, detail, "repeatability");
          errors.push_back(fit.error_percent);
          times.push_back(fit.seconds);
        }
      }
      double mean = 0, squares = 0, worst = 0;
      for (double e : errors) mean += e / errors.size();
      for (double e : errors) {
        squares += (e - mean) * (e - mean);
        worst = std::max(worst, std::fabs(e));
      }
      std::printf("| %.0fx%.0f px | %s | %zu | %+.2f %% | %.2f %% | %.2f %% | %.2f s |\n",
                  object.height, object.pixel_width, noisy ? "noisy" : "clean", errors.size(), mean,
                  std::sqrt(squares / (errors.size() - 1)), worst, median(times));
      std::fflush(stdout);
    }
  }
}

bool wanted(const char* part) {
  const char* parts = std::getenv("MERAVEL_ACCURACY_PARTS");
  return !parts || std::string(parts).find(part) != std::string::npos;
}

}  // namespace

int main() {
  const char* scale_text = std::getenv("MERAVEL_ACCURACY_SCALE");
  const bool detail = std::getenv("MERAVEL_ACCURACY_DETAIL") != nullptr;
  const double scale = scale_text ? std::max(0.1, std::atof(scale_text)) : 1.0;
  if (wanted("keys")) {
    key_table(scale, detail);
    std::printf("\n");
  }
  if (wanted("conditions")) {
    condition_table(scale, detail);
    std::printf("\n");
  }
  if (wanted("repeatability")) repeatability_table(detail);
  return 0;
}
