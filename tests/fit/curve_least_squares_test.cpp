// The continuous model's signed distance, and the robust least-squares fit to sub-pixel edges of
// rendered objects: clear, noisy, cut by the border, with a second object touching.
#include "fit/curve_least_squares.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "auto_fit_support.h"
#include "fit/geometry.h"

using namespace meravel;

using namespace auto_fit_test;
using auto_fit_detail::Placement;

namespace {

Placement placement(double lambda, double pixel_width, double height, double rotation, double x,
                    double y) {
  Placement q;
  q.lambda = lambda;
  q.pixel_width = pixel_width;
  q.height = height;
  q.rotation_degrees = rotation;
  q.center_x = x;
  q.center_y = y;
  return q;
}

}  // namespace

// With lambda 1 the model is (x / (P/2))^2 + (y / (h/2))^2 = 1: x = P sqrt(s (1 - s)),
// y = h (s - 1/2). With P = h a circle of radius h/2, whose distance is the distance to the
// centre less the radius, in any rotation; with P = 60, h = 40 an ellipse, nearest at its
// vertices from points on its axes.
TEST(DistanceToModel, CircleAndEllipseByHand) {
  struct Case {
    const char* name;
    Placement q;
    cv::Point2d point;
    double distance;
  } const cases[] = {
      {"circle, outside", placement(1, 40, 40, 33, 100, 80), {100 + 18, 80 + 24}, 10.0},
      {"circle, inside", placement(1, 40, 40, 33, 100, 80), {100 - 3, 80 + 4}, -15.0},
      {"circle, above the top", placement(1, 40, 40, 0, 100, 80), {100, 50}, 10.0},
      {"circle, on it", placement(1, 40, 40, 200, 100, 80), {100 + 12, 80 - 16}, 0.0},
      {"ellipse, beyond its side", placement(1, 60, 40, 0, 100, 80), {135, 80}, 5.0},
      {"ellipse, below its bottom", placement(1, 60, 40, 0, 100, 80), {100, 106}, 6.0},
      {"ellipse turned, left half", placement(1, 60, 40, 90, 100, 80), {100, 80 - 32}, 2.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NEAR(distance_to_model(c.q, c.point).distance, c.distance, 1e-7);
  }
  // The nearest point's depth: the bottom of the circle is s = 1, its widest point s = 1/2.
  EXPECT_NEAR(distance_to_model(placement(1, 40, 40, 0, 100, 80), {100, 110}).s, 1.0, 1e-6);
  EXPECT_NEAR(distance_to_model(placement(1, 40, 40, 0, 100, 80), {70, 80}).s, 0.5, 1e-9);
}

// Away from lambda 1 the closed form holds the sample formula's curve: points of the rendered
// object's outline (the formula in doubles) lie on the model.
TEST(DistanceToModel, ZeroOnTheSampleFormulasCurve) {
  for (double lambda : {0.6, 1.7, 3.0}) {
    SCOPED_TRACE(testing::Message() << "lambda " << lambda);
    const DemoObject o = object(lambda, 120, 80, 25, 150, 110);
    const Placement q = placement_of(o);
    const std::vector<cv::Point2d> outline = demo_object_outline(o);
    for (size_t i = 0; i < outline.size(); i += 11)
      EXPECT_NEAR(distance_to_model(q, outline[i]).distance, 0.0, 1e-6) << outline[i];
  }
}

namespace {

struct Rendered {
  cv::Mat photo;
  std::vector<EdgePoint> edges;
};

Rendered render(const DemoObject& o, cv::Size size, bool noisy, unsigned seed,
                const std::function<void(cv::Mat&)>& also = {}) {
  Rendered r;
  r.photo = render_demo_photo(size, o, light_object(noisy, seed));
  if (also) also(r.photo);
  if (noisy) r.photo = jpeg_round_trip(r.photo, 75);
  FitState state;
  prepare(state, r.photo);
  r.edges = subpixel_edges(r.photo, state.target.outline_contour, 131);
  return r;
}

}  // namespace

// From a start some per cent and pixels off, the fit recovers the object's placement: on a clear
// photograph, a noisy one, one where the image's edge cuts 8 % off the object's side, and one
// where a blob touches it (the robust loss leaves its edge out).
TEST(FitCurveToEdges, RecoversTheObjectsPlacement) {
  const DemoObject o = object(1.6, 150, 110, 20, 160, 120);
  const auto touching_blob = [](cv::Mat& photo) {
    cv::circle(photo, {225, 130}, 15, cv::Scalar(200, 200, 200), cv::FILLED, cv::LINE_AA);
  };
  struct Case {
    const char* name;
    DemoObject object;
    bool noisy;
    std::function<void(cv::Mat&)> also;
    double lambda_tolerance;
  } const cases[] = {
      {"clear", o, false, {}, 0.002},
      {"noisy", o, true, {}, 0.005},
      {"cut by the left edge", object(1.6, 150, 110, 20, 62, 120), true, {}, 0.005},
      {"a blob touching", o, true, touching_blob, 0.005},
  };
  unsigned seed = 30;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Rendered r = render(c.object, {320, 240}, c.noisy, seed++, c.also);
    ASSERT_GT(r.edges.size(), 200u);
    const Placement truth = placement_of(c.object);
    Placement start = truth;
    start.lambda *= 1.12;
    start.pixel_width -= 3;
    start.height += 3;
    start.rotation_degrees += 4;
    start.center_x += 2;
    start.center_y -= 2;
    const CurveFit fit = fit_curve_to_edges(r.edges, start, 0.01, 0.05);
    EXPECT_TRUE(fit.converged);
    EXPECT_NEAR(fit.placement.lambda, truth.lambda, c.lambda_tolerance * truth.lambda);
    EXPECT_NEAR(fit.placement.pixel_width, truth.pixel_width, 0.4);
    EXPECT_NEAR(fit.placement.height, truth.height, 0.4);
    EXPECT_NEAR(fit.placement.rotation_degrees, truth.rotation_degrees, 0.3);
    EXPECT_NEAR(fit.placement.center_x, truth.center_x, 0.3);
    EXPECT_NEAR(fit.placement.center_y, truth.center_y, 0.3);
    EXPECT_LT(fit.score, curve_fit_score(r.edges, start));
  }
}

// A second object touching, almost half the first's length across: its edge, at up to 60 px
// from the model, carries no weight. From the object's own placement the points within a pixel
// of the fit are the object's own, and lambda stays.
TEST(FitCurveToEdges, TouchingObjectIsLeftOut) {
  const DemoObject o = object(1.6, 150, 110, 20, 160, 120);
  const Rendered r = render(o, {320, 240}, true, 7, [](cv::Mat& photo) {
    cv::circle(photo, {238, 120}, 30, cv::Scalar(200, 200, 200), cv::FILLED, cv::LINE_AA);
  });
  int on_the_disc = 0;
  for (const EdgePoint& e : r.edges) on_the_disc += e.position.x > 222;
  ASSERT_GT(on_the_disc, 60);
  const CurveFit fit = fit_curve_to_edges(r.edges, placement_of(o), 0.01, 0.05);
  EXPECT_LE(fit.inliers, static_cast<int>(r.edges.size()) - on_the_disc);
  EXPECT_NEAR(fit.placement.lambda, o.lambda, 0.005 * o.lambda);
  EXPECT_NEAR(fit.placement.height, o.height, 0.5);
}

// Without a start near it, from the twelve directions and three lambdas alone, the best fit finds
// the object in any rotation; with the start's top either way round of the object's (the fit
// then reports 1/lambda, turned round).
TEST(BestCurveFit, FindsTheObjectFromNoStart) {
  unsigned seed = 50;
  for (double rotation : {0.0, 47.0, 133.0, 260.0}) {
    SCOPED_TRACE(testing::Message() << "rotation " << rotation);
    const DemoObject o = object(2.1, 140, 100, rotation, 160, 120);
    const Rendered r = render(o, {320, 240}, true, seed++);
    const CurveFit fit = best_curve_fit(r.edges, {}, 0.01, 0.05);
    const double turned = angle_between(fit.placement.rotation_degrees, rotation) > 90 ? 180 : 0;
    const double lambda = turned > 0 ? 1.0 / o.lambda : o.lambda;
    EXPECT_NEAR(fit.placement.lambda, lambda, 0.005 * lambda);
    EXPECT_NEAR(angle_between(fit.placement.rotation_degrees + turned, rotation), 0.0, 0.3);
    EXPECT_NEAR(fit.placement.height, o.height, 0.5);
  }
}

// Too few points to fit: the start comes back, unfitted.
TEST(FitCurveToEdges, TooFewPointsGiveTheStart) {
  const Placement start = placement(1.3, 40, 50, 10, 60, 60);
  std::vector<EdgePoint> edges;
  for (int k = 0; k < 8; ++k) {
    const double a = 2 * kPi * k / 8;
    edges.push_back({{60 + 25 * std::cos(a), 60 + 25 * std::sin(a)}, {std::cos(a), std::sin(a)}});
  }
  const CurveFit fit = fit_curve_to_edges(edges, start, 0.0, 0.0);
  EXPECT_FALSE(fit.converged);
  EXPECT_EQ(fit.placement.lambda, start.lambda);
  EXPECT_EQ(fit.placement.center_x, start.center_x);
}
