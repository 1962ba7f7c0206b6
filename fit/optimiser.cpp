#include "fit/optimiser.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "fit/geometry.h"
#include "fit/parameter_table.h"

namespace meravel {

namespace {

OptimiserRanges fixed_ranges(const ModelParameters& current) {
  OptimiserRanges r;
  r.low = r.high = parameter_vector(current);
  return r;
}

void set_range(OptimiserRanges& r, int k, double low, double high) {
  r.low[k] = low;
  r.high[k] = high;
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

OptimiserRanges ranges_all_values(cv::Size image_size) {
  const int w = image_size.width;
  const int h = image_size.height;
  OptimiserRanges r;
  set_range(r, kLambdaMilli, 200, kLambdaMilliMax);
  set_range(r, kWidth, 2 * w, kWidthMaxPerImageWidth * w);
  set_range(r, kHeight, h / 10, (9 * h) / 10);
  set_range(r, kRotation, 270, 90);
  set_range(r, kTranslationX, w / 5, (4 * w) / 5);
  set_range(r, kTranslationY, h / 5, (4 * h) / 5);
  return r;
}

OptimiserRanges ranges_width(const ModelParameters& current, cv::Size image_size) {
  const int w = image_size.width;
  OptimiserRanges r = fixed_ranges(current);
  set_range(r, kWidth, 2 * w, kWidthMaxPerImageWidth * w);
  return r;
}

OptimiserRanges ranges_lambda_width(const ModelParameters& current) {
  OptimiserRanges r = fixed_ranges(current);
  set_range(r, kLambdaMilli, 900, 1300);
  set_range(r, kWidth, 0.8 * current.width, 1.2 * current.width);
  return r;
}

OptimiserRanges ranges_fine(const ModelParameters& current) {
  const ParameterVector p = parameter_vector(current);
  OptimiserRanges r;
  for (int k = 0; k < 6; ++k) set_range(r, k, 0.95 * p[k], 1.05 * p[k]);
  set_range(r, kRotation, current.rotation - 5, current.rotation + 5);
  return r;
}

}  // namespace meravel
