// The "Scale" window's picture of what key c found: ticks, a marker's outline, a disc's ellipse.
#include "windows/scale_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

using namespace meravel;

namespace {

// Whether a pixel within one of `p` is drawn green over the grey photograph.
bool green_near(const cv::Mat& view, cv::Point2d p) {
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      const cv::Point q(cvRound(p.x) + dx, cvRound(p.y) + dy);
      if (!cv::Rect(cv::Point(0, 0), view.size()).contains(q)) continue;
      const cv::Vec3b bgr = view.at<cv::Vec3b>(q);
      if (bgr[1] - std::max(bgr[0], bgr[2]) > 60) return true;
    }
  }
  return false;
}

// Each scale spans (20, 20) to (220, 160) of a 240 x 180 grey photograph: with the margin of
// 20 px the view is the whole photograph, at full size.
SessionScale ruler() {
  SessionScale s;
  s.method = "ruler";
  s.px_per_mm = 10.0;
  const cv::Point2d from(20, 20), to(220, 160);
  const cv::Point2d along = (to - from) / std::hypot(to.x - from.x, to.y - from.y);
  s.ruler_direction = cv::Point2f(along);
  for (int k = 0; k <= 20; ++k) s.marks.emplace_back(from + (to - from) * (k / 20.0));
  return s;
}

SessionScale marker() {
  SessionScale s;
  s.method = "marker";
  s.px_per_mm = 10.0;
  s.marks = {{20, 20}, {220, 20}, {220, 160}, {20, 160}};
  return s;
}

SessionScale disc() {
  SessionScale s;
  s.method = "disc";
  s.px_per_mm = 10.0;
  s.ellipse = cv::RotatedRect(cv::Point2f(120, 90), cv::Size2f(200, 140), 0);
  return s;
}

TEST(FoundScaleView, DrawsTicksMarkerOutlineOrDiscEllipseOverThePhotograph) {
  const cv::Mat photo(180, 240, CV_8UC3, cv::Scalar(100, 100, 100));
  const cv::Point2d ruler_middle(120, 90), across(-0.573462, 0.819232);  // across the diagonal
  const struct {
    const char* what;
    SessionScale scale;
    std::vector<cv::Point2d> drawn, not_drawn;
  } cases[] = {
      {"ruler",
       ruler(),
       {ruler_middle + across * 9.0, ruler_middle - across * 9.0, {20, 20}, {220, 160}},
       {ruler_middle + across * 20.0, {20, 160}}},
      {"marker", marker(), {{120, 20}, {220, 90}, {20, 20}, {220, 160}}, {{120, 90}, {60, 60}}},
      {"disc", disc(), {{220, 90}, {120, 20}, {120, 90}, {20, 90}}, {{170, 90}, {30, 30}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const cv::Mat view = found_scale_view(photo, c.scale);
    ASSERT_EQ(view.size(), photo.size());
    for (const cv::Point2d& p : c.drawn) EXPECT_TRUE(green_near(view, p)) << p;
    for (const cv::Point2d& p : c.not_drawn) EXPECT_FALSE(green_near(view, p)) << p;
    // Reduced to fit a narrower window, the same drawing at half size.
    const cv::Mat half = found_scale_view(photo, c.scale, 120);
    ASSERT_EQ(half.size(), cv::Size(120, 90));
    for (const cv::Point2d& p : c.drawn) EXPECT_TRUE(green_near(half, p * 0.5)) << p;
  }
}

TEST(FoundScaleView, IsEmptyWhenNothingWasFound) {
  const cv::Mat photo(180, 240, CV_8UC3, cv::Scalar(100, 100, 100));
  EXPECT_TRUE(found_scale_view(photo, SessionScale()).empty());
  SessionScale outside = marker();
  for (cv::Point2f& p : outside.marks) p += cv::Point2f(1000, 1000);
  EXPECT_TRUE(found_scale_view(photo, outside).empty());
}

}  // namespace
