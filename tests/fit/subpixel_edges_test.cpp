// Sub-pixel edge points: tiny drawn edges whose crossing follows from symmetry, the frame left
// out, and the blur read from the profile's slope.
#include "fit/subpixel_edges.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "fit/fit_W.h"

using namespace meravel;

namespace {

// The border pixels of the light region of `grey` above `threshold`, as the binarisation finds
// them (the outer pixel frame counting as background).
std::vector<cv::Point> outline_of(const cv::Mat& grey, int threshold) {
  return find_outline(grey, threshold).contour;
}

// Edge points on the square's right side, away from its corners.
std::vector<EdgePoint> right_side(const std::vector<EdgePoint>& edges, double min_x, int y_low,
                                  int y_high) {
  std::vector<EdgePoint> side;
  for (const EdgePoint& e : edges)
    if (e.position.x > min_x && e.position.y >= y_low && e.position.y <= y_high) side.push_back(e);
  return side;
}

}  // namespace

// A light square x 10..29, y 10..29 on a dark ground, its right side drawn three ways. Each
// profile across that side is antisymmetric about one place (the levels either side mirror
// round the halfway level there), and smoothing with a symmetric kernel and bilinear reading keep
// that: so the crossing is that place, whatever the threshold and the two grey levels.
// - a plain step between columns 29 (light) and 30 (dark): the edge at x = 29.5;
// - column 30 exactly halfway between object and ground: the edge at x = 30;
// - the same with object 230 and ground 30 and the threshold at 60 or 200: still 30, the
//   halfway level 130 decides, not the threshold.
TEST(SubpixelEdges, CrossingWhereTheProfileIsAntisymmetric) {
  struct Case {
    const char* name;
    int object, ground, column_30, threshold;
    double edge_x;
  } const cases[] = {
      {"step between columns", 200, 60, 60, 131, 29.5},
      {"halfway column", 200, 60, 130, 131, 30.0},
      {"halfway column, low threshold", 230, 30, 130, 60, 30.0},
      {"halfway column, high threshold", 230, 30, 130, 200, 30.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cv::Mat grey(40, 44, CV_8UC1, cv::Scalar(c.ground));
    grey(cv::Rect(10, 10, 20, 20)).setTo(c.object);
    grey(cv::Rect(30, 10, 1, 20)).setTo(c.column_30);
    const std::vector<cv::Point> outline = outline_of(grey, c.threshold);
    ASSERT_FALSE(outline.empty());
    const std::vector<EdgePoint> side =
        right_side(subpixel_edges(grey, outline, c.threshold), 25, 16, 23);
    ASSERT_GE(side.size(), 8u);
    for (const EdgePoint& e : side) {
      EXPECT_NEAR(e.position.x, c.edge_x, 1e-3) << "at y " << e.position.y;
      EXPECT_NEAR(e.normal.x, 1.0, 1e-9);  // out of the object
      EXPECT_NEAR(e.normal.y, 0.0, 1e-9);
    }
  }
}

// A colour photograph is turned grey as the binarisation turns it, and the outline may run
// either way round: the normals point out of the object all the same.
TEST(SubpixelEdges, ColourAndEitherWayRound) {
  cv::Mat colour(40, 44, CV_8UC3, cv::Scalar(60, 60, 60));
  colour(cv::Rect(10, 10, 20, 20)).setTo(cv::Scalar(200, 200, 200));
  std::vector<cv::Point> outline = outline_of(colour, 131);
  for (bool reversed : {false, true}) {
    SCOPED_TRACE(reversed ? "reversed" : "as found");
    if (reversed) std::reverse(outline.begin(), outline.end());
    const std::vector<EdgePoint> edges = subpixel_edges(colour, outline, 131);
    const std::vector<EdgePoint> side = right_side(edges, 25, 16, 23);
    ASSERT_GE(side.size(), 8u);
    for (const EdgePoint& e : side) EXPECT_NEAR(e.position.x, 29.5, 1e-3);
    for (const EdgePoint& e : edges)
      EXPECT_GT((e.position - cv::Point2d(19.5, 19.5)).dot(e.normal), 0);
  }
}

// A square cut by the image's left edge: its outline runs along column 1 there (the outer frame
// counts as background); those pixels give no edge point (none faces left), the visible sides
// do, up to the frame.
TEST(SubpixelEdges, LeavesOutTheFrame) {
  cv::Mat grey(40, 44, CV_8UC1, cv::Scalar(60));
  grey(cv::Rect(0, 10, 30, 20)).setTo(200);
  const std::vector<cv::Point> outline = outline_of(grey, 131);
  bool along_frame = false;
  for (const cv::Point& p : outline) along_frame = along_frame || p.x == 1;
  ASSERT_TRUE(along_frame);
  const std::vector<EdgePoint> edges = subpixel_edges(grey, outline, 131);
  ASSERT_GT(edges.size(), 30u);
  for (const EdgePoint& e : edges) {
    EXPECT_GE(e.position.x, 2.0);
    EXPECT_GT(e.normal.x, -0.5);
  }
  EXPECT_GE(right_side(edges, 25, 14, 25).size(), 10u);
}

// The blur read from the slope: a step smoothed only by the edge finder's own 0.8 px, and the
// same step blurred by 1.5 px before, about sqrt(1.5^2 + 0.8^2) = 1.7 px.
TEST(SubpixelEdges, BlurFromTheProfilesSlope) {
  struct Case {
    double blur_before, blur;
  } const cases[] = {{0.0, 0.8}, {1.5, 1.7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "blurred by " << c.blur_before);
    cv::Mat grey(40, 44, CV_8UC1, cv::Scalar(60));
    grey(cv::Rect(10, 10, 20, 20)).setTo(200);
    if (c.blur_before > 0) cv::GaussianBlur(grey, grey, cv::Size(), c.blur_before);
    const std::vector<cv::Point> outline = outline_of(grey, 131);
    const std::vector<EdgePoint> side = right_side(subpixel_edges(grey, outline, 131), 25, 16, 23);
    ASSERT_GE(side.size(), 8u);
    for (const EdgePoint& e : side) EXPECT_NEAR(e.blur, c.blur, 0.15);
  }
}

// No more points than asked for, spread along the whole outline.
TEST(SubpixelEdges, AtMostTheAskedNumberSpreadEvenly) {
  cv::Mat grey(200, 200, CV_8UC1, cv::Scalar(60));
  cv::circle(grey, {100, 100}, 70, cv::Scalar(200), cv::FILLED);
  const std::vector<cv::Point> outline = outline_of(grey, 131);
  const std::vector<EdgePoint> all = subpixel_edges(grey, outline, 131);
  const std::vector<EdgePoint> few = subpixel_edges(grey, outline, 131, 50);
  EXPECT_EQ(all.size(), outline.size());
  ASSERT_LE(few.size(), 50u);
  ASSERT_GE(few.size(), 45u);
  int quadrants[4] = {0, 0, 0, 0};
  for (const EdgePoint& e : few) {
    EXPECT_NEAR(cv::norm(e.position - cv::Point2d(100, 100)), 70.0, 0.6);
    ++quadrants[(e.position.x > 100 ? 1 : 0) + (e.position.y > 100 ? 2 : 0)];
  }
  for (int q : quadrants) EXPECT_GE(q, 10);
}
