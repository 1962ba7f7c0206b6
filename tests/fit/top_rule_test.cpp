// Which end of the model is its top: the rule itself, the model turned round, and the automatic
// fit keeping its top within a quarter turn of the current rotation's.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "auto_fit_support.h"
#include "fit/model_top.h"

using namespace meravel;

using namespace auto_fit_test;

// Rotations 0 top up, 90 top right, 180 down, 270 left: within a quarter turn either way, and
// exactly a quarter turn only clockwise (reference + 90).
TEST(KeepsTop, WithinAQuarterTurnAndTheClockwiseQuarterTurnItself) {
  struct Case {
    int rotation, reference;
    bool kept;
  } const cases[] = {
      {325, 325, true},  {54, 325, true},   {55, 325, true},   {56, 325, false},  {236, 325, true},
      {235, 325, false}, {145, 325, false}, {90, 0, true},     {91, 0, false},    {270, 0, false},
      {271, 0, true},    {359, 0, true},    {90, 360, true},   {270, 360, false}, {-10, 0, true},
      {370, 0, true},    {0, 270, true},    {180, 270, false}, {0, -90, true},    {720, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rotation << " from " << c.reference);
    EXPECT_EQ(keeps_top(c.rotation, c.reference), c.kept);
  }
}

namespace {

// Distance from p to the closed polyline `loop`.
double distance_to_loop(const cv::Point2d& p, const std::vector<cv::Point2d>& loop) {
  double best = HUGE_VAL;
  for (size_t i = 0; i < loop.size(); ++i) {
    const cv::Point2d a = loop[i], b = loop[(i + 1) % loop.size()];
    const cv::Point2d ab = b - a;
    const double length2 = ab.dot(ab);
    const double t = length2 > 0 ? std::clamp((p - a).dot(ab) / length2, 0.0, 1.0) : 0.0;
    best = std::min(best, cv::norm(p - (a + t * ab)));
  }
  return best;
}

}  // namespace

// Turned round, the model with 1/lambda as wide and as high is the same closed curve: every point
// of the one lies on the other (to the outlines' sampling, a quarter pixel apart at most).
TEST(TurnedRound, IsTheSameCurveWithOneOverLambda) {
  const auto_fit_detail::Placement q = placement_of(object(1.8, 120, 90, 300, 150, 110));
  const auto_fit_detail::Placement turned = turned_round(q);
  EXPECT_DOUBLE_EQ(turned.lambda, 1.0 / 1.8);
  EXPECT_DOUBLE_EQ(turned.rotation_degrees, 120.0);
  EXPECT_EQ(turned.height, q.height);
  EXPECT_EQ(turned.pixel_width, q.pixel_width);
  EXPECT_EQ(turned.center_x, q.center_x);
  EXPECT_EQ(turned.center_y, q.center_y);
  const auto as_object = [](const auto_fit_detail::Placement& p) {
    return DemoObject{p.lambda,   width_for_pixel_width(p.lambda, p.height, p.pixel_width),
                      p.height,   p.rotation_degrees,
                      p.center_x, p.center_y};
  };
  const std::vector<cv::Point2d> loop = demo_object_outline(as_object(q));
  const std::vector<cv::Point2d> turned_loop = demo_object_outline(as_object(turned));
  double farthest = 0.0;
  for (size_t i = 0; i < turned_loop.size(); i += 7)
    farthest = std::max(farthest, distance_to_loop(turned_loop[i], loop));
  EXPECT_LT(farthest, 0.01);
  // Not merely any curve through the same box: the model turned by 180 degrees alone differs.
  auto_fit_detail::Placement half_turn = q;
  half_turn.rotation_degrees += 180.0;
  const std::vector<cv::Point2d> other = demo_object_outline(as_object(half_turn));
  double apart = 0.0;
  for (size_t i = 0; i < other.size(); i += 7)
    apart = std::max(apart, distance_to_loop(other[i], loop));
  EXPECT_GT(apart, 2.0);
}

// Key a keeps the top within a quarter turn of the current rotation's, also where the axis lies
// about a quarter turn from it or the object is nearly round, and reports lambda for the top it
// keeps (1/lambda when that is the object's bottom). The first three are photographs on which
// the fit once ended 92, 118 and 91 degrees from the reference.
TEST(AutoFitTopRule, TopWithinAQuarterTurnOfTheCurrentRotation) {
  struct Case {
    const char* name;
    DemoObject object;
    cv::Size photo;
    int reference;
  } const cases[] = {
      {"wide, 93 degrees clockwise", {0.679, 551, 83, 58, 189, 125}, {239, 179}, 325},
      {"115 degrees anticlockwise", {0.892, 650, 90, 210, 192, 82}, {266, 199}, 325},
      {"nearly round, 89 degrees", {0.795, 11296, 660, 236, 859, 606}, {1359, 1019}, 325},
      {"nearly round, 91 degrees", object(1.3, 150, 148, 56, 160, 120), {320, 240}, 325},
      {"nearly round, 90 degrees", object(0.8, 150, 152, 55, 160, 120), {320, 240}, 325},
      {"a quarter turn clockwise", object(1.6, 140, 90, 90, 160, 120), {320, 240}, 0},
      {"a quarter turn anticlockwise", object(1.6, 140, 90, 270, 160, 120), {320, 240}, 0},
      {"89 degrees clockwise", object(1.6, 140, 90, 89, 160, 120), {320, 240}, 0},
      {"91 degrees clockwise", object(1.6, 140, 90, 91, 160, 120), {320, 240}, 0},
      {"89 degrees anticlockwise", object(0.7, 140, 90, 271, 160, 120), {320, 240}, 0},
      {"91 degrees anticlockwise", object(0.7, 140, 90, 269, 160, 120), {320, 240}, 0},
  };
  unsigned seed = 60;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DemoObject& o = c.object;
    FitState state;
    prepare(state, render_demo_photo(c.photo, o, light_object(false, seed++)), c.reference);
    const AutoFitResult result = auto_fit(state);
    ASSERT_TRUE(result.found);
    EXPECT_TRUE(keeps_top(result.model.rotation, c.reference))
        << "rotation " << result.model.rotation;
    const bool same_top = angle_between(result.model.rotation, o.rotation_deg) <= 90.0;
    const double lambda = same_top ? o.lambda : 1.0 / o.lambda;
    EXPECT_NEAR(result.model.lambda_milli / 1000.0, lambda, 0.02 * lambda);
    EXPECT_LE(angle_between(result.model.rotation, o.rotation_deg + (same_top ? 0.0 : 180.0)), 3.0);
  }
}
