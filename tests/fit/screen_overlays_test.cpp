// What the Output view shows for the screen: the model and the outline at least 2 view pixels
// wide on a view smaller than the photograph, and the top end marked for every rotation.
#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "fit/auto_fit.h"
#include "fit/fit_W.h"
#include "fit/top_end.h"

using namespace meravel;

namespace {

const cv::Scalar kRed(0, 0, 255);
const cv::Scalar kYellow(0, 255, 255);
const cv::Scalar kGreen(0, 255, 0);

cv::Mat mask_of(const cv::Mat& image, const cv::Scalar& colour) {
  cv::Mat mask;
  cv::inRange(image, colour, colour, mask);
  return mask;
}

// A photograph with a light ellipse on a dark ground.
cv::Mat photo(cv::Size size, cv::Point centre, cv::Size axes, double angle = 0) {
  cv::Mat image(size, CV_8UC3, cv::Scalar(15, 25, 20));
  cv::ellipse(image, centre, axes, angle, 0, 360, cv::Scalar::all(225), cv::FILLED);
  return image;
}

// A session's fit: prepare_fit, the automatic fit, one refresh.
FitState fitted(const cv::Mat& image) {
  FitState state = prepare_fit(image, SessionStart());
  std::ostringstream errors;
  const AutoFitResult fit = auto_fit(state, errors);
  EXPECT_TRUE(fit.found);
  state.model = fit.model;
  std::ostringstream status;
  compose_output_view(state, status);
  return state;
}

}  // namespace

TEST(ScreenOverlays, ModelAndOutlineAreAtLeastTwoViewPixelsWideOnA24MegapixelPhotograph) {
  // A small egg on a 6000 x 4000 photograph: the view is 800 x 533, scale 0.133.
  const FitState state = fitted(photo({6000, 4000}, {3000, 2000}, {300, 420}));
  ASSERT_EQ(state.output_display.size(), cv::Size(800, 533));
  const double scale = 800.0 / 6000.0;
  const double perimeter = cv::arcLength(state.target.outline_contour, true) * scale;  // about 130
  const cv::Mat red = mask_of(state.output_display, kRed);
  const cv::Mat yellow = mask_of(state.output_display, kYellow);
  EXPECT_GT(cv::countNonZero(red), 1.8 * perimeter);
  EXPECT_GT(cv::countNonZero(yellow), 1.5 * perimeter);
  // Across the model's widest row both sides are crossed by at least 2 red pixels in a run, the
  // outline by yellow on both sides of them.
  const int row = cvRound((2000 + 0.5) * 533.0 / 4000 - 0.5);
  int red_run = 0, longest_red_run = 0, yellow_in_row = 0;
  for (int x = 0; x < 400; ++x) {
    const bool is_red = red.at<uchar>(row, x) != 0;
    red_run = is_red ? red_run + 1 : 0;
    longest_red_run = std::max(longest_red_run, red_run);
    yellow_in_row += yellow.at<uchar>(row, x) != 0;
  }
  EXPECT_GE(longest_red_run, 2);
  EXPECT_GE(yellow_in_row, 2);
  // The energy is that of the photograph's own pixels, whatever is drawn on the view.
  FitState same = state;
  EXPECT_EQ(evaluate_parameters(same, parameter_vector(state.model)), state.energy);
}

TEST(ScreenOverlays, UpTo800PixelsWideOnlyTheMarksAreAdded) {
  FitState state = fitted(photo({640, 480}, {320, 240}, {80, 110}));
  const cv::Mat with_marks = state.output_display.clone();
  state.screen_overlays = false;
  std::ostringstream status;
  compose_output_view(state, status);
  cv::Mat differs;
  cv::compare(with_marks.reshape(1), state.output_display.reshape(1), differs, cv::CMP_NE);
  cv::Mat changed = differs.reshape(3);
  cv::Mat any_channel;
  cv::transform(changed, any_channel, cv::Matx13f(1, 1, 1));
  const cv::Mat green = mask_of(with_marks, kGreen);
  // Every pixel that differs is a mark's.
  cv::Mat differing_not_green;
  cv::compare(any_channel, 0, differing_not_green, cv::CMP_GT);
  cv::bitwise_and(differing_not_green, ~green, differing_not_green);
  EXPECT_EQ(cv::countNonZero(differing_not_green), 0);
  EXPECT_GT(cv::countNonZero(green), 20);
}

TEST(ScreenOverlays, TheTriangleMarksTheTopEndForFourRotations) {
  for (int rotation : {0, 90, 180, 270}) {
    SCOPED_TRACE(rotation);
    FitState state = prepare_fit(photo({400, 300}, {200, 150}, {70, 100}), SessionStart());
    state.model = {1200, 500, 200, rotation, 200, 150};
    std::ostringstream status;
    compose_output_view(state, status);
    // The green pixels beyond either end: the triangle's lie beyond the top end only.
    const double s = 800.0 / 400.0;
    const cv::Point2d top = model_top_end(state.model) * s;
    const cv::Point2d bottom = model_bottom_end(state.model) * s;
    const cv::Point2d u = (top - bottom) / std::hypot(top.x - bottom.x, top.y - bottom.y);
    int beyond_top = 0, beyond_bottom = 0;
    const cv::Mat green = mask_of(state.output_display, kGreen);
    for (int y = 0; y < green.rows; ++y) {
      for (int x = 0; x < green.cols; ++x) {
        if (!green.at<uchar>(y, x)) continue;
        const cv::Point2d p(x, y);
        if ((p - top).dot(u) > 3) ++beyond_top;
        if ((p - bottom).dot(-u) > 3) ++beyond_bottom;
      }
    }
    EXPECT_GT(beyond_top, 30);
    EXPECT_EQ(beyond_bottom, 0);
    // And that end is where the model's halves begin (each is ordered from the top).
    std::vector<cv::Point> left, right;
    generate_w_curve(parameter_vector(state.model), CutOffs{}, left, right, status);
    EXPECT_LT(cv::norm(cv::Point2d(left.front()) - model_top_end(state.model)), 2.0);
  }
}
