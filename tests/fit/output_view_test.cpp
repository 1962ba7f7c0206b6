#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <limits>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "fit/fit_W.h"
#include "reference/literal_energy.h"
#include "test_support.h"

using namespace meravel;

namespace {

// A 400 x 300 photograph: a textured background and a bright disc, its outline found.
FitState photograph_state() {
  FitState state;
  state.source_image.create(300, 400, CV_8UC3);
  for (int y = 0; y < 300; ++y) {
    for (int x = 0; x < 400; ++x) {
      state.source_image.at<cv::Vec3b>(y, x) = cv::Vec3b(x % 97, (x + y) % 61, y % 83);
    }
  }
  cv::circle(state.source_image, cv::Point(200, 150), 80, cv::Scalar(230, 240, 250), cv::FILLED);
  state.threshold = 200;
  rebuild_outline(state);
  state.deviation_width = 600;
  state.deviation_height = 100;
  bool fit_width = false;
  state.output_display.create(display_size(400, 300, &fit_width), CV_8UC3);
  state.model.lambda_milli = 1000;
  state.model.width = 160;
  state.model.height = 160;
  state.model.rotation = 0;
  state.model.translation_x = 200;
  state.model.translation_y = 150;
  state.show_input = 90;
  return state;
}

std::string energy_text(double energy) {
  std::ostringstream text;
  text << energy;
  return text.str();
}

int count_colour(const cv::Mat& image, cv::Scalar colour) {
  cv::Mat mask;
  cv::inRange(image, colour, colour, mask);
  return cv::countNonZero(mask);
}

}  // namespace

TEST(OutputView, StatusLineReportsTheModelsScaleAndPixelWidth) {
  FitState state = photograph_state();
  state.model.lambda_milli = 1250;
  state.model.width = 2449;
  state.model.height = 300;
  std::ostringstream status;
  compose_output_view(state, status);
  // lambda 1.25, w = 1.25 · 2449 = 3061.25, a model 190 pixels wide.
  EXPECT_EQ(status.str(), "energy=" + energy_text(state.energy) +
                              ", lambda=1.25, w=3061.25 (pixel-w=190), h=300\n");
  EXPECT_EQ(state.pixel_width, 190);
}

TEST(OutputView, StatusLineNumbersUseTheStreamsDefaultFormat) {
  const struct {
    const char* name;
    int lambda_milli, width, height;
    const char* tail;
  } cases[] = {
      {"lambda 0", 0, 2400, 160, ", lambda=0, w=0 (pixel-w=0), h=160\n"},
      {"six significant digits", 1234, 1000000, 160, ", lambda=1.234, w=1.234e+06 (pixel-w="},
      {"whole numbers without a point", 2000, 80, 160, ", lambda=2, w=160 (pixel-w="},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FitState state = photograph_state();
    state.model.lambda_milli = c.lambda_milli;
    state.model.width = c.width;
    state.model.height = c.height;
    std::ostringstream status;
    compose_output_view(state, status);
    const std::string line = status.str();
    EXPECT_EQ(line.rfind("energy=" + energy_text(state.energy) + c.tail, 0), 0u) << line;
    // The fields in their order, one line.
    size_t at = 0;
    for (const char* field : {"energy=", ", lambda=", ", w=", " (pixel-w=", "), h=", "\n"}) {
      at = line.find(field, at);
      ASSERT_NE(at, std::string::npos) << field << " in " << line;
    }
    EXPECT_EQ(at, line.size() - 1);
  }
}

TEST(OutputView, EachLineIsFlushed) {
  FitState state = photograph_state();
  FlushCountingBuffer buffer;
  std::ostream status(&buffer);
  compose_output_view(state, status);
  compose_output_view(state, status);
  EXPECT_EQ(buffer.flushes, 2);
}

TEST(OutputView, CompositionIsTheDimmedPhotographWithRedHalvesAndYellowOutline) {
  for (int show_input : {0, 37, 90, 100}) {
    SCOPED_TRACE(testing::Message() << "show input " << show_input);
    FitState state = photograph_state();
    state.show_input = show_input;
    std::ostringstream status;
    compose_output_view(state, status);

    std::vector<cv::Point> left, right;
    ASSERT_TRUE(generate_w_curve(1, 160, 160, 0, 200, 150, {}, left, right, std::cerr).produced);
    const cv::Mat expected = literal_overlay(state, left, right);
    EXPECT_EQ(cv::norm(state.overlay_image, expected, cv::NORM_INF), 0);
    cv::Mat display;
    cv::resize(expected, display, state.output_display.size(), 0, 0, cv::INTER_LINEAR);
    EXPECT_EQ(state.output_display.size(), cv::Size(800, 600));
    EXPECT_EQ(cv::norm(state.output_display, display, cv::NORM_INF), 0);
  }
}

TEST(OutputView, ShowInputZeroAndHundred) {
  for (int show_input : {0, 100}) {
    SCOPED_TRACE(testing::Message() << "show input " << show_input);
    FitState state = photograph_state();
    state.show_input = show_input;
    std::ostringstream status;
    compose_output_view(state, status);
    // Away from the drawings: black at 0, the untouched photograph at 100.
    cv::Mat drawn;
    cv::inRange(state.overlay_image, cv::Scalar(0, 0, 255), cv::Scalar(0, 0, 255), drawn);
    cv::Mat yellow;
    cv::inRange(state.overlay_image, cv::Scalar(0, 255, 255), cv::Scalar(0, 255, 255), yellow);
    drawn |= yellow;
    cv::Mat background = show_input == 0 ? cv::Mat::zeros(300, 400, CV_8UC3) : state.source_image;
    cv::Mat difference;
    cv::absdiff(state.overlay_image, background, difference);
    difference.setTo(0, drawn);
    EXPECT_EQ(cv::norm(difference, cv::NORM_INF), 0);
    EXPECT_GT(count_colour(state.overlay_image, cv::Scalar(0, 0, 255)), 100);
    EXPECT_GT(count_colour(state.overlay_image, cv::Scalar(0, 255, 255)), 100);
  }
}

TEST(OutputView, HalvesAreOpenAndLambdaZeroDrawsOneVerticalLine) {
  FitState state = photograph_state();
  state.show_input = 0;
  std::ostringstream status;
  compose_output_view(state, status);
  // The halves start on the axis at the top and end on it at the bottom; closing them would draw
  // the axis between, through the disc's centre.
  EXPECT_EQ(state.overlay_image.at<cv::Vec3b>(150, 200), cv::Vec3b(0, 0, 0));

  state.model.lambda_milli = 0;
  status.str("");
  compose_output_view(state, status);
  cv::Mat red;
  cv::inRange(state.overlay_image, cv::Scalar(0, 0, 255), cv::Scalar(0, 0, 255), red);
  std::vector<cv::Point> pixels;
  cv::findNonZero(red, pixels);
  ASSERT_FALSE(pixels.empty());
  for (const cv::Point& p : pixels) EXPECT_EQ(p.x, 200);
  EXPECT_NE(status.str().find(", w=0 (pixel-w=0), "), std::string::npos) << status.str();
}

TEST(OutputView, NoOutlineGivesInfAndNoYellow) {
  FitState state = photograph_state();
  state.threshold = 250;
  rebuild_outline(state);
  ASSERT_TRUE(state.target.outline_contour.empty());
  std::ostringstream status;
  EXPECT_FALSE(compose_output_view(state, status));
  EXPECT_EQ(state.energy, std::numeric_limits<double>::infinity());
  EXPECT_EQ(status.str().rfind("energy=inf, lambda=1, ", 0), 0u) << status.str();
  EXPECT_EQ(count_colour(state.overlay_image, cv::Scalar(0, 255, 255)), 0);
  EXPECT_GT(count_colour(state.overlay_image, cv::Scalar(0, 0, 255)), 100);
}

TEST(OutputView, ModelWithoutPointsIsUnscorableAndTheRefreshCarriesOn) {
  FitState state = photograph_state();
  state.model.height = 1;
  state.cut_off_top = 49;
  state.cut_off_bottom = 49;
  state.pixel_width = 42;
  state.show_input = 0;
  state.deviation_image = cv::Mat(100, 600, CV_8UC3, cv::Scalar(7, 7, 7));
  std::ostringstream status;
  testing::internal::CaptureStderr();
  const bool drawn = compose_output_view(state, status);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "\nYour parameters did not produce any w-curve points!\n");
  EXPECT_FALSE(drawn);
  EXPECT_EQ(state.energy, std::numeric_limits<double>::infinity());
  EXPECT_EQ(status.str(), "energy=inf, lambda=1, w=160 (pixel-w=42), h=1\n");
  EXPECT_EQ(count_colour(state.overlay_image, cv::Scalar(0, 0, 255)), 0);
  EXPECT_EQ(count_colour(state.deviation_image, cv::Scalar(7, 7, 7)), 600 * 100);
}

TEST(OutputView, EnergyAndDeviationViewAreThoseOfTheShownModel) {
  FitState state = photograph_state();
  std::ostringstream status;
  EXPECT_TRUE(compose_output_view(state, status));
  FitState check = photograph_state();
  std::vector<cv::Point> left, right;
  ASSERT_TRUE(generate_w_curve(1, 160, 160, 0, 200, 150, check.cut_offs(), left, right, std::cerr)
                  .produced);
  EXPECT_EQ(state.energy, deviation_energy(check, left, right, true));
  EXPECT_TRUE(std::isfinite(state.energy));
  EXPECT_EQ(cv::norm(state.deviation_image, check.deviation_image, cv::NORM_INF), 0);
}
