// The egg's length and breadth in the Output title: in millimetres, with their errors, once the
// photograph has a scale.
#include <cmath>
#include <limits>
#include <opencv2/highgui.hpp>
#include <regex>

#include "window_test_support.h"
#include "windows/output_title.h"

using namespace meravel;

using namespace window_test;

namespace {

TEST(MillimetresText, ConvertsTheLengthAndAddsTheScaleErrorInQuadrature) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double length_px, se_px, px_per_mm, px_per_mm_se;
    const char* text;
  } cases[] = {
      {523.1, 0.8, 10.0, 0.0, " (52.31 +/- 0.08 mm)"},
      // 0.3 mm from the fit and 0.4 mm from a 1 % scale error: 0.5 mm.
      {400.0, 3.0, 10.0, 0.1, " (40.00 +/- 0.50 mm)"},
      {400.0, nan, 10.0, 0.1, " (40.00 mm)"},  // a fit by hand has no error
      {400.0, 3.0, 0.0, 0.0, ""},              // no scale
      {nan, 3.0, 10.0, 0.0, ""},               // no egg
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(millimetres_text(c.length_px, c.se_px, c.px_per_mm, c.px_per_mm_se), c.text);
  }
}

class TitleLengths : public WindowTest {
 protected:
  TempDirectory dir_;
};

std::string output_title() {
  QWidget* output = window(kOutputWindow);
  return output ? output->windowTitle().toStdString() : std::string();
}

SessionScale scale_of(double px_per_mm) {
  SessionScale scale;
  if (px_per_mm <= 0) return scale;
  scale.method = "ruler";
  scale.px_per_mm = px_per_mm;
  scale.note = "30 ticks";
  return scale;
}

// Key a, then key c: the title gains each length in millimetres from the scale key c read, or else
// from the scale in force for the photograph; without either it has none.
TEST_F(TitleLengths, FittedLengthsInMillimetresOfTheScaleKeyCReadOrTheOneInForce) {
  const std::string path = write_photo(dir_, "egg.png", 480, 360);
  const struct {
    const char* what;
    double read_px_per_mm;      // what key c reads; 0: nothing
    double in_force_px_per_mm;  // 0: no scale in force; -1: the session is not told of one
    double shown_px_per_mm;     // 0: no millimetres
  } cases[] = {
      {"no scale", 0, -1, 0},
      {"none in force, none read", 0, 0, 0},
      {"key c reads one", 8, -1, 8},
      {"the one in force", 0, 5, 5},
      {"key c's over the one in force", 8, 5, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SessionStart start;
    start.read_scale = [&](const cv::Mat&) { return scale_of(c.read_px_per_mm); };
    if (c.in_force_px_per_mm >= 0) {
      start.scale_in_force = [&] { return scale_of(c.in_force_px_per_mm); };
    }
    std::string title;
    ScriptedUser user(measuring_, {key('a'), key('c'), [&] { title = output_title(); }, key(27)});
    testing::internal::CaptureStdout();
    measuring_.measure_photo(path, start);
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(user.finished());
    const std::regex lengths(
        "length ([0-9.]+) \\+/- ([0-9.]+) px \\(([0-9.]+) \\+/- ([0-9.]+) mm\\), breadth "
        "([0-9.]+) \\+/- [0-9.]+ px \\(([0-9.]+) \\+/- [0-9.]+ mm\\)");
    std::smatch m;
    if (c.shown_px_per_mm == 0) {
      EXPECT_FALSE(std::regex_search(title, m, lengths)) << title;
      EXPECT_EQ(title.find(" mm"), std::string::npos) << title;
      continue;
    }
    ASSERT_TRUE(std::regex_search(title, m, lengths)) << title;
    EXPECT_NEAR(std::stod(m[3]), std::stod(m[1]) / c.shown_px_per_mm, 0.01);
    EXPECT_NEAR(std::stod(m[4]), std::stod(m[2]) / c.shown_px_per_mm, 0.01);
    EXPECT_NEAR(std::stod(m[6]), std::stod(m[5]) / c.shown_px_per_mm, 0.01);
    // The ellipse drawn is 2 * (360 / 3 + 1) = 242 px high.
    EXPECT_NEAR(std::stod(m[1]), 242.0, 3.0);
  }
}

}  // namespace
