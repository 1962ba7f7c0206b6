// The inversion of the model's width relation at its widest point, for the Width reset.
#include <cmath>

#include "fit/fit_internal.h"

namespace meravel {

// pixel_width ≈ 2·λ·width / D(peak_abscissa), with D(t) = hh·e^t + e^(−λt), solved for width.
int width_for_outline(const ModelParameters& model, double peak_abscissa, int outline_width) {
  if (model.lambda_milli == 0) return model.width;
  const double lambda = model.lambda_milli / 1000.0;
  const double t = peak_abscissa;
  const int hh = model.height / 2;
  const int v = saturating_trunc(outline_width * (hh * std::exp(t) + std::exp(-lambda * t)));
  return saturating_trunc(v / (2 * lambda));
}

}  // namespace meravel
