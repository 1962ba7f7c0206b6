// Two fits of one photograph at once: each its own value, set up on its own region and fitted in
// its own buffers, so that the second changes nothing of the first.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <sstream>

#include "auto_fit_support.h"

using namespace meravel;

using namespace auto_fit_test;

TEST(TwoFits, TwoObjectsOfOnePhotographFittedSideBySide) {
  // A clutch of two, 300 pixels apart, of different shapes and turns.
  const DemoObject left = object(1.2, 150, 110, 10, 150, 150);
  const DemoObject right = object(1.6, 130, 90, 340, 450, 140);
  cv::Mat photo = cv::max(render_demo_photo({600, 300}, left, light_object(true, 3)),
                          render_demo_photo({600, 300}, right, light_object(true, 4)));
  SessionStart start;
  start.cut_offs = {0, 0};
  start.region = cv::Rect(0, 0, 300, 300);
  FitState first = prepare_fit(photo, start);
  start.region = cv::Rect(300, 0, 300, 300);
  FitState second = prepare_fit(photo, start);

  std::ostringstream errors;
  const AutoFitResult first_fit = auto_fit(first, errors);
  const AutoFitResult second_fit = auto_fit(second, errors);
  const struct {
    const char* name;
    const DemoObject& object;
    const FitState& state;
    const AutoFitResult& fit;
  } fits[] = {{"left", left, first, first_fit}, {"right", right, second, second_fit}};
  for (const auto& f : fits) {
    SCOPED_TRACE(f.name);
    ASSERT_TRUE(f.fit.found);
    // The model lies on the region's pixels; the region's corner takes it to the photograph's.
    const cv::Point centre_in_photo =
        cv::Point(f.fit.model.translation_x, f.fit.model.translation_y) +
        f.state.source_origin_in_photo;
    EXPECT_NEAR(centre_in_photo.x, f.object.center_x, 2.0);
    EXPECT_NEAR(centre_in_photo.y, f.object.center_y, 2.0);
    EXPECT_LT(angle_between(f.fit.model.rotation, f.object.rotation_deg), 5.0);
    EXPECT_NEAR(f.fit.model.lambda_milli / 1000.0, f.object.lambda, 0.02 * f.object.lambda);
    EXPECT_LT(f.fit.energy, 1.0);
  }

  // The first again, after the second was fitted: the same values and energy.
  const AutoFitResult again = auto_fit(first, errors);
  EXPECT_EQ(again.model, first_fit.model);
  EXPECT_EQ(again.energy, first_fit.energy);
}
