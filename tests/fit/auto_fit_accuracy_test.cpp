// Key a's fit on the object's sub-pixel edge: objects at or cut by the image's edge, a second
// object touching, a threshold set off, and objects lying across a photograph less high than
// they are long.
#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgproc.hpp>

#include "auto_fit_support.h"
#include "fit/height_maximum.h"
#include "fit/model_top.h"

using namespace meravel;

using namespace auto_fit_test;

namespace {

// Lambda as the fit's orientation sees it: 1/lambda when its top is the object's bottom.
double lambda_as_fitted(const DemoObject& o, int rotation) {
  return angle_between(rotation, o.rotation_deg) > 90 ? 1.0 / o.lambda : o.lambda;
}

}  // namespace

// Reaching into the outer pixel frame, or cut by the image's edge by 5 and 10 % of its length:
// lambda within 1 % from what is visible, and the energy handed back is the deviation energy of
// exactly the values handed back (+inf where that model reaches past the image).
TEST(AutoFitAccuracy, ObjectsAtTheBorderFittedOnWhatIsVisible) {
  struct Case {
    const char* name;
    DemoObject object;
  } const cases[] = {
      // Lying, 160 px long: from x = 0, inside the outer frame pixel (the image starts at -0.5).
      {"touching the left edge", object(1.4, 160, 110, 90, 80, 120)},
      {"cut 5 % at the top", object(0.8, 160, 120, 0, 160, 72)},               // to y = -8
      {"cut 10 % at the right", object(2.2, 160, 100, 270, 255, 120)},         // to x = 335
      {"cut 8 % at the bottom, tilted", object(1.2, 150, 110, 30, 150, 179)},  // to y = 251
  };
  unsigned seed = 70;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DemoObject& o = c.object;
    const cv::Mat photo =
        jpeg_round_trip(render_demo_photo({320, 240}, o, light_object(true, seed++)), 75);
    FitState state;
    prepare(state, photo);
    state.cut_off_top = 1;
    state.cut_off_bottom = 5;
    const AutoFitResult result = auto_fit(state);
    ASSERT_TRUE(result.found);
    const double lambda = lambda_as_fitted(o, result.model.rotation);
    EXPECT_NEAR(result.model.lambda_milli / 1000.0, lambda, 0.01 * lambda);
    EXPECT_TRUE(keeps_top(result.model.rotation, 325));
    EXPECT_EQ(result.energy, energy_of(state, result));
  }
}

// A second light object touching the first, a third of its length across: the outline is the
// border of both, and lambda still the first's.
TEST(AutoFitAccuracy, SecondObjectTouchingDoesNotPull) {
  const DemoObject o = object(1.6, 150, 110, 20, 160, 120);
  cv::Mat photo = render_demo_photo({320, 240}, o, light_object(true, 75));
  cv::circle(photo, {238, 120}, 30, cv::Scalar(200, 200, 200), cv::FILLED, cv::LINE_AA);
  FitState state;
  prepare(state, jpeg_round_trip(photo, 75), 0);
  const AutoFitResult result = auto_fit(state);
  ASSERT_TRUE(result.found);
  EXPECT_NEAR(result.model.lambda_milli / 1000.0, o.lambda, 0.005 * o.lambda);
  EXPECT_LE(angle_between(result.model.rotation, o.rotation_deg), 1.0);
  EXPECT_NEAR(result.model.height, o.height, 2.0);
}

// The threshold only separates object and ground; the edge is where the grey level is halfway
// between them. 20 levels above or below the middle, lambda of a 100 px object within 0.5 %.
TEST(AutoFitAccuracy, ThresholdSetOffByTwentyLevels) {
  const DemoObject o = object(1.9, 100, 75, 340, 120, 90);
  const cv::Mat photo =
      jpeg_round_trip(render_demo_photo({240, 180}, o, light_object(true, 76)), 75);
  for (int threshold : {111, 131, 151}) {
    SCOPED_TRACE(testing::Message() << "threshold " << threshold);
    FitState state;
    prepare(state, photo, 325, threshold);
    const AutoFitResult result = auto_fit(state);
    ASSERT_TRUE(result.found);
    EXPECT_NEAR(result.model.lambda_milli / 1000.0, o.lambda, 0.005 * o.lambda);
  }
}

// Objects lying across photographs 240 px high, 15 to 25 % longer than that: the model's height
// goes past the photograph's, up to its diagonal, and the fit's energy comes within 0.1 px of
// the energy at the object's own values.
TEST(AutoFitAccuracy, LyingLongerThanThePhotographIsHigh) {
  struct Case {
    DemoObject object;
    bool noisy;
  } const cases[] = {
      {object(1.3, 280, 170, 92, 200, 120), false},
      {object(0.7, 300, 180, 265, 200, 118), true},
      {object(2.4, 276, 150, 80, 195, 121), true},
  };
  unsigned seed = 80;
  for (const Case& c : cases) {
    const DemoObject& o = c.object;
    SCOPED_TRACE(testing::Message() << "lambda " << o.lambda << " h " << o.height);
    cv::Mat photo = render_demo_photo({400, 240}, o, light_object(c.noisy, seed++));
    if (c.noisy) photo = jpeg_round_trip(photo, 75);
    FitState state;
    prepare(state, photo);
    const AutoFitResult result = auto_fit(state);
    ASSERT_TRUE(result.found);
    EXPECT_GT(result.model.height, 240);
    EXPECT_LE(result.model.height, height_maximum(400, 240));
    EXPECT_NEAR(result.model.height, o.height, 3.0);
    EXPECT_LE(result.energy, energy_at(state, o) + 0.1);
    const double lambda = lambda_as_fitted(o, result.model.rotation);
    EXPECT_NEAR(result.model.lambda_milli / 1000.0, lambda, 0.01 * lambda);
  }
}
