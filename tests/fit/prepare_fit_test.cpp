// Setting up a fit with no window and no QApplication: the session's start values, the crop to
// the caller's region, the set-up's defaults, and a whole automatic fit of a generated photograph.
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>

#include "fit/auto_fit.h"
#include "fit/fit_W.h"
#include "tools/demo_photo.h"

using namespace meravel;

namespace {

// A textured photograph, so that every cut has pixels of its own.
cv::Mat textured_photo(int width, int height) {
  cv::Mat photo(height, width, CV_8UC3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      photo.at<cv::Vec3b>(y, x) = cv::Vec3b((x * 7 + y * 3) % 40, (x + y * 5) % 40, 20);
  return photo;
}

bool same_pixels(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

}  // namespace

// A light W-curve object fitted from the photograph alone: set-up, then key a's computing part.
TEST(PrepareFit, GeneratedPhotographIsFittedAutomaticallyWithoutAnyWindow) {
  const double lambda = 1.4, height = 170, rotation = 10;
  const DemoObject object{
      lambda, std::round(width_for_pixel_width(lambda, height, 120)), height, rotation, 165, 118};
  DemoLook look;
  look.background_level = 60;
  look.object_level = 200;
  SessionStart start;
  start.cut_offs = {0, 0};
  FitState state = prepare_fit(render_demo_photo({320, 240}, object, look), start);
  ASSERT_FALSE(state.target.outline_contour.empty());
  ASSERT_EQ(state.target.distance_image.size(), cv::Size(320, 240));

  const AutoFitResult result =
      auto_fit(state.target, state.source_image, state.threshold, state.cut_offs(),
               state.model.rotation, state.work, std::cerr);
  ASSERT_TRUE(result.found);
  EXPECT_NEAR(result.model.lambda_milli, 1400, 14);
  EXPECT_NEAR(result.model.height, height, 4);
  EXPECT_LE(degrees_between(result.model.rotation, rotation), 2.0);
  EXPECT_NEAR(result.model.translation_x, object.center_x, 2);
  EXPECT_NEAR(result.model.translation_y, object.center_y, 2);
  // The energy handed back is the deviation energy of exactly the values handed back.
  EvaluationBuffers fresh;
  EXPECT_EQ(result.energy, evaluate_model(state.target, state.cut_offs(),
                                          parameter_vector(result.model), fresh, std::cerr));
  const ParameterVector truth = {lambda * 1000, object.width,    height,
                                 rotation,      object.center_x, object.center_y};
  EXPECT_LE(result.energy,
            evaluate_model(state.target, state.cut_offs(), truth, fresh, std::cerr) + 0.05);
}

// The session's start: the caller's threshold, lambda in whole thousandths and cut-offs, rotation
// 325 and show input 90 whatever they were, the Deviation image 600 x 100, and the set-up's
// defaults for the image (1000 x 500: width 6000, height 375, translation (500, 250)).
TEST(PrepareFit, StartsFromTheCallersValuesAndTheSetUpsDefaults) {
  const struct {
    double lambda;
    int lambda_milli;
  } cases[] = {{1.1, 1100}, {1.001, 1001}, {1.234, 1234}, {0.0, 0}, {6.0, 6000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lambda);
    FitState state;
    state.model.rotation = 17;
    state.show_input = 3;
    state.show_binary = true;  // the switches of keys b and d stay as they were
    state.show_distance = true;
    SessionStart start;
    start.threshold = 140;
    start.lambda = c.lambda;
    start.cut_offs = {3, 7};
    prepare_fit(state, textured_photo(1000, 500), start);
    EXPECT_EQ(state.model.lambda_milli, c.lambda_milli);
    EXPECT_EQ(state.threshold, 140);
    EXPECT_EQ(state.cut_off_top, 3);
    EXPECT_EQ(state.cut_off_bottom, 7);
    EXPECT_EQ(state.model.rotation, 325);
    EXPECT_EQ(state.show_input, 90);
    EXPECT_TRUE(state.show_binary);
    EXPECT_TRUE(state.show_distance);
    EXPECT_EQ(state.deviation_image.size(), cv::Size(600, 100));
    EXPECT_EQ(state.model.width, 6000);
    EXPECT_EQ(state.model.height, 375);
    EXPECT_EQ(state.model.translation_x, 500);
    EXPECT_EQ(state.model.translation_y, 250);
    EXPECT_TRUE(state.display_fit_width);
    EXPECT_EQ(state.output_display.size(), cv::Size(800, 400));
    EXPECT_EQ(state.binary_display.size(), cv::Size(800, 400));  // shown: the binary view made
  }
}

// A second set-up (key q, a new region) resets only width, height and translation.
TEST(PrepareFit, SetUpAgainKeepsEverythingButThePlacement) {
  FitState state = prepare_fit(textured_photo(1000, 500), SessionStart());
  state.model.lambda_milli = 1500;
  state.model.rotation = 40;
  state.threshold = 30;
  state.show_input = 55;
  state.cut_off_top = 9;
  state.model.width = 1;
  state.model.height = 2;
  state.model.translation_x = 3;
  state.source_image = textured_photo(300, 600);
  set_up_fit(state);
  EXPECT_EQ(state.model.lambda_milli, 1500);
  EXPECT_EQ(state.model.rotation, 40);
  EXPECT_EQ(state.threshold, 30);
  EXPECT_EQ(state.show_input, 55);
  EXPECT_EQ(state.cut_off_top, 9);
  EXPECT_EQ(state.model.width, 1800);
  EXPECT_EQ(state.model.height, 450);
  EXPECT_EQ(state.model.translation_x, 150);
  EXPECT_EQ(state.model.translation_y, 300);
  EXPECT_FALSE(state.display_fit_width);
  EXPECT_EQ(state.target.image_size, cv::Size(300, 600));
}

// The caller's region, in pixels of the photograph: cut when it fits, dropped otherwise (width and
// height 0, x and y kept), nothing cut for an empty one.
TEST(PrepareFit, RegionFromTheCallerIsCutOrDropped) {
  const struct {
    int width, height;
    cv::Rect region;
    cv::Rect kept;  // the roi fields afterwards
    bool cut;
  } cases[] = {
      {1000, 800, {100, 50, 400, 300}, {100, 50, 400, 300}, true},
      {450, 800, {100, 50, 400, 300}, {100, 50, 0, 0}, false},        // 500 > 450: dropped
      {1000, 800, {-10, 50, 400, 300}, {-10, 50, 0, 0}, false},       // negative: dropped
      {1000, 800, {100, 50, 0, 300}, {100, 50, 0, 300}, false},       // empty: nothing to cut
      {1000, 800, {600, 500, 400, 300}, {600, 500, 400, 300}, true},  // to the very edge
      {1000, 800, {601, 500, 400, 300}, {601, 500, 0, 0}, false},     // one pixel over
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " " << c.region);
    const cv::Mat photo = textured_photo(c.width, c.height);
    SessionStart start;
    start.region = c.region;
    const FitState state = prepare_fit(photo, start);
    EXPECT_EQ(state.roi_in_source, c.kept);
    const cv::Rect shown = c.cut ? c.region : cv::Rect(0, 0, c.width, c.height);
    EXPECT_TRUE(same_pixels(state.source_image, photo(shown)));
    EXPECT_EQ(state.source_origin_in_photo, shown.tl());
    EXPECT_EQ(state.roi_origin_in_photo, cv::Point(0, 0));
    EXPECT_EQ(state.model.width, 6 * shown.width);
  }
}

// A region cut inside a cut: the source is the photograph's pixels at both corners added, and the
// region's frame is the first cut's.
TEST(PrepareFit, NestedCropKeepsBothFrames) {
  const cv::Mat photo = textured_photo(1000, 800);
  SessionStart start;
  start.region = cv::Rect(100, 50, 400, 300);
  FitState state = prepare_fit(photo, start);
  state.roi_in_source = cv::Rect(10, 20, 100, 50);
  crop_source_to_roi(state);
  EXPECT_TRUE(same_pixels(state.source_image, photo(cv::Rect(110, 70, 100, 50))));
  EXPECT_EQ(state.source_origin_in_photo, cv::Point(110, 70));
  EXPECT_EQ(state.roi_origin_in_photo, cv::Point(100, 50));
}
