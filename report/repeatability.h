// Summary statistics of repeated measurements: per photograph (mean, SD, range) and over the
// series (the intraclass correlation of a one-way random model, single measurement).
#pragma once

#include <optional>
#include <vector>

namespace meravel {

// Mean, sample SD (n - 1; NaN below two values), least and greatest of `values` (NaN when empty).
struct ValueSummary {
  int n = 0;
  double mean = 0.0;
  double sd = 0.0;
  double min = 0.0;
  double max = 0.0;
};
ValueSummary summarise_values(const std::vector<double>& values);

// ICC(1,1): every photograph is measured k_i times by the same method, photographs are a random
// sample, and each measurement is one draw around the photograph's true value. Over the a groups
// with at least two values, N values in all, grand mean m:
//   MSB = sum k_i (mean_i - m)^2 / (a - 1),  MSW = sum sum (x_ij - mean_i)^2 / (N - a),
//   k0 = (N - sum k_i^2 / N) / (a - 1)   (the mean group size for unequal groups),
//   ICC = (MSB - MSW) / (MSB + (k0 - 1) MSW).
// The confidence interval is the F interval: with F = MSB / MSW and the upper (1 - c) / 2 points
// of F(a - 1, N - a) and F(N - a, a - 1),
//   FL = F / F_(a-1, N-a),  FU = F * F_(N-a, a-1),
//   lower = (FL - 1) / (FL + k0 - 1),  upper = (FU - 1) / (FU + k0 - 1),
// exact for equal group sizes and with k0 in place of k the usual approximation otherwise.
// The within-photograph SD is sqrt(MSW), the coefficient of variation sqrt(MSW) / m in per cent.
struct Repeatability {
  int photographs = 0;   // a
  int measurements = 0;  // N
  double grand_mean = 0.0;
  double msb = 0.0;
  double msw = 0.0;
  double k0 = 0.0;
  double icc = 0.0;
  double lower = 0.0;  // confidence interval of the ICC
  double upper = 0.0;
  double f = 0.0;  // MSB / MSW, infinite when every repeat agrees exactly
  double within_sd = 0.0;
  double cv_percent = 0.0;
};

// Empty when fewer than two groups have at least two values. Groups of fewer than two values do
// not enter; `confidence` is in (0, 1).
std::optional<Repeatability> one_way_icc(const std::vector<std::vector<double>>& groups,
                                         double confidence = 0.95);

// Mean and limits of agreement (mean +- 1.96 SD) of the differences of repeat pairs.
struct Agreement {
  int pairs = 0;
  double mean_difference = 0.0;
  double sd_difference = 0.0;
  double lower_limit = 0.0;
  double upper_limit = 0.0;
};
Agreement limits_of_agreement(const std::vector<double>& differences);

}  // namespace meravel
