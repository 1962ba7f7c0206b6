#include "report/repeatability.h"

#include <algorithm>
#include <boost/math/distributions/fisher_f.hpp>
#include <cmath>
#include <limits>

namespace meravel {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// The two-sided 95 % point of the normal distribution.
constexpr double kNormal975 = 1.959963984540054;

// Summed about the first value: equal values give exactly that value, and their squared
// deviations exactly 0, so that repeats that agree show an SD of 0, not of 1e-17.
double mean_of(const std::vector<double>& values) {
  double sum = 0.0;
  for (double v : values) sum += v - values[0];
  return values[0] + sum / values.size();
}

// Sum of squared deviations from `mean`: two passes keep it accurate when the spread is small
// beside the values.
double squares_about(const std::vector<double>& values, double mean) {
  double sum = 0.0;
  for (double v : values) sum += (v - mean) * (v - mean);
  return sum;
}

}  // namespace

ValueSummary summarise_values(const std::vector<double>& values) {
  ValueSummary s;
  s.n = static_cast<int>(values.size());
  if (values.empty()) {
    s.mean = s.sd = s.min = s.max = kNaN;
    return s;
  }
  s.mean = mean_of(values);
  s.sd = s.n >= 2 ? std::sqrt(squares_about(values, s.mean) / (s.n - 1)) : kNaN;
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  s.min = *low;
  s.max = *high;
  return s;
}

std::optional<Repeatability> one_way_icc(const std::vector<std::vector<double>>& all_groups,
                                         double confidence) {
  std::vector<const std::vector<double>*> groups;
  for (const std::vector<double>& group : all_groups) {
    if (group.size() >= 2) groups.push_back(&group);
  }
  if (groups.size() < 2) return std::nullopt;
  Repeatability r;
  r.photographs = static_cast<int>(groups.size());
  std::vector<double> all;
  double squared_sizes = 0.0;
  for (const std::vector<double>* group : groups) {
    all.insert(all.end(), group->begin(), group->end());
    squared_sizes += static_cast<double>(group->size()) * group->size();
  }
  r.measurements = static_cast<int>(all.size());
  const double n = r.measurements;
  const double a = r.photographs;
  r.grand_mean = mean_of(all);
  double between = 0.0;
  double within = 0.0;
  for (const std::vector<double>* group : groups) {
    const double mean = mean_of(*group);
    between += group->size() * (mean - r.grand_mean) * (mean - r.grand_mean);
    within += squares_about(*group, mean);
  }
  const double df_between = a - 1;
  const double df_within = n - a;
  r.msb = between / df_between;
  r.msw = within / df_within;
  r.k0 = (n - squared_sizes / n) / df_between;
  r.within_sd = std::sqrt(r.msw);
  r.cv_percent = 100.0 * r.within_sd / std::fabs(r.grand_mean);
  r.icc = (r.msb - r.msw) / (r.msb + (r.k0 - 1) * r.msw);
  if (r.msw == 0.0) {
    // Every repeat agrees exactly: nothing is left for chance.
    r.f = INFINITY;
    r.icc = r.lower = r.upper = r.msb > 0.0 ? 1.0 : kNaN;
    return r;
  }
  r.f = r.msb / r.msw;
  const double tail = (1.0 - confidence) / 2.0;
  const boost::math::fisher_f between_by_within(df_between, df_within);
  const boost::math::fisher_f within_by_between(df_within, df_between);
  const double f_lower =
      r.f / boost::math::quantile(boost::math::complement(between_by_within, tail));
  const double f_upper =
      r.f * boost::math::quantile(boost::math::complement(within_by_between, tail));
  r.lower = (f_lower - 1) / (f_lower + r.k0 - 1);
  r.upper = (f_upper - 1) / (f_upper + r.k0 - 1);
  return r;
}

Agreement limits_of_agreement(const std::vector<double>& differences) {
  Agreement g;
  g.pairs = static_cast<int>(differences.size());
  if (differences.empty()) {
    g.mean_difference = g.sd_difference = g.lower_limit = g.upper_limit = kNaN;
    return g;
  }
  const ValueSummary s = summarise_values(differences);
  g.mean_difference = s.mean;
  g.sd_difference = s.sd;
  g.lower_limit = s.mean - kNormal975 * s.sd;
  g.upper_limit = s.mean + kNormal975 * s.sd;
  return g;
}

}  // namespace meravel
