// An outline whose contrast steps, split at the step and its parts fitted alone: an egg with its
// shadow taken in gives two parts that are both smaller eggs than the whole; one egg that stands
// out unevenly (one side of its shell dimmer, the ground beside it lit) gives parts of the same
// egg.
#include "fit/contrast_parts.h"

#include <gtest/gtest.h>

#include <functional>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "auto_fit_support.h"
#include "fit/plausibility.h"

using namespace meravel;

using namespace auto_fit_test;

TEST(ContrastParts, TwoThingsTakenInAsOneDisagreeOneEggDoesNot) {
  const DemoObject o = object(1.2, 220, 160, 180, 400, 300);
  std::vector<cv::Point> egg, shadow;
  for (const cv::Point2d& p : demo_object_outline(o)) {
    egg.emplace_back(cvRound(p.x), cvRound(p.y));
    shadow.emplace_back(cvRound(p.x + 0.15 * 160), cvRound(p.y + 0.05 * 220));
  }
  const cv::Size size(800, 600);
  const auto filled = [&size](const std::vector<cv::Point>& outline) {
    cv::Mat mask(size, CV_8UC1, cv::Scalar(0));
    cv::fillPoly(mask, std::vector<std::vector<cv::Point>>{outline}, cv::Scalar(255));
    return mask;
  };
  const cv::Mat egg_mask = filled(egg), shadow_mask = filled(shadow);
  cv::Mat right_half(size, CV_8UC1, cv::Scalar(0));
  right_half(cv::Rect(400, 0, 400, 600)).setTo(255);
  struct Case {
    const char* name;
    std::function<void(cv::Mat&)> change;  // on the photograph, blurred afterwards
    bool disagree;
  } const cases[] = {
      // The egg (grey about 200 on a ground of 60) with a light cast shadow of 150 beside it.
      {"a shadow taken in",
       [&](cv::Mat& photo) { photo.setTo(cv::Scalar::all(150), shadow_mask & ~egg_mask); }, true},
      {"one side of the shell dimmer",
       [&](cv::Mat& photo) { photo.setTo(cv::Scalar::all(140), egg_mask & right_half); }, false},
      {"the ground beside one side lit",
       [&](cv::Mat& photo) { photo.setTo(cv::Scalar::all(115), ~egg_mask & right_half); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cv::Mat photo = render_demo_photo(size, o, light_object(true, 7));
    c.change(photo);
    cv::GaussianBlur(photo, photo, cv::Size(), 1.0);
    photo = jpeg_round_trip(photo, 85);
    FitState state;
    prepare(state, photo, 325, 131, {1, 5});
    std::ostringstream errors;
    const AutoFitResult r = auto_fit(state, errors);
    ASSERT_TRUE(r.found);
    const std::vector<cv::Point>& outline = state.target.outline_contour;
    const ContrastParts parts =
        contrast_parts(state.source_image, outline, r.model, kContrastStepFraction);
    // Each case steps well beyond what a step alone would flag, and splits into two long parts.
    EXPECT_GT(parts.step, kContrastStepFraction);
    EXPECT_EQ(parts.stronger.size() + parts.weaker.size(), outline.size());
    EXPECT_GT(parts.stronger.size(), outline.size() / 4);
    EXPECT_GT(parts.weaker.size(), outline.size() / 4);
    EXPECT_EQ(parts.disagree, c.disagree);
  }
}

// Below the least step nothing is fitted, and an outline too short for the stretches has no step.
TEST(ContrastParts, NoStepNoParts) {
  const DemoObject o = object(1.2, 220, 160, 180, 400, 300);
  const cv::Mat photo =
      jpeg_round_trip(render_demo_photo({800, 600}, o, light_object(true, 7)), 85);
  FitState state;
  prepare(state, photo, 325, 131, {1, 5});
  std::ostringstream errors;
  const AutoFitResult r = auto_fit(state, errors);
  ASSERT_TRUE(r.found);
  const ContrastParts even = contrast_parts(state.source_image, state.target.outline_contour,
                                            r.model, kContrastStepFraction);
  EXPECT_LT(even.step, kContrastStepFraction);
  EXPECT_TRUE(even.stronger.empty() && even.weaker.empty());
  EXPECT_FALSE(even.disagree);
  const std::vector<cv::Point> short_outline(state.target.outline_contour.begin(),
                                             state.target.outline_contour.begin() + 40);
  EXPECT_EQ(contrast_parts(state.source_image, short_outline, r.model, 0.0).step, 0.0);
}
