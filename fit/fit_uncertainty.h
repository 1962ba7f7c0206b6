// How sure a fit's values are: standard errors of lambda, length and breadth, and how far fits of
// the same edge from different starts land apart.
//
// Computing core: plain values.
#pragma once

#include <limits>

namespace meravel {

struct FitUncertainty {
  static constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();
  // Standard errors of the saved values: lambda (as saved, whichever way up), the length and the
  // breadth in px. They combine the least-squares fit's own error (the jackknife over stretches
  // of the edge, block_jackknife.h, or else the covariance at the optimum), the rounding of the
  // saved whole-number values and the saved values' distance from the continuous fit (the last
  // polish on the pixel outline).
  double lambda_se = kUnknown;
  double length_se_px = kUnknown;
  double breadth_se_px = kUnknown;
  // The largest difference between the fit and the fits of the same edge from other starts.
  double lambda_spread = kUnknown;
  double length_spread_px = kUnknown;
  double breadth_spread_px = kUnknown;
  int starts = 0;  // the other starts whose fits converged
};

}  // namespace meravel
