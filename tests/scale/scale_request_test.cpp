#include "scale/scale_request.h"

#include <gtest/gtest.h>

using namespace meravel;

namespace {

TEST(ScaleRequest, ParsesEveryFormAndRefusesTheRest) {
  using Kind = ScaleRequest::Kind;
  struct Case {
    const char* text;
    bool valid;
    Kind kind;
    double size_mm, px_per_mm;
  };
  const Case cases[] = {
      {"auto", true, Kind::automatic, 0, 0},
      {"auto:20", true, Kind::automatic, 20, 0},
      {"ruler", true, Kind::ruler, 0, 0},
      {"marker:25.5", true, Kind::marker, 25.5, 0},
      {"disc:23.25", true, Kind::disc, 23.25, 0},
      {"12.5", true, Kind::given, 0, 12.5},
      {"8", true, Kind::given, 0, 8},
      {"marker", false, Kind::none, 0, 0},
      {"disc", false, Kind::none, 0, 0},
      {"ruler:30", false, Kind::none, 0, 0},
      {"marker:0", false, Kind::none, 0, 0},
      {"marker:-5", false, Kind::none, 0, 0},
      {"marker:", false, Kind::none, 0, 0},
      {"disc:1e2", false, Kind::none, 0, 0},
      {"0", false, Kind::none, 0, 0},
      {"-3", false, Kind::none, 0, 0},
      {"12,5", false, Kind::none, 0, 0},
      {"1e3", false, Kind::none, 0, 0},
      {"inf", false, Kind::none, 0, 0},
      {"", false, Kind::none, 0, 0},
      {"Auto", false, Kind::none, 0, 0},
      {"12.5:3", false, Kind::none, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<ScaleRequest> request = parse_scale_request(c.text);
    ASSERT_EQ(request.has_value(), c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(request->kind, c.kind);
    EXPECT_EQ(request->size_mm, c.size_mm);
    EXPECT_EQ(request->px_per_mm, c.px_per_mm);
  }
}

TEST(ScaleRequest, AGivenScaleIsTakenAsItIsAndNothingIsReadWithoutARequest) {
  const cv::Mat grey(40, 60, CV_8UC1, cv::Scalar(90));
  ScaleRequest given;
  given.kind = ScaleRequest::Kind::given;
  given.px_per_mm = 7.5;
  const ScaleReading reading = read_scale(grey, given);
  EXPECT_EQ(reading.method, ScaleMethod::given);
  EXPECT_EQ(reading.px_per_mm, 7.5);
  EXPECT_EQ(reading.px_per_mm_se, 0.0);
  EXPECT_FALSE(read_scale(grey, ScaleRequest{}).found());
  ScaleRequest automatic;
  automatic.kind = ScaleRequest::Kind::automatic;
  const ScaleReading none = read_scale(grey, automatic);
  EXPECT_FALSE(none.found());
  EXPECT_NE(scale_not_found_line(none).find("the values stay in pixels"), std::string::npos);
}

}  // namespace
