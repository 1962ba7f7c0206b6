// The checks of whether a fit can be an egg's measurement, each on a hand-made model and outline
// that raise it and on one that does not.
#include "fit/plausibility.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "fit/egg_dimensions.h"
#include "fit/geometry.h"

using namespace meravel;

namespace {

// The outline of a filled picture: its largest contour.
std::vector<cv::Point> outline_of(const cv::Mat& mask) {
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
  size_t largest = 0;
  for (size_t i = 1; i < contours.size(); ++i)
    if (contours[i].size() > contours[largest].size()) largest = i;
  return contours.empty() ? std::vector<cv::Point>() : contours[largest];
}

// An upright ellipse `length` high and `breadth` broad: the outline of the model with lambda 1.
std::vector<cv::Point> ellipse_outline(int length, int breadth) {
  cv::Mat mask(length + 40, breadth + 40, CV_8UC1, cv::Scalar(0));
  cv::ellipse(mask, {mask.cols / 2, mask.rows / 2}, {breadth / 2, length / 2}, 0, 0, 360,
              cv::Scalar(255), cv::FILLED);
  return outline_of(mask);
}

// The model of lambda `lambda` whose length is `length` and breadth `breadth` px.
ModelParameters model_of(double lambda, int length, double breadth) {
  ModelParameters model{static_cast<int>(std::lround(lambda * 1000)), 1, length, 180, 100, 100};
  model.width = static_cast<int>(std::lround(width_for_pixel_width(lambda, length, breadth)));
  return model;
}

}  // namespace

// For lambda 1 the model is an ellipse: its area is pi/4 length breadth.
TEST(Plausibility, ModelAreaOfAnEllipseAndOfAPixelOutline) {
  const ModelParameters ellipse = model_of(1.0, 200, 120);
  const EggDimensions egg =
      egg_dimensions_of_model(ellipse.lambda_milli, ellipse.width, ellipse.height).value();
  EXPECT_NEAR(model_area_px2(ellipse), 0.25 * CV_PI * egg.length * egg.breadth, 1e-6);
  // A 10 x 10 pixel square: the polygon through the border pixels' centres is 9 x 9.
  const std::vector<cv::Point> square{{0, 0}, {9, 0}, {9, 9}, {0, 9}};
  EXPECT_DOUBLE_EQ(outline_area_px2(square), 81 + 18 + 1);
  EXPECT_DOUBLE_EQ(solidity(square), 1.0);
}

TEST(Plausibility, EachCheckOnAModelAndOutlineThatRaiseIt) {
  cv::Mat two_discs(200, 300, CV_8UC1, cv::Scalar(0));
  cv::circle(two_discs, {100, 100}, 50, cv::Scalar(255), cv::FILLED);
  cv::circle(two_discs, {190, 100}, 50, cv::Scalar(255), cv::FILLED);
  struct Case {
    const char* what;
    ModelParameters model;
    std::vector<cv::Point> outline;
    Plausibility expected;
  } const cases[] = {
      {"an egg fitted right", model_of(1.0, 200, 120), ellipse_outline(200, 120), {}},
      {"a pointed egg, pointed end down", model_of(0.6, 200, 130), {}, {}},
      {"axis across the object", model_of(1.0, 120, 200), ellipse_outline(120, 200), {true}},
      {"a speck", model_of(1.0, 18, 12), {}, {false, true}},
      {"lambda too small for an egg", model_of(0.35, 200, 120), {}, {false, false, true}},
      {"lambda too large for an egg", model_of(2.7, 200, 120), {}, {false, false, true}},
      {"model half the object",
       model_of(1.0, 140, 84),
       ellipse_outline(200, 120),
       {false, false, false, true}},
      {"two objects touching",
       model_of(1.0, 190, 100),
       outline_of(two_discs),
       {false, false, false, false, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Plausibility found = check_plausibility(c.model, c.outline);
    EXPECT_EQ(found.length_below_breadth, c.expected.length_below_breadth);
    EXPECT_EQ(found.too_small, c.expected.too_small);
    EXPECT_EQ(found.lambda_not_egg_like, c.expected.lambda_not_egg_like);
    EXPECT_EQ(found.area_mismatch, c.expected.area_mismatch);
    EXPECT_EQ(found.not_convex, c.expected.not_convex);
  }
}

TEST(Plausibility, ContrastBetweenObjectAndGround) {
  for (const int object_grey : {200, 60, 20}) {
    SCOPED_TRACE(object_grey);
    cv::Mat photo(120, 160, CV_8UC3, cv::Scalar::all(50));
    cv::ellipse(photo, {80, 60}, {30, 45}, 0, 0, 360, cv::Scalar::all(object_grey), cv::FILLED);
    cv::Mat mask(photo.size(), CV_8UC1, cv::Scalar(0));
    cv::ellipse(mask, {80, 60}, {30, 45}, 0, 0, 360, cv::Scalar(255), cv::FILLED);
    EXPECT_NEAR(object_ground_contrast(photo, outline_of(mask)), object_grey - 50, 1e-9);
  }
  EXPECT_TRUE(std::isnan(object_ground_contrast(cv::Mat(), {})));
}

TEST(Plausibility, StartsDisagreeBeyondTheirErrorsAndOnePerCent) {
  const struct {
    double spread, error, value;
    bool disagree;
  } cases[] = {
      {3.0, 1.0, 100.0, true},   // 3 errors and 3 %
      {1.5, 1.0, 100.0, false},  // within 2 errors
      {0.5, 0.1, 100.0, false},  // 5 errors, but only 0.5 %
      {0.02, 0.005, 1.2, true},  // lambda: 4 errors, 1.7 %
      {3.0, std::nan(""), 100.0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.spread << " " << c.error << " " << c.value);
    EXPECT_EQ(disagrees(c.spread, c.error, c.value), c.disagree);
  }
}
