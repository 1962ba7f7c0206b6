// Key a in a real session: typed into "Output", it fits the generated photograph and leaves the
// result on the trackbars.
#include <cmath>
#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>

#include "fit/auto_fit.h"
#include "tools/demo_photo.h"
#include "window_test_support.h"

using namespace meravel;

using namespace window_test;

namespace {

class AutomaticFitKey : public WindowTest {
 protected:
  // A JPEG (quality 90) of `object`, light on a dark ground, in the test's directory.
  std::string photograph_of(const DemoObject& object, cv::Size size, const std::string& name) {
    DemoLook look;
    look.background_level = 60;
    look.object_level = 200;
    const std::string path = dir_.file(name);
    EXPECT_TRUE(write_demo_jpeg(path, render_demo_photo(size, object, look), 90, {}));
    return path;
  }

  TempDirectory dir_;
};

int count_of(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

struct Fields {
  int values[6] = {};
  int trackbars[6] = {};
  double energy = 0;
};

Fields read_fields(const FitState& s) {
  const char* labels[] = {kLambdaTrackbar,   kWidthTrackbar,        kHeightTrackbar,
                          kRotationTrackbar, kTranslationXTrackbar, kTranslationYTrackbar};
  const int values[] = {s.model.lambda_milli, s.model.width,         s.model.height,
                        s.model.rotation,     s.model.translation_x, s.model.translation_y};
  Fields f;
  for (int k = 0; k < 6; ++k) {
    f.values[k] = values[k];
    f.trackbars[k] = cv::getTrackbarPos(labels[k], kTrackbarsWindow);
  }
  f.energy = s.energy;
  return f;
}

}  // namespace

// A light object (lambda 1.7, tilted by 340 degrees, so its top lies within 90 degrees of the
// session's starting rotation 325) on a dark background, saved as JPEG of quality 90.
TEST_F(AutomaticFitKey, FitsTheGeneratedPhotographThroughTheTrackbars) {
  const double lambda = 1.7, height = 160, rotation = 340, x = 170, y = 115;
  const DemoObject object{
      lambda, std::round(width_for_pixel_width(lambda, height, 120)), height, rotation, x, y};
  const std::string path = photograph_of(object, {320, 240}, "object.jpg");

  SessionValues values;
  Fields after;
  double truth_energy = 0;
  testing::internal::CaptureStdout();
  ScriptedUser user(measuring_, {key('a'),
                                 [&] {
                                   after = read_fields(measuring_.state);
                                   const ParameterVector truth = {
                                       lambda * 1000, object.width, height, rotation, x, y};
                                   truth_energy = evaluate_parameters(measuring_.state, truth);
                                 },
                                 key('\r')});
  values.run(measuring_, path);
  const std::string output = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(user.finished());

  EXPECT_EQ(count_of(output, "Optimising...\n"), 1);
  EXPECT_EQ(count_of(output, "...optimisation done!\n"), 1);
  EXPECT_LT(output.find("Optimising...\n"), output.find("...optimisation done!\n"));
  for (int k = 0; k < 6; ++k) EXPECT_EQ(after.trackbars[k], after.values[k]) << k;
  EXPECT_NEAR(after.values[0], 1700, 17);
  EXPECT_NEAR(after.values[2], height, 4);
  EXPECT_LE(std::fabs(after.values[3] - rotation), 2);
  EXPECT_NEAR(after.values[4], x, 2);
  EXPECT_NEAR(after.values[5], y, 2);
  EXPECT_LE(after.energy, truth_energy + 0.05);
  // ENTER hands back what key a left.
  EXPECT_EQ(values.lambda, after.values[0] / 1000.0);
  EXPECT_EQ(values.energy, after.energy);
}

// An object lying across a photograph less high than it is long (300 px in 240, its top to the
// left, within 90 degrees of the session's rotation 325): the Height trackbar reaches the
// photograph's diagonal, key a sets it past the photograph's height, and the fit's energy comes
// within 0.1 px of the energy at the object's own values.
TEST_F(AutomaticFitKey, FitsALyingObjectLongerThanThePhotographIsHigh) {
  const double lambda = 1.25, height = 300, rotation = 265, x = 200, y = 120;
  const DemoObject object{
      lambda, std::round(width_for_pixel_width(lambda, height, 170)), height, rotation, x, y};
  const std::string path = photograph_of(object, {400, 240}, "lying.jpg");

  SessionValues values;
  Fields after;
  double truth_energy = 0;
  int height_maximum = -1;
  ScriptedUser user(
      measuring_,
      {[&] { height_maximum = slider(kHeightTrackbar) ? slider(kHeightTrackbar)->maximum() : -1; },
       key('a'),
       [&] {
         after = read_fields(measuring_.state);
         const ParameterVector truth = {lambda * 1000, object.width, height, rotation, x, y};
         truth_energy = evaluate_parameters(measuring_.state, truth);
       },
       key('\r')});
  testing::internal::CaptureStdout();
  values.run(measuring_, path);
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(user.finished());

  EXPECT_EQ(height_maximum, 467);  // sqrt(400^2 + 240^2) = 466.5
  EXPECT_GT(after.values[2], 240);
  EXPECT_NEAR(after.values[2], height, 3);
  EXPECT_EQ(after.trackbars[2], after.values[2]);
  EXPECT_NEAR(after.values[0], 1250, 13);
  EXPECT_LE(after.energy, truth_energy + 0.1);
  EXPECT_EQ(values.energy, after.energy);
}

// Without an outline (a black photograph) key a still brackets its run with both lines and
// leaves every parameter where it was.
TEST_F(AutomaticFitKey, WithoutOutlineChangesNothing) {
  const std::string path = dir_.file("black.png");
  cv::imwrite(path, cv::Mat(120, 160, CV_8UC3, cv::Scalar::all(0)));
  SessionValues values;
  Fields before, after;
  testing::internal::CaptureStdout();
  ScriptedUser user(measuring_, {[&] { before = read_fields(measuring_.state); }, key('a'),
                                 [&] { after = read_fields(measuring_.state); }, key('\r')});
  values.run(measuring_, path);
  const std::string output = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(user.finished());
  EXPECT_EQ(count_of(output, "Optimising...\n"), 1);
  EXPECT_EQ(count_of(output, "...optimisation done!\n"), 1);
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(after.values[k], before.values[k]) << k;
    EXPECT_EQ(after.trackbars[k], before.trackbars[k]) << k;
  }
}
