// The fitting windows over a photograph set straight into the fit state: layout, trackbars,
// resets and the optimiser's window side.
#include <QLayout>
#include <QSlider>
#include <cmath>
#include <opencv2/highgui.hpp>
#include <sstream>

#include "window_test_support.h"

using namespace meravel;

using namespace window_test;

namespace {

const char* const kLabels[] = {
    kLambdaTrackbar,       kWidthTrackbar,        kHeightTrackbar,    kRotationTrackbar,
    kTranslationXTrackbar, kTranslationYTrackbar, kCutOffTopTrackbar, kCutOffBottomTrackbar,
    kShowInputTrackbar,    kThresholdTrackbar,
};

// Status lines of the Output view refresh in `output`.
int count_refreshes(const std::string& output) {
  std::istringstream lines(output);
  int count = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("energy=", 0) == 0 && line.find(", lambda=") != std::string::npos) ++count;
  }
  return count;
}

class FitWindows : public WindowTest {
 protected:
  // A 1000 x 500 photograph with a light ellipse centred at (500, 250), half axes 100 and 60.
  void set_up_windows(int width = 1000, int height = 500) {
    FitState& state = measuring_.state;
    state.source_image =
        make_photo(width, height, cv::Point(width / 2, height / 2), cv::Size(width / 10, 60));
    state.model.lambda_milli = 1100;
    state.threshold = 131;
    state.model.rotation = 0;
    state.show_input = 90;
    state.deviation_width = 600;
    state.deviation_height = 100;
    state.deviation_image = cv::Mat::zeros(100, 600, CV_8UC3);
    setup_fit_windows(measuring_);
  }
};

}  // namespace

TEST_F(FitWindows, SetupPlacesWindowsTrackbarsAndStartValues) {
  testing::internal::CaptureStdout();
  set_up_windows();
  EXPECT_EQ(count_refreshes(testing::internal::GetCapturedStdout()), 1);

  const FitState& state = measuring_.state;
  EXPECT_EQ(state.model.width, 6000);
  EXPECT_EQ(state.model.height, 375);
  EXPECT_EQ(state.model.translation_x, 500);
  EXPECT_EQ(state.model.translation_y, 250);

  // Height reaches the diagonal, sqrt(1000^2 + 500^2) = 1118.03 rounded up.
  struct Expected {
    int maximum, position;
  } const expected[] = {{6000, 1100}, {20000, 6000}, {1119, 375}, {360, 0},  {1000, 500},
                        {500, 250},   {49, 0},       {49, 0},     {100, 90}, {250, 131}};
  const QList<QSlider*> sliders = window(kTrackbarsWindow)->findChildren<QSlider*>();
  ASSERT_EQ(sliders.size(), 10);
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(kLabels[i]);
    ASSERT_NE(slider(kLabels[i]), nullptr);
    EXPECT_EQ(sliders[i], slider(kLabels[i]));  // created in table order
    EXPECT_EQ(slider(kLabels[i])->maximum(), expected[i].maximum);
    EXPECT_EQ(slider(kLabels[i])->minimum(), 0);
    EXPECT_EQ(cv::getTrackbarPos(kLabels[i], kTrackbarsWindow), expected[i].position);
  }

  EXPECT_EQ(window(kOutputWindow)->pos(), QPoint(0, 0));
  EXPECT_EQ(window(kTrackbarsWindow)->pos(), QPoint(808, 0));
  EXPECT_EQ(window(kTrackbarsWindow)->size(), QSize(400, 600));
  EXPECT_EQ(window(kDeviationWindow)->pos(), QPoint(0, 625));
  EXPECT_EQ(state.output_display.size(), cv::Size(800, 400));
}

TEST_F(FitWindows, SecondSetupShowsTheNewMaximaAndKeepsTheFields) {
  set_up_windows();
  set_trackbar(measuring_, kRotationTrackbar, 200);
  set_trackbar(measuring_, kCutOffTopTrackbar, 12);
  set_trackbar(measuring_, kTranslationXTrackbar, 900);  // beyond the next image's width
  set_trackbar(measuring_, kWidthTrackbar, 19000);

  FitState& state = measuring_.state;
  state.source_image = make_photo(300, 200, cv::Point(150, 100), cv::Size(50, 40));
  testing::internal::CaptureStdout();
  setup_fit_windows(measuring_);
  EXPECT_EQ(count_refreshes(testing::internal::GetCapturedStdout()), 1);

  // Height's maximum is the new diagonal, sqrt(300^2 + 200^2) = 360.56 rounded up.
  struct Expected {
    int maximum, field;
  } const expected[] = {{6000, 1100}, {6000, 1800}, {361, 150}, {360, 200}, {300, 150},
                        {200, 100},   {49, 12},     {49, 0},    {100, 90},  {250, 131}};
  const int fields[] = {state.model.lambda_milli,  state.model.width,
                        state.model.height,        state.model.rotation,
                        state.model.translation_x, state.model.translation_y,
                        state.cut_off_top,         state.cut_off_bottom,
                        state.show_input,          state.threshold};
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(kLabels[i]);
    EXPECT_EQ(slider(kLabels[i])->maximum(), expected[i].maximum);
    EXPECT_EQ(fields[i], expected[i].field);
    EXPECT_EQ(cv::getTrackbarPos(kLabels[i], kTrackbarsWindow), expected[i].field);
  }
  EXPECT_EQ(window(kTrackbarsWindow)->findChildren<QSlider*>().size(), 10);
}

TEST_F(FitWindows, PositionsFromCodeAreClampedAndRefreshOnlyWhenTheyChange) {
  set_up_windows();
  FitState& state = measuring_.state;
  struct Case {
    const char* label;
    int value;
    int& (*field)(FitState& state);
    int ends_at;
    int refreshes;
  } const cases[] = {
      {kWidthTrackbar, 999999, [](FitState& s) -> int& { return s.model.width; }, 20000, 1},
      {kWidthTrackbar, 20000, [](FitState& s) -> int& { return s.model.width; }, 20000,
       0},  // unchanged position
      {kWidthTrackbar, 25000, [](FitState& s) -> int& { return s.model.width; }, 20000,
       0},  // clamped to the unchanged position
      {kHeightTrackbar, -5, [](FitState& s) -> int& { return s.model.height; }, 0, 1},
      {kShowInputTrackbar, 40, [](FitState& s) -> int& { return s.show_input; }, 40, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.label << " " << c.value);
    testing::internal::CaptureStdout();
    set_trackbar(measuring_, c.label, c.value);
    EXPECT_EQ(count_refreshes(testing::internal::GetCapturedStdout()), c.refreshes);
    EXPECT_EQ(c.field(state), c.ends_at);
    EXPECT_EQ(cv::getTrackbarPos(c.label, kTrackbarsWindow), c.ends_at);
  }
}

TEST_F(FitWindows, ResetsPlaceTheModelOnTheOutlineBox) {
  set_up_windows();
  FitState& state = measuring_.state;
  // The ellipse spans x 400..600 and y 190..310.
  EXPECT_NEAR(state.outline_center_x, 500, 1);
  EXPECT_NEAR(state.outline_center_y, 250, 1);
  EXPECT_NEAR(state.outline_width, 200, 2);
  EXPECT_NEAR(state.outline_height, 120, 2);

  set_trackbar(measuring_, kTranslationXTrackbar, 100);
  set_trackbar(measuring_, kTranslationYTrackbar, 50);
  reset_translation(measuring_);
  EXPECT_EQ(state.model.translation_x, state.outline_center_x);
  EXPECT_EQ(state.model.translation_y, state.outline_center_y);
  EXPECT_EQ(cv::getTrackbarPos(kTranslationXTrackbar, kTrackbarsWindow), state.outline_center_x);
  EXPECT_EQ(cv::getTrackbarPos(kTranslationYTrackbar, kTrackbarsWindow), state.outline_center_y);

  reset_height(measuring_);
  EXPECT_EQ(state.model.height, state.outline_height);
  EXPECT_EQ(cv::getTrackbarPos(kHeightTrackbar, kTrackbarsWindow), state.outline_height);

  reset_lambda(measuring_);
  EXPECT_EQ(state.model.lambda_milli, 1000);
  testing::internal::CaptureStdout();
  reset_lambda(measuring_);  // already 1000: nothing moves, nothing is redrawn
  EXPECT_EQ(count_refreshes(testing::internal::GetCapturedStdout()), 0);

  fit_width_to_outline(measuring_);
  EXPECT_EQ(cv::getTrackbarPos(kWidthTrackbar, kTrackbarsWindow), state.model.width);
  // The refresh that the Width trackbar ran measured the new model.
  EXPECT_NEAR(state.pixel_width, state.outline_width, 4);
}

TEST_F(FitWindows, ResetAllFitsTheModelFromAnyStart) {
  set_up_windows();
  FitState& state = measuring_.state;
  set_trackbar(measuring_, kLambdaTrackbar, 2500);
  set_trackbar(measuring_, kHeightTrackbar, 30);
  reset_all(measuring_);
  EXPECT_EQ(state.model.translation_x, state.outline_center_x);
  EXPECT_EQ(state.model.translation_y, state.outline_center_y);
  EXPECT_EQ(state.model.height, state.outline_height);
  EXPECT_EQ(state.model.lambda_milli, 1000);
  EXPECT_NEAR(state.pixel_width, state.outline_width, 4);
}

TEST_F(FitWindows, WidthResetLeavesTheWidthAloneWhileLambdaIsZero) {
  set_up_windows();
  set_trackbar(measuring_, kLambdaTrackbar, 0);
  set_trackbar(measuring_, kWidthTrackbar, 4321);
  fit_width_to_outline(measuring_);
  EXPECT_EQ(measuring_.state.model.width, 4321);
  EXPECT_EQ(cv::getTrackbarPos(kWidthTrackbar, kTrackbarsWindow), 4321);
}

TEST_F(FitWindows, ThresholdFindsTheOutlineAgainAndShowsTheBinaryView) {
  set_up_windows();
  FitState& state = measuring_.state;
  state.show_binary = true;
  set_trackbar(measuring_, kThresholdTrackbar, 250);  // above every grey level: no outline at all
  EXPECT_TRUE(state.target.outline_contour.empty());
  EXPECT_TRUE(std::isinf(state.energy));
  ASSERT_NE(window(kBinaryWindow), nullptr);
  EXPECT_EQ(window(kBinaryWindow)->pos(), QPoint(30, 30));

  set_trackbar(measuring_, kThresholdTrackbar, 131);
  EXPECT_FALSE(state.target.outline_contour.empty());
  EXPECT_TRUE(std::isfinite(state.energy));
}

TEST_F(FitWindows, OptimiserWithEveryParameterFixedRefreshesOnce) {
  set_up_windows();
  FitState& state = measuring_.state;
  const int before[] = {state.model.lambda_milli,  state.model.width,
                        state.model.height,        state.model.rotation,
                        state.model.translation_x, state.model.translation_y};
  testing::internal::CaptureStdout();
  optimise(measuring_, before[0], before[0], before[1], before[1], before[2], before[2], before[3],
           before[3], before[4], before[4], before[5], before[5], 1);
  const std::string output = testing::internal::GetCapturedStdout();
  EXPECT_EQ(count_refreshes(output), 1);
  EXPECT_EQ(output.rfind("Optimising...\n", 0), 0u);
  EXPECT_NE(output.find("\n...optimisation done!\n"), std::string::npos);
  const int after[] = {state.model.lambda_milli,  state.model.width,
                       state.model.height,        state.model.rotation,
                       state.model.translation_x, state.model.translation_y};
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(after[k], before[k]) << k;
    EXPECT_EQ(cv::getTrackbarPos(kLabels[k], kTrackbarsWindow), before[k]) << k;
  }
}

TEST_F(FitWindows, OptimiserResultBeyondATrackbarEndsAtItsMaximum) {
  set_up_windows();
  FitState& state = measuring_.state;
  state.model.width = 25000;  // a +-20 % range near 20 W can reach past the trackbar
  optimise(measuring_, 1100, 1100, 25000, 25000, 375, 375, 0, 0, 500, 500, 250, 250, 1);
  EXPECT_EQ(state.model.width, 20000);
  EXPECT_EQ(cv::getTrackbarPos(kWidthTrackbar, kTrackbarsWindow), 20000);
}

TEST_F(FitWindows, OptimiserImprovesTheFitWithinItsRanges) {
  set_up_windows(200, 150);
  FitState& state = measuring_.state;
  const double start_energy = state.energy;
  const int lambda = state.model.lambda_milli, height = state.model.height,
            rotation = state.model.rotation;
  optimise(measuring_, lambda, lambda, 400, 4000, height, height, rotation, rotation, 40, 160, 30,
           120, 1);
  EXPECT_GE(state.model.width, 400);
  EXPECT_LE(state.model.width, 4000);
  EXPECT_EQ(state.model.lambda_milli, lambda);
  EXPECT_EQ(state.model.height, height);
  EXPECT_EQ(state.model.rotation, rotation);
  EXPECT_LT(state.energy, start_energy);
  for (int k = 0; k < 6; ++k) {
    const int fields[] = {state.model.lambda_milli,  state.model.width,
                          state.model.height,        state.model.rotation,
                          state.model.translation_x, state.model.translation_y};
    EXPECT_EQ(cv::getTrackbarPos(kLabels[k], kTrackbarsWindow), fields[k]) << k;
  }
}
