// What the optimiser and the Width reset need from the model: one scored candidate, and the
// inversion of the width relation at the model's widest point.
#include <cmath>
#include <limits>

#include "fit/fit_internal.h"

double evaluate_parameters(FitState& state, const double p[6]) {
  const double lambda = p[0] / 1000;
  if (!generate_w_curve(state, lambda, lambda * p[1], p[2], p[3], p[4], p[5], state.evaluation_left,
                        state.evaluation_right)) {
    return std::numeric_limits<double>::infinity();
  }
  return deviation_energy(state, state.evaluation_left, state.evaluation_right, false);
}

// pixel_width ≈ 2·λ·width / D(peak_abscissa), with D(t) = hh·e^t + e^(−λt), solved for width.
int width_for_outline(const FitState& state) {
  if (state.lambda_milli == 0) return state.width;
  const double lambda = state.lambda_milli / 1000.0;
  const double t = state.peak_abscissa;
  const int hh = state.height / 2;
  const int v = saturating_trunc(state.outline_width * (hh * std::exp(t) + std::exp(-lambda * t)));
  return saturating_trunc(v / (2 * lambda));
}
