#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <limits>
#include <opencv2/imgproc.hpp>

#include "fit/fit_W.h"
#include "reference/literal_energy.h"

using namespace meravel;

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const cv::Vec3b kBlack(0, 0, 0), kRed(0, 0, 255), kYellow(0, 255, 255);

bool all_pixels_are(const cv::Mat& image, cv::Scalar value) {
  return cv::norm(image, cv::Mat(image.size(), image.type(), value), cv::NORM_INF) == 0;
}

// A state whose distance map is written by hand: the energy reads the target's map as it is.
FitState state_with_map(const cv::Mat& distance) {
  FitState state;
  state.source_image = cv::Mat::zeros(distance.size(), CV_8UC3);
  state.target.outline_contour = {{1, 1}};
  state.target.distance_image = distance.clone();
  state.target.image_size = distance.size();
  state.deviation_width = 600;
  state.deviation_height = 100;
  return state;
}

// A 40 x 40 photograph with a white rectangle over columns 10..29 and rows 5..34, its outline and
// the outline's distance map.
FitState state_with_rectangle() {
  FitState state;
  state.source_image = cv::Mat::zeros(40, 40, CV_8UC3);
  cv::rectangle(state.source_image, cv::Rect(10, 5, 20, 30), cv::Scalar::all(255), cv::FILLED);
  state.threshold = 128;
  rebuild_outline(state);
  state.deviation_width = 600;
  state.deviation_height = 100;
  return state;
}

std::vector<cv::Point> vertical(int x, int y_first, int y_last) {
  return {{x, y_first}, {x, y_last}};
}

}  // namespace

TEST(DeviationEnergy, HandCheckedSamples) {
  // Pixel (x, y) of the map holds map[y][x]. A two-point vertical half (5,3)-(5,5) traces into
  // the chain (5,3) (5,4) (5,5) (5,4); the walk starts after its first point and ends on its
  // last, so it reads (5,4) and (5,5). The half (8,3)-(8,4) reads (8,4) only.
  const struct {
    const char* name;
    float d54, d55, d84;
    double energy;
  } cases[] = {
      {"all samples 3", 3, 3, 3, 3.0},
      {"0, 4 and 3: sqrt(25/3) = 2.8867513", 0, 4, 3, 2.886751},
      {"all samples 0", 0, 0, 0, 0.0},
      {"1, 2 and 2: sqrt(9/3) = 1.7320508", 1, 2, 2, 1.732051},
      // Six decimals: 1.00000036 rounds down to 1, 1.0000006 up to 1.000001.
      {"just below half a millionth", 1.0000004f, 1.0000004f, 1.0000004f, 1.0},
      {"just above half a millionth", 1.0000006f, 1.0000006f, 1.0000006f, 1.000001},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    cv::Mat map(12, 12, CV_32FC1, cv::Scalar(50));
    map.at<float>(4, 5) = c.d54;
    map.at<float>(5, 5) = c.d55;
    map.at<float>(4, 8) = c.d84;
    FitState state = state_with_map(map);
    bool drawn = false;
    const double energy =
        deviation_energy(state, vertical(5, 3, 5), vertical(8, 3, 4), true, &drawn);
    EXPECT_EQ(energy, c.energy);
    EXPECT_TRUE(drawn);
    EXPECT_EQ(state.profile.left_samples, (std::vector<double>{c.d54, c.d55}));
    EXPECT_EQ(state.profile.right_samples, (std::vector<double>{c.d84}));
    EXPECT_EQ(state.profile.deviation_max, std::max({c.d54, c.d55, c.d84}));
    EXPECT_EQ(state.work.left_curve_storage,
              (std::vector<cv::Point>{{5, 3}, {5, 4}, {5, 5}, {5, 4}}));
    EXPECT_EQ(state.work.right_curve_storage, (std::vector<cv::Point>{{8, 3}, {8, 4}}));
  }
}

TEST(DeviationEnergy, StartOnTheChainsLastPositionWalksFromTheFirst) {
  // The half (7,6)-(6,5)-(5,6) traces into (6,5) (5,6) (6,5) (7,6): its first point is the
  // chain's last, so the walk begins at position 0 and ends on (5,6).
  cv::Mat map(12, 12, CV_32FC1, cv::Scalar(50));
  map.at<float>(5, 6) = 1;
  map.at<float>(6, 5) = 2;
  map.at<float>(4, 8) = 2;
  FitState state = state_with_map(map);
  const std::vector<cv::Point> left{{7, 6}, {6, 5}, {5, 6}};
  const double energy = deviation_energy(state, left, vertical(8, 3, 4), false);
  ASSERT_EQ(state.work.left_curve_storage.back(), left.front());
  EXPECT_EQ(state.profile.left_samples, (std::vector<double>{1, 2}));
  EXPECT_EQ(energy, std::round(std::sqrt(9.0 / 3) * 1e6) / 1e6);
}

TEST(DeviationEnergy, AgainstARealOutline) {
  const struct {
    const char* name;
    std::vector<cv::Point> left, right;
    double energy;
    bool views_drawn;
    size_t left_samples;  // walk samples kept for the left half
  } cases[] = {
      // Three columns outside the rectangle's left (x 10) and right (x 29) edges.
      {"every sample 3 pixels", vertical(7, 12, 27), vertical(32, 12, 27), 3.0, true, 15},
      {"on the outline", vertical(10, 12, 27), vertical(29, 12, 27), 0.0, true, 15},
      // The last point lies outside the image: the walk cannot meet it.
      {"end outside the image", vertical(7, 12, -5), vertical(32, 12, 27), kInf, true, 0},
      // The first point lies outside: +inf, but the walk from position 0 meets the last point
      // after the 12 pixels (7,1)..(7,12); row 0 is background.
      {"start outside the image", vertical(7, -5, 12), vertical(32, 12, 27), kInf, true, 12},
      {"half wholly outside the image", vertical(-50, 12, 27), vertical(32, 12, 27), kInf, false,
       0},
      {"right half wholly outside", vertical(7, 12, 27), vertical(32, 45, 60), kInf, false, 0},
      {"missing half", {}, vertical(32, 12, 27), kInf, false, 0},
      {"a single point draws nothing", {{7, 12}}, vertical(32, 12, 27), kInf, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FitState state = state_with_rectangle();
    state.show_distance = true;
    state.deviation_image = cv::Mat(100, 600, CV_8UC3, cv::Scalar(7, 7, 7));
    state.distance_display = cv::Mat(30, 40, CV_32FC1, cv::Scalar(-1));
    bool drawn = !c.views_drawn;
    const double energy = deviation_energy(state, c.left, c.right, true, &drawn);
    EXPECT_EQ(energy, c.energy);
    EXPECT_EQ(drawn, c.views_drawn);
    if (c.views_drawn) {
      EXPECT_EQ(state.profile.left_samples.size(), c.left_samples);
      EXPECT_EQ(cv::countNonZero(state.distance_display < 0), 0);
    } else {
      // An early +inf leaves both views as they were.
      EXPECT_TRUE(all_pixels_are(state.deviation_image, cv::Scalar(7, 7, 7)));
      EXPECT_EQ(cv::countNonZero(state.distance_display != -1), 0);
    }
  }
}

TEST(DeviationEnergy, MissingOutlineIsUnscorable) {
  FitState state = state_with_rectangle();
  state.target.outline_contour.clear();
  EXPECT_EQ(deviation_energy(state, vertical(7, 12, 27), vertical(32, 12, 27), true), kInf);
}

TEST(DeviationEnergy, MapFollowsTheOutlineAndStaysExactWhileShown) {
  FitState state = state_with_rectangle();
  const cv::Mat before = state.target.distance_image.clone();
  state.show_distance = true;
  state.distance_display = cv::Mat(30, 40, CV_32FC1);
  deviation_energy(state, vertical(7, 12, 27), vertical(32, 12, 27), true);
  // The view is a scaled copy; the map itself is untouched.
  EXPECT_EQ(cv::norm(state.target.distance_image, before, cv::NORM_INF), 0);
  cv::Mat scaled, expected;
  before.convertTo(scaled, CV_32F, 0.01);
  cv::resize(scaled, expected, cv::Size(40, 30), 0, 0, cv::INTER_LINEAR);
  EXPECT_EQ(cv::norm(state.distance_display, expected, cv::NORM_INF), 0);

  // A new outline gets its own map.
  state.source_image.setTo(0);
  cv::rectangle(state.source_image, cv::Rect(16, 5, 14, 30), cv::Scalar::all(255), cv::FILLED);
  rebuild_outline(state);
  EXPECT_EQ(deviation_energy(state, vertical(13, 12, 27), vertical(32, 12, 27), true), 3.0);
  EXPECT_EQ(cv::norm(state.target.distance_image,
                     literal_distance_map(state.target.outline_contour, state.source_image.size()),
                     cv::NORM_INF),
            0);
}

TEST(DeviationEnergy, ReplacedWorkImagesDoNotChangeTheEnergyOrTheView) {
  FitState state = state_with_rectangle();
  state.show_distance = true;
  state.distance_display = cv::Mat(30, 40, CV_32FC1);
  ASSERT_EQ(deviation_energy(state, vertical(7, 12, 27), vertical(32, 12, 27), true), 3.0);
  const cv::Mat shown = state.distance_display.clone();
  // A new set-up of the windows creates its work and view images afresh, all zero.
  state.mask_image = cv::Mat::zeros(40, 40, CV_8UC1);
  state.distance_display = cv::Mat::zeros(30, 40, CV_32FC1);
  EXPECT_EQ(deviation_energy(state, vertical(7, 12, 27), vertical(32, 12, 27), true), 3.0);
  EXPECT_EQ(cv::norm(state.distance_display, shown, cv::NORM_INF), 0);
}

TEST(DeviationEnergy, HalvesMayBeTheCurveStoragesThemselves) {
  FitState state = state_with_rectangle();
  const double expected = deviation_energy(state, vertical(7, 12, 27), vertical(33, 10, 30), false);
  state.work.left_curve_storage = vertical(7, 12, 27);
  state.work.right_curve_storage = vertical(33, 10, 30);
  EXPECT_EQ(
      deviation_energy(state, state.work.left_curve_storage, state.work.right_curve_storage, false),
      expected);
}

TEST(DeviationView, PlotOfTheProfile) {
  // Left samples 0 and 2, right sample 1: max 2, so ys = 80 / 2 = 40; xl = 270 / 2, xr = 270.
  cv::Mat map(12, 12, CV_32FC1, cv::Scalar(50));
  map.at<float>(4, 5) = 0;
  map.at<float>(5, 5) = 2;
  map.at<float>(4, 8) = 1;
  FitState state = state_with_map(map);
  state.deviation_image = cv::Mat(100, 600, CV_8UC3, cv::Scalar(7, 7, 7));
  deviation_energy(state, vertical(5, 3, 5), vertical(8, 3, 4), true);
  const cv::Mat& image = state.deviation_image;
  ASSERT_EQ(image.size(), cv::Size(600, 100));
  const struct {
    int x, y;
    cv::Vec3b colour;
  } pixels[] = {
      {30, 90, kRed},     {570, 90, kRed},   {29, 90, kBlack},  {571, 90, kBlack},  // baseline
      {300, 10, kRed},    {300, 89, kRed},   {300, 9, kBlack},  {301, 50, kBlack},  // axis
      {300, 90, kYellow},  // left sample 0 at the centre, on the baseline
      {165, 10, kYellow},  // left sample 2 (the max) at 300 − 135, at the top of the axis
      {300, 50, kYellow},  // right sample 1 at the centre, half way up
      {164, 10, kBlack},  {166, 10, kBlack}, {165, 11, kBlack},
  };
  for (const auto& p : pixels) {
    EXPECT_EQ(image.at<cv::Vec3b>(p.y, p.x), p.colour) << p.x << "," << p.y;
  }
  // The label, in red with its origin at (308, 20).
  cv::Mat label = cv::Mat::zeros(100, 600, CV_8UC3);
  cv::putText(label, "max: 2.00", cv::Point(308, 20), cv::FONT_HERSHEY_PLAIN, 1.0,
              cv::Scalar(0, 0, 255), 1, cv::LINE_8);
  cv::Mat label_mask;
  cv::inRange(label, cv::Scalar(0, 0, 255), cv::Scalar(0, 0, 255), label_mask);
  ASSERT_GT(cv::countNonZero(label_mask), 20);
  cv::Mat ours;
  image.copyTo(ours, label_mask);
  EXPECT_EQ(cv::norm(ours, label, cv::NORM_INF), 0);
  // Nothing else than the lines, the three dots and the label.
  cv::Mat expected = cv::Mat::zeros(100, 600, CV_8UC3);
  literal_deviation_view(expected, {0, 2}, {1}, 2);
  EXPECT_EQ(cv::norm(image, expected, cv::NORM_INF), 0);
}

TEST(DeviationView, ModelOnTheOutlineShowsNoDotsAndMaxZero) {
  FitState state = state_with_rectangle();
  ASSERT_EQ(deviation_energy(state, vertical(10, 12, 27), vertical(29, 12, 27), true), 0.0);
  cv::Mat yellow;
  cv::inRange(state.deviation_image, cv::Scalar(0, 255, 255), cv::Scalar(0, 255, 255), yellow);
  EXPECT_EQ(cv::countNonZero(yellow), 0);
  cv::Mat expected = cv::Mat::zeros(100, 600, CV_8UC3);
  cv::line(expected, {30, 90}, {570, 90}, cv::Scalar(0, 0, 255), 1, cv::LINE_8);
  cv::line(expected, {300, 10}, {300, 90}, cv::Scalar(0, 0, 255), 1, cv::LINE_8);
  cv::putText(expected, "max: 0.00", cv::Point(308, 20), cv::FONT_HERSHEY_PLAIN, 1.0,
              cv::Scalar(0, 0, 255), 1, cv::LINE_8);
  EXPECT_EQ(cv::norm(state.deviation_image, expected, cv::NORM_INF), 0);
}

TEST(EvaluateParameters, ModelAndEnergyWithoutViews) {
  FitState state = state_with_rectangle();
  state.deviation_image = cv::Mat(100, 600, CV_8UC3, cv::Scalar(7, 7, 7));
  const ParameterVector p = {1000, 20, 28, 0, 20, 20};
  const double energy = evaluate_parameters(state, p);
  std::vector<cv::Point> left, right;
  FitState copy = state_with_rectangle();
  const WCurveExtent extent =
      generate_w_curve(1, 20, 28, 0, 20, 20, copy.cut_offs(), left, right, std::cerr);
  ASSERT_TRUE(extent.produced);
  EXPECT_EQ(energy, deviation_energy(copy, left, right, false));
  EXPECT_TRUE(std::isfinite(energy));
  EXPECT_EQ(state.pixel_width, extent.pixel_width);
  EXPECT_TRUE(all_pixels_are(state.deviation_image, cv::Scalar(7, 7, 7)));

  // No model point in the band: unscorable, and the program carries on.
  state.cut_off_top = state.cut_off_bottom = 49;
  const ParameterVector flat = {1000, 20, 1, 0, 20, 20};
  testing::internal::CaptureStderr();
  EXPECT_EQ(evaluate_parameters(state, flat), kInf);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("did not produce"), std::string::npos);
}

TEST(WidthForOutline, InvertsTheWidthRelationAtThePeak) {
  FitState state;
  state.model.lambda_milli = 1000;
  state.peak_abscissa = 0;
  state.model.height = 301;  // halved in integer arithmetic: 150
  state.outline_width = 10;
  state.model.width = 5;
  // v = trunc(10 · (150 · e^0 + e^0)) = 1510, width = trunc(1510 / 2) = 755.
  EXPECT_EQ(width_for_outline(state.model, state.peak_abscissa, state.outline_width), 755);
  state.model.lambda_milli = 0;
  EXPECT_EQ(width_for_outline(state.model, state.peak_abscissa, state.outline_width), 5);

  // Generating with the returned width gives the outline's width back, up to the truncations.
  FitState model;
  model.model.lambda_milli = 1250;
  model.model.height = 300;
  model.outline_width = 190;
  std::vector<cv::Point> left, right;
  WCurveExtent extent =
      generate_w_curve(1.25, 1.25 * 2000, 300, 0, 500, 500, {}, left, right, std::cerr);
  ASSERT_TRUE(extent.produced);
  model.model.width = width_for_outline(model.model, extent.peak_abscissa, model.outline_width);
  extent = generate_w_curve(1.25, 1.25 * model.model.width, 300, 0, 500, 500, {}, left, right,
                            std::cerr);
  ASSERT_TRUE(extent.produced);
  EXPECT_NEAR(extent.pixel_width, 190, 2);
}
