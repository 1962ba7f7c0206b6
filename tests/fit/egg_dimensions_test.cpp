// Egg dimensions of the continuous W-curve: exact against the spheroid for lambda 1, against an
// independent sum over a dense polyline of the model's own formula for other lambdas, and against
// the engine's sampled model for the breadth and the length.
#include "fit/egg_dimensions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <vector>

#include "fit/fit_W.h"
#include "fit/geometry.h"

using namespace meravel;

namespace {

// Relative difference, for values that are never 0 here.
double relative(double value, double expected) { return std::abs(value / expected - 1); }

// The surface of the spheroid with semi-axis `polar` along the axis of revolution and `equatorial`
// across it.
double spheroid_surface(double polar, double equatorial) {
  const double c = polar, e = equatorial;
  if (c > e) {
    const double ecc = std::sqrt(1 - e * e / (c * c));
    return 2 * kPi * e * e * (1 + c / (e * ecc) * std::asin(ecc));
  }
  if (c < e) {
    const double ecc = std::sqrt(1 - c * c / (e * e));
    return 2 * kPi * e * e + kPi * c * c / ecc * std::log((1 + ecc) / (1 - ecc));
  }
  return 4 * kPi * e * e;
}

// The solid of revolution of a polyline through points of the curve, from the top point on the
// axis to the bottom point: each segment sweeps a frustum of a cone.
struct PolylineSolid {
  double volume = 0;
  double surface = 0;
  double breadth = 0;
  double breadth_depth = 0;  // depth of the widest point
  double length = 0;         // depth range of the curve points (the tips not added)
};

// Points of the model's formula (D = (h/2)e^t + e^(-lambda t), x = a/D, y = (h^2/2)e^t/D) at
// steps of dt, over the t range in which x exceeds 1e-13 of the largest offset.
PolylineSolid polyline_solid(double lambda, double a, double h, double dt) {
  const double offset_floor = 1e-13 * a / std::pow(h, lambda / (1 + lambda));
  const double t_first = std::log(offset_floor / a) / lambda;
  const double t_last = std::log(a / (h / 2) / offset_floor);
  const auto offset = [&](double t) { return a / ((h / 2) * std::exp(t) + std::exp(-lambda * t)); };
  const auto depth = [&](double t) { return (h * h / 2) * std::exp(t) * offset(t) / a; };
  std::vector<double> xs = {0.0}, ys = {0.0};
  const long steps = std::lround((t_last - t_first) / dt);
  for (long i = 0; i <= steps; ++i) {
    xs.push_back(offset(t_first + i * dt));
    ys.push_back(depth(t_first + i * dt));
  }
  xs.push_back(0.0);
  ys.push_back(h);

  PolylineSolid solid;
  solid.length = ys[ys.size() - 2] - ys[1];
  size_t widest = 1;
  for (size_t i = 1; i < xs.size(); ++i) {
    const double r0 = xs[i - 1], r1 = xs[i], dy = ys[i] - ys[i - 1];
    solid.volume += kPi / 3 * dy * (r0 * r0 + r0 * r1 + r1 * r1);
    solid.surface += kPi * (r0 + r1) * std::hypot(r1 - r0, dy);
    if (xs[i] > xs[widest]) widest = i;
  }
  // The widest point between the widest sample's neighbours, by golden-section search on t.
  double low = t_first + (widest - 2) * dt, high = t_first + widest * dt;
  const double ratio = (std::sqrt(5.0) - 1) / 2;
  while (high - low > 1e-12) {
    const double left = high - ratio * (high - low), right = low + ratio * (high - low);
    if (offset(left) < offset(right)) {
      low = left;
    } else {
      high = right;
    }
  }
  solid.breadth = 2 * offset((low + high) / 2);
  solid.breadth_depth = depth((low + high) / 2);
  return solid;
}

// Two resolutions combined (Richardson): the frustum sums' error falls with dt^2.
PolylineSolid reference_solid(double lambda, double a, double h) {
  const PolylineSolid fine = polyline_solid(lambda, a, h, 1e-3);
  const PolylineSolid coarse = polyline_solid(lambda, a, h, 2e-3);
  PolylineSolid combined = fine;
  combined.volume = (4 * fine.volume - coarse.volume) / 3;
  combined.surface = (4 * fine.surface - coarse.surface) / 3;
  return combined;
}

}  // namespace

// lambda 1: the ellipse with semi-axes h/2 along the axis and a / sqrt(2h) across it, revolved
// into a prolate spheroid, a sphere or an oblate one.
TEST(EggDimensions, LambdaOneIsTheSpheroidExactly) {
  struct Case {
    const char* name;
    double a;
    double h;
  } const cases[] = {
      {"prolate, a demo egg", 2995, 360},
      {"prolate, slender", 250, 300},
      {"sphere", 2000, 200},  // a / sqrt(2h) = 100 = h/2
      {"oblate", 9000, 200},
      {"tiny", 3, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<EggDimensions> egg = egg_dimensions(1.0, c.a, c.h);
    ASSERT_TRUE(egg);
    const double polar = c.h / 2, equatorial = c.a / std::sqrt(2 * c.h);
    EXPECT_LT(relative(egg->length, 2 * polar), 1e-12);
    EXPECT_LT(relative(egg->breadth, 2 * equatorial), 1e-12);
    EXPECT_LT(relative(egg->breadth_position, 0.5), 1e-12);
    EXPECT_LT(relative(egg->elongation, polar / equatorial), 1e-12);
    EXPECT_LT(relative(egg->volume, 4.0 / 3 * kPi * polar * equatorial * equatorial), 1e-12);
    EXPECT_LT(relative(egg->surface, spheroid_surface(polar, equatorial)), 1e-12);
  }
}

// Other lambdas against the frustums of a dense polyline of the model's formula.
TEST(EggDimensions, AgreesWithAPolylineOfTheCurveForOtherLambdas) {
  struct Case {
    double lambda;
    double a;
    double h;
  } const cases[] = {
      {0.3, 900, 300},      {0.6, 2200, 260}, {0.95, 8445, 725}, {1.1, 4448.4, 450},
      {1.25, 8613.75, 680}, {1.6, 240, 150},  {2.5, 8450, 500},  {6.0, 50000, 400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "lambda " << c.lambda << ", a " << c.a << ", h " << c.h);
    const std::optional<EggDimensions> egg = egg_dimensions(c.lambda, c.a, c.h);
    ASSERT_TRUE(egg);
    const PolylineSolid reference = reference_solid(c.lambda, c.a, c.h);
    EXPECT_LT(relative(egg->length, reference.length), 1e-6);
    EXPECT_LT(relative(egg->breadth, reference.breadth), 1e-6);
    EXPECT_LT(relative(egg->breadth_position, reference.breadth_depth / reference.length), 1e-6);
    EXPECT_LT(relative(egg->elongation, reference.length / reference.breadth), 1e-6);
    EXPECT_LT(relative(egg->volume, reference.volume), 1e-6);
    EXPECT_LT(relative(egg->surface, reference.surface), 1e-6);
    // The widest point lies where the model's description puts it: at depth h lambda/(1+lambda).
    EXPECT_NEAR(egg->breadth_position, c.lambda / (1 + c.lambda), 1e-12);
  }
}

// The dimensions describe the engine's own model: its sampled, truncated halves are as wide as the
// continuous curve less at most the truncation (1 px a side) and the sampling of t, and as long.
TEST(EggDimensions, MatchTheSampledModelOfTheTrackbarValues) {
  struct Case {
    int lambda_milli;
    int width;
    int height;
  } const cases[] = {
      {1000, 250, 300}, {1100, 4044, 450}, {1250, 6891, 680}, {950, 8889, 725}, {2500, 3380, 500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lambda_milli << " " << c.width << " " << c.height);
    const std::optional<EggDimensions> egg =
        egg_dimensions_of_model(c.lambda_milli, c.width, c.height);
    ASSERT_TRUE(egg);
    std::vector<cv::Point> left, right;
    const double lambda = c.lambda_milli / 1000.0;
    const WCurveExtent extent = generate_w_curve(lambda, lambda * c.width, c.height, 0, 1000, 1000,
                                                 CutOffs{0, 0}, left, right, std::cerr);
    ASSERT_TRUE(extent.produced);
    EXPECT_LE(extent.pixel_width, egg->breadth);
    EXPECT_LT(egg->breadth, extent.pixel_width + 2 + 2e-3 * egg->breadth);
    int top = right.front().y, bottom = right.front().y;
    for (const cv::Point& p : right) top = std::min(top, p.y), bottom = std::max(bottom, p.y);
    EXPECT_NEAR(bottom - top, egg->length, 2.0);
  }
}

// Millimetres: an egg photographed twice as large, with twice the pixels per millimetre, has the
// same size in millimetres. Twice the size means h and the offsets K u^p (1-u)^q doubled, that is
// a = lambda * width times 2^(1 + p).
TEST(EggDimensions, MillimetresDoNotDependOnThePhotographsResolution) {
  for (const double lambda : {0.7, 1.0, 1.3}) {
    SCOPED_TRACE(lambda);
    const double p = lambda / (1 + lambda);
    const std::optional<EggDimensions> small = egg_dimensions(lambda, 4000, 450);
    const std::optional<EggDimensions> large =
        egg_dimensions(lambda, 4000 * std::pow(2, 1 + p), 900);
    ASSERT_TRUE(small && large);
    const EggDimensions a = egg_dimensions_in_mm(*small, 8);
    const EggDimensions b = egg_dimensions_in_mm(*large, 16);
    EXPECT_NEAR(a.length, 450 / 8.0, 1e-12);
    EXPECT_LT(relative(b.length, a.length), 1e-12);
    EXPECT_LT(relative(b.breadth, a.breadth), 1e-12);
    EXPECT_LT(relative(b.volume, a.volume), 1e-12);
    EXPECT_LT(relative(b.surface, a.surface), 1e-12);
    EXPECT_EQ(b.breadth_position, small->breadth_position);
    EXPECT_LT(relative(b.elongation, small->elongation), 1e-12);
  }
}

// A model without extent has no dimensions, rather than zeros or NaN in a record.
TEST(EggDimensions, ModelWithoutExtentHasNone) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double lambda, a, h;
  } const cases[] = {{0, 0, 300},    {1, 0, 300},     {1, 250, 0},   {-1, 250, 300},
                     {1, -250, 300}, {nan, 250, 300}, {1, inf, 300}, {1, 250, nan}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lambda << " " << c.a << " " << c.h);
    EXPECT_FALSE(egg_dimensions(c.lambda, c.a, c.h));
  }
  EXPECT_FALSE(egg_dimensions_of_model(0, 4000, 450));  // Lambda*1000 at 0
  EXPECT_FALSE(egg_dimensions_of_model(1100, 0, 450));
  EXPECT_FALSE(egg_dimensions_of_model(1100, 4000, 0));
  // The trackbars' extremes still give finite dimensions.
  for (const auto& [lambda_milli, width, height] :
       {std::tuple{1, 1, 1}, std::tuple{6000, 120000, 4000}, std::tuple{1, 120000, 4000},
        std::tuple{6000, 1, 1}}) {
    SCOPED_TRACE(testing::Message() << lambda_milli << " " << width << " " << height);
    const std::optional<EggDimensions> egg = egg_dimensions_of_model(lambda_milli, width, height);
    ASSERT_TRUE(egg);
    EXPECT_TRUE(std::isfinite(egg->surface) && egg->surface > 0);
    EXPECT_TRUE(std::isfinite(egg->volume) && egg->volume > 0);
  }
}
