#include "fit/block_jackknife.h"

#include <cmath>

#include "fit/curve_least_squares.h"
#include "fit/geometry.h"

namespace meravel {

std::array<double, 6> block_jackknife_errors(const std::vector<EdgePoint>& edges,
                                             const auto_fit_detail::Placement& optimum,
                                             double cut_off_top, double cut_off_bottom,
                                             int blocks) {
  std::array<double, 6> errors;
  errors.fill(kNaN);
  const size_t n = edges.size();
  if (blocks < 2 || n < 12 * static_cast<size_t>(blocks)) return errors;
  std::vector<std::array<double, 6>> values;
  for (int block = 0; block < blocks; ++block) {
    std::vector<EdgePoint> kept;
    kept.reserve(n);
    for (size_t k = 0; k < n; ++k) {
      if (static_cast<int>(k * blocks / n) != block) kept.push_back(edges[k]);
    }
    const CurveFit fit = fit_curve_to_edges(kept, optimum, cut_off_top, cut_off_bottom);
    if (!fit.converged) return errors;
    const auto_fit_detail::Placement& q = fit.placement;
    values.push_back({std::log(q.lambda), q.pixel_width, q.height, q.rotation_degrees * kPi / 180.0,
                      q.center_x, q.center_y});
  }
  for (int a = 0; a < 6; ++a) {
    double mean = 0.0;
    for (const std::array<double, 6>& v : values) mean += v[a];
    mean /= blocks;
    double sum = 0.0;
    for (const std::array<double, 6>& v : values) sum += (v[a] - mean) * (v[a] - mean);
    errors[a] = std::sqrt((blocks - 1.0) / blocks * sum);
  }
  return errors;
}

}  // namespace meravel
