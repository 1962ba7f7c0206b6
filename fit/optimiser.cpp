#include "fit/optimiser.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "fit/fit_W.h"
#include "fit/geometry.h"

namespace {

OptimiserRanges fixed_ranges(const FitState& state) {
  const ParameterVector p = parameters_of(state);
  OptimiserRanges r;
  for (int k = 0; k < 6; ++k) r.bounds[2 * k] = r.bounds[2 * k + 1] = p[k];
  return r;
}

void set_range(OptimiserRanges& r, int k, double low, double high) {
  r.bounds[2 * k] = low;
  r.bounds[2 * k + 1] = high;
}

}  // namespace

bool angle_in_range(int degree, int low, int high) {
  if (!(degree <= 360)) {
    std::fprintf(stderr, "Assertion failed: degree<=360\n");
    std::abort();
  }
  if (low < high) return low < degree && degree < high;
  if (low > high) return degree > low || degree < high;
  return false;
}

int candidate_rotation(double current_rotation, double offset) {
  return wrapped_degrees(static_cast<long>(saturating_trunc(current_rotation)) +
                         saturating_trunc(offset));
}

void collect_candidates(Candidate offsets, int first_parameter, int depth, double step_fraction,
                        const ParameterVector& current, const ParameterVector& high,
                        const ParameterVector& low, const ParameterVector& span,
                        std::vector<Candidate>& candidates) {
  for (int k = first_parameter; k < 6; ++k) {
    const double step = step_fraction * span[k];
    for (const double move : {step, -step}) {
      bool allowed;
      if (k == kRotation) {
        const int angle = candidate_rotation(current[k], offsets[k] + move);
        allowed = angle_in_range(angle, saturating_trunc(low[k]), saturating_trunc(high[k]));
      } else if (move == step) {
        allowed = high[k] > current[k] + offsets[k] + step;
      } else {
        allowed = current[k] + offsets[k] - step > low[k];
      }
      if (!allowed) continue;
      Candidate moved = offsets;
      moved[k] += move;
      candidates.push_back(moved);
      if (depth - 1 > 0) {
        collect_candidates(moved, k + 1, depth - 1, step_fraction, current, high, low, span,
                           candidates);
      }
    }
  }
}

ParameterVector pattern_search(const ParameterVector& start, const ParameterVector& low,
                               const ParameterVector& high, int combination_depth,
                               const EnergyFunction& energy) {
  ParameterVector span;
  for (int k = 0; k < 6; ++k) span[k] = high[k] - low[k];

  ParameterVector current = start;
  double best_energy = energy(current);
  double step_fraction = 0.5;
  int iterations_without_improvement = 0;
  std::vector<Candidate> candidates;

  while (true) {
    candidates.clear();
    collect_candidates(Candidate{}, 0, combination_depth, step_fraction, current, high, low, span,
                       candidates);
    const Candidate* chosen = nullptr;
    ParameterVector chosen_point{};
    for (const Candidate& c : candidates) {
      ParameterVector point;
      for (int k = 0; k < 6; ++k) point[k] = current[k] + c[k];
      point[kRotation] = candidate_rotation(current[kRotation], c[kRotation]);
      const double e = energy(point);
      if (e < best_energy) {
        best_energy = e;
        chosen = &c;
        chosen_point = point;
      }
    }
    if (chosen) {
      current = chosen_point;
      continue;
    }
    step_fraction /= 1.6;
    if (++iterations_without_improvement == 10) break;
  }
  return current;
}

ParameterVector parameters_of(const FitState& state) {
  return {static_cast<double>(state.lambda_milli),  static_cast<double>(state.width),
          static_cast<double>(state.height),        static_cast<double>(state.rotation),
          static_cast<double>(state.translation_x), static_cast<double>(state.translation_y)};
}

void write_parameters(FitState& state, const ParameterVector& result) {
  state.lambda_milli = saturating_trunc(result[kLambdaMilli]);
  state.width = saturating_trunc(result[kWidth]);
  state.height = saturating_trunc(result[kHeight]);
  state.rotation = saturating_trunc(result[kRotation]);
  state.translation_x = saturating_trunc(result[kTranslationX]);
  state.translation_y = saturating_trunc(result[kTranslationY]);
}

OptimiserRanges ranges_all_values(const FitState& state) {
  const int w = state.source_image.cols;
  const int h = state.source_image.rows;
  OptimiserRanges r;
  set_range(r, kLambdaMilli, 200, 6000);
  set_range(r, kWidth, 2 * w, 20 * w);
  set_range(r, kHeight, h / 10, (9 * h) / 10);
  set_range(r, kRotation, 270, 90);
  set_range(r, kTranslationX, w / 5, (4 * w) / 5);
  set_range(r, kTranslationY, h / 5, (4 * h) / 5);
  return r;
}

OptimiserRanges ranges_width(const FitState& state) {
  const int w = state.source_image.cols;
  OptimiserRanges r = fixed_ranges(state);
  set_range(r, kWidth, 2 * w, 20 * w);
  return r;
}

OptimiserRanges ranges_lambda_width(const FitState& state) {
  OptimiserRanges r = fixed_ranges(state);
  set_range(r, kLambdaMilli, 900, 1300);
  set_range(r, kWidth, 0.8 * state.width, 1.2 * state.width);
  return r;
}

OptimiserRanges ranges_fine(const FitState& state) {
  const ParameterVector p = parameters_of(state);
  OptimiserRanges r;
  for (int k = 0; k < 6; ++k) set_range(r, k, 0.95 * p[k], 1.05 * p[k]);
  set_range(r, kRotation, state.rotation - 5, state.rotation + 5);
  return r;
}
