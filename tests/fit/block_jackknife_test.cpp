// The jackknife over stretches of the edge on hand-made edge points of an egg-shaped model, run to
// the end and as the fit's own one-step form: none where the points lie on it, about the fitted
// values' own spread where they scatter independently, larger than the residuals' covariance
// where a long stretch of the edge is displaced, none where too few points make a stretch.
#include "fit/block_jackknife.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "fit/curve_least_squares.h"
#include "fit/geometry.h"

using namespace meravel;

namespace {

// The model with lambda 1.3, 80 px wide and 110 px high, upright about (200, 150): its closed form
// x = (P/2) (s/p)^p ((1-s)/q)^q, y = h (s - 1/2).
auto_fit_detail::Placement egg_placement() {
  auto_fit_detail::Placement q;
  q.lambda = 1.3;
  q.pixel_width = 80.0;
  q.height = 110.0;
  q.rotation_degrees = 0.0;
  q.center_x = 200.0;
  q.center_y = 150.0;
  return q;
}

// `count` points along the model, down its right half and up its left, each moved across the
// outline by independent scatter of `scatter_px` and, on the stretch from a quarter to three
// eighths of the way round, by `displaced_px` more.
std::vector<EdgePoint> egg_points(int count, double scatter_px, double displaced_px,
                                  unsigned seed) {
  const auto_fit_detail::Placement q = egg_placement();
  const double p = q.lambda / (1.0 + q.lambda), r = 1.0 - p;
  const auto at = [&](double t) {  // t in [0, 1): once round
    const double s = t < 0.5 ? 2 * t : 2 - 2 * t;
    const double side = t < 0.5 ? 1.0 : -1.0;
    const double x = 0.5 * q.pixel_width * std::pow(s / p, p) * std::pow((1 - s) / r, r);
    return cv::Point2d(q.center_x + side * x, q.center_y + q.height * (s - 0.5));
  };
  std::mt19937 random(seed);
  std::normal_distribution<double> scatter(0.0, 1.0);
  std::vector<EdgePoint> edges;
  for (int k = 0; k < count; ++k) {
    const double t = (k + 0.5) / count;
    const cv::Point2d along = at(t + 0.25 / count) - at(t - 0.25 / count);
    const cv::Point2d normal = cv::Point2d(along.y, -along.x) / std::hypot(along.x, along.y);
    const double moved = scatter_px * scatter(random) + (t >= 0.25 && t < 0.375 ? displaced_px : 0);
    edges.push_back({at(t) + moved * normal, normal});
  }
  return edges;
}

}  // namespace

TEST(BlockJackknife, ErrorsOfAnEggShapedModel) {
  const std::array<double, 6> exact =
      block_jackknife_errors(egg_points(400, 0.0, 0.0, 1), egg_placement(), 0.0, 0.0);
  for (int a = 0; a < 6; ++a) EXPECT_NEAR(exact[a], 0.0, 1e-6) << a;

  // Independent scatter, drawn again and again: the fit's jackknife errors are about the spread
  // of the fitted values themselves. A jackknife errs on the safe side (its variance is biased
  // upwards; with eight stretches it scatters by about a quarter), so it may stand above the
  // spread by more than it falls below it.
  constexpr int kDraws = 40;
  std::array<double, 6> sum{}, sum_of_squares{}, jackknife_sum{};
  for (int draw = 0; draw < kDraws; ++draw) {
    const std::vector<EdgePoint> edges = egg_points(800, 0.3, 0.0, 100 + draw);
    const CurveFit fit = fit_curve_to_edges(edges, egg_placement(), 0.0, 0.0);
    ASSERT_TRUE(fit.converged);
    const std::array<double, 6>& errors = fit.jackknife_error;
    if (draw == 0) {
      // The fit's own jackknife takes each fit without a stretch one Newton step from the
      // optimum, and falls a little short of the fits run to their end: the weights stay.
      const std::array<double, 6> refitted = block_jackknife_errors(edges, fit.placement, 0.0, 0.0);
      for (int a = 0; a < 6; ++a) {
        SCOPED_TRACE(a);
        EXPECT_GT(errors[a], 0.65 * refitted[a]);
        EXPECT_LT(errors[a], 1.05 * refitted[a]);
      }
    }
    const auto_fit_detail::Placement& q = fit.placement;
    const std::array<double, 6> values{std::log(q.lambda), q.pixel_width,
                                       q.height,           q.rotation_degrees * kPi / 180,
                                       q.center_x,         q.center_y};
    for (int a = 0; a < 6; ++a) {
      sum[a] += values[a];
      sum_of_squares[a] += values[a] * values[a];
      jackknife_sum[a] += errors[a];
    }
  }
  for (int a = 0; a < 6; ++a) {
    SCOPED_TRACE(a);
    const double mean = sum[a] / kDraws;
    const double spread = std::sqrt(sum_of_squares[a] / kDraws - mean * mean);
    EXPECT_GT(jackknife_sum[a] / kDraws, 0.8 * spread);
    EXPECT_LT(jackknife_sum[a] / kDraws, 1.8 * spread);
  }

  // A stretch of an eighth of the edge displaced by a pixel: the values depend on that stretch,
  // which the jackknife sees and the residuals' correlation hardly shows.
  const CurveFit displaced =
      fit_curve_to_edges(egg_points(800, 0.3, 1.0, 2), egg_placement(), 0.0, 0.0);
  ASSERT_TRUE(displaced.converged);
  EXPECT_GT(displaced.jackknife_error[0], 2 * displaced.standard_error[0]);
  EXPECT_GT(std::fabs(std::log(displaced.placement.lambda / 1.3)), displaced.standard_error[0]);

  const std::array<double, 6> too_few = block_jackknife_errors(
      egg_points(12 * kJackknifeBlocks - 1, 0.3, 0.0, 3), egg_placement(), 0.0, 0.0);
  for (const double e : too_few) EXPECT_TRUE(std::isnan(e));
}
