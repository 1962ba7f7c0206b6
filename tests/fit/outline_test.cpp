#include <gtest/gtest.h>

#include <algorithm>
#include <opencv2/imgproc.hpp>

#include "fit/fit_W.h"
#include "reference/literal_energy.h"

using namespace meravel;

namespace {

cv::Mat grey_image(int width, int height, int level) {
  return cv::Mat(height, width, CV_8UC3, cv::Scalar::all(level));
}

void fill(cv::Mat& image, cv::Rect rect, int level) {
  cv::rectangle(image, rect, cv::Scalar::all(level), cv::FILLED);
}

}  // namespace

TEST(FindOutline, AWhiteImageHasOneContourJustInsideTheFrame) {
  const cv::Mat source = grey_image(12, 9, 200);
  std::vector<std::vector<cv::Point>> contours;
  const Outline outline = find_outline(source, 10, &contours);
  ASSERT_EQ(contours.size(), 1u);
  ASSERT_FALSE(outline.contour.empty());
  for (const cv::Point& p : outline.contour) {
    EXPECT_TRUE(p.x == 1 || p.x == 10 || p.y == 1 || p.y == 7) << p;
    EXPECT_TRUE(p.x >= 1 && p.x <= 10 && p.y >= 1 && p.y <= 7) << p;
  }
  // Extremes 1 and 10, 1 and 7: differences of coordinates, not pixel counts.
  EXPECT_EQ(outline.box.width, 9);
  EXPECT_EQ(outline.box.height, 6);
  EXPECT_EQ(outline.box.center_x, 1 + 9 / 2);
  EXPECT_EQ(outline.box.center_y, 1 + 6 / 2);
}

TEST(FindOutline, ObjectOnTheImageBorderIsCutByTheFrame) {
  cv::Mat source = grey_image(20, 20, 0);
  fill(source, cv::Rect(0, 5, 10, 8), 255);  // columns 0..9, rows 5..12
  const OutlineBox box = find_outline(source, 100).box;
  EXPECT_EQ(box.width, 8);  // columns 1..9: column 0 counts as background
  EXPECT_EQ(box.center_x, 1 + 8 / 2);
  EXPECT_EQ(box.height, 7);
  EXPECT_EQ(box.center_y, 5 + 7 / 2);
}

TEST(FindOutline, BoxIsTheExtremeCoordinateDifferenceWithTruncatedHalves) {
  cv::Mat source = grey_image(30, 40, 0);
  fill(source, cv::Rect(cv::Point(10, 20), cv::Point(15, 27) + cv::Point(1, 1)), 255);
  const OutlineBox box = find_outline(source, 100).box;
  EXPECT_EQ(box.width, 5);
  EXPECT_EQ(box.center_x, 12);
  EXPECT_EQ(box.height, 7);
  EXPECT_EQ(box.center_y, 23);
}

// Through the session's step: a threshold without contour leaves the state's box as it was.
TEST(FindOutline, ThresholdKeepsOnlyGreyLevelsAboveIt) {
  const struct {
    int threshold;
    bool found;
  } cases[] = {{130, true}, {131, false}, {250, false}, {0, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "threshold " << c.threshold);
    FitState state;
    state.threshold = c.threshold;
    state.outline_width = -1;
    state.source_image = grey_image(16, 16, 0);
    fill(state.source_image, cv::Rect(4, 4, 5, 5), 131);
    rebuild_outline(state);
    EXPECT_EQ(!state.target.outline_contour.empty(), c.found);
    EXPECT_EQ(state.outline_width, c.found ? 4 : -1);  // no contour: the box keeps its values
    EXPECT_EQ(state.target.distance_image.empty(), !c.found);
  }
}

TEST(FindOutline, LargestContourWinsAndTheFirstOfEqualOnesIsKept) {
  const struct {
    const char* name;
    cv::Rect a, b;
  } cases[] = {
      {"equal squares side by side", {3, 3, 4, 4}, {12, 3, 4, 4}},
      {"equal squares one above the other", {3, 3, 4, 4}, {3, 12, 4, 4}},
      {"larger second", {3, 3, 3, 3}, {10, 10, 6, 6}},
      {"larger first", {2, 2, 8, 8}, {14, 14, 3, 3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    cv::Mat source = grey_image(20, 20, 0);
    fill(source, c.a, 255);
    fill(source, c.b, 255);
    std::vector<std::vector<cv::Point>> all_contours;
    const Outline outline = find_outline(source, 100, &all_contours);

    // The delivery order is the contour search's own: ask it directly.
    cv::Mat binary(20, 20, CV_8UC1, cv::Scalar(0));
    fill(binary, c.a, 255);
    fill(binary, c.b, 255);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(binary, contours, cv::RETR_LIST, cv::CHAIN_APPROX_NONE);
    ASSERT_EQ(contours.size(), 2u);
    const size_t expected = contours[1].size() > contours[0].size() ? 1 : 0;
    EXPECT_EQ(outline.contour, contours[expected]);
    EXPECT_EQ(all_contours, contours);
  }
}

TEST(FindOutline, MatchesTheLiteralProcedureOnRealisticImages) {
  cv::Mat source = grey_image(64, 48, 30);
  cv::circle(source, cv::Point(30, 20), 14, cv::Scalar(220, 180, 90), cv::FILLED);
  cv::circle(source, cv::Point(30, 20), 5, cv::Scalar::all(10), cv::FILLED);  // a hole
  cv::rectangle(source, cv::Rect(50, 30, 14, 18), cv::Scalar(40, 250, 250), cv::FILLED);
  for (int threshold : {0, 20, 40, 100, 150, 200, 249}) {
    SCOPED_TRACE(testing::Message() << "threshold " << threshold);
    FitState literal;
    literal.threshold = threshold;
    const Outline outline = find_outline(source, threshold);
    EXPECT_EQ(outline.contour, literal_find_outline(literal, source));
    EXPECT_EQ(outline.box.width, literal.outline_width);
    EXPECT_EQ(outline.box.height, literal.outline_height);
    EXPECT_EQ(outline.box.center_x, literal.outline_center_x);
    EXPECT_EQ(outline.box.center_y, literal.outline_center_y);
  }
}

// Through the session's step, which asks for the view while show_binary is set.
TEST(FindOutline, BinaryViewShowsTheThresholdedImageBeforeTheFrameIsCleared) {
  FitState state;
  state.threshold = 10;
  state.show_binary = true;
  state.binary_display = cv::Mat(9, 12, CV_8UC1, cv::Scalar(7));
  state.source_image = grey_image(12, 9, 200);
  rebuild_outline(state);
  EXPECT_EQ(cv::countNonZero(state.binary_display != 255), 0);

  // At another display size the view is the bilinear resize of that image.
  state.source_image = grey_image(40, 30, 0);
  fill(state.source_image, cv::Rect(10, 10, 15, 9), 255);
  state.binary_display = cv::Mat(15, 20, CV_8UC1, cv::Scalar(7));
  rebuild_outline(state);
  cv::Mat expected;
  cv::Mat binary(30, 40, CV_8UC1, cv::Scalar(0));
  fill(binary, cv::Rect(10, 10, 15, 9), 255);
  cv::resize(binary, expected, cv::Size(20, 15), 0, 0, cv::INTER_LINEAR);
  EXPECT_EQ(cv::countNonZero(state.binary_display != expected), 0);

  state.show_binary = false;
  state.binary_display.setTo(7);
  rebuild_outline(state);
  EXPECT_EQ(cv::countNonZero(state.binary_display != 7), 0);
}

TEST(OutlineDistance, OutlinePixelsInTheTwoPixelFrameDoNotCount) {
  FitState state;
  state.source_image = cv::Mat::zeros(12, 12, CV_8UC3);
  // A rectangle from (1, 4) to (8, 8): its left edge lies in column 1, inside the frame.
  state.target.outline_contour = {{1, 4}, {2, 4}, {3, 4}, {4, 4}, {5, 4}, {6, 4}, {7, 4}, {8, 4},
                                  {8, 5}, {8, 6}, {8, 7}, {8, 8}, {7, 8}, {6, 8}, {5, 8}, {4, 8},
                                  {3, 8}, {2, 8}, {1, 8}, {1, 7}, {1, 6}, {1, 5}};
  compute_outline_distance(state);
  ASSERT_EQ(state.target.distance_image.type(), CV_32FC1);
  ASSERT_EQ(state.target.distance_image.size(), cv::Size(12, 12));
  const cv::Mat& d = state.target.distance_image;
  EXPECT_EQ(d.at<float>(4, 5), 0.0f);  // on the top edge
  EXPECT_EQ(d.at<float>(6, 8), 0.0f);  // on the right edge
  EXPECT_EQ(d.at<float>(6, 2), 2.0f);  // (1, 6) is gone: the nearest are (2, 4) and (2, 8)
  EXPECT_EQ(d.at<float>(6, 5), 2.0f);
  EXPECT_EQ(d.at<float>(1, 5), 3.0f);  // three rows above the top edge
  // The map is that of the literal procedure.
  EXPECT_EQ(cv::countNonZero(d != literal_distance_map(state.target.outline_contour, {12, 12})), 0);
}

// The zero pixels the energy reads distances from before the map is made are the map's own:
// those of the drawn outline, less the frame, with lines drawn between points that are not
// neighbours.
TEST(OutlineMapZeros, AreTheZeroPixelsOfTheTargetsMask) {
  const struct {
    const char* name;
    std::vector<cv::Point> outline;
    cv::Size size;
  } cases[] = {
      {"neighbouring points, into the frame",
       {{1, 4}, {2, 4}, {3, 4}, {3, 5}, {3, 6}, {2, 6}, {1, 6}, {1, 5}},
       {12, 12}},
      {"a polygon of far points", {{3, 2}, {40, 9}, {33, 28}, {7, 21}}, {45, 31}},
      {"a polygon across the whole image", {{0, 0}, {44, 0}, {44, 30}, {0, 30}}, {45, 31}},
      {"a single point", {{20, 10}}, {45, 31}},
      {"an image smaller than the frame", {{0, 0}, {2, 0}, {2, 2}}, {3, 3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FitTarget target;
    cv::Mat mask;
    rebuild_fit_target(target, c.outline, c.size, mask);
    std::vector<cv::Point> expected;
    cv::findNonZero(mask == 0, expected);
    std::vector<cv::Point> zeros = outline_map_zeros(c.outline, c.size);
    const auto row_order = [](cv::Point a, cv::Point b) {
      return a.y != b.y ? a.y < b.y : a.x < b.x;
    };
    std::sort(expected.begin(), expected.end(), row_order);
    std::sort(zeros.begin(), zeros.end(), row_order);
    EXPECT_EQ(zeros, expected);
  }
}

// The frame rules on each of the four sides: the outermost pixel frame of the binarised image
// counts as background, and outline pixels on the two outermost rows and columns of the map do
// not count. A bar parallel to one side, `depth` pixels from it, in a 16x14 image.
TEST(OutlineFrame, EachSideFollowsTheSameRules) {
  const cv::Size size(16, 14);
  enum Side { kLeft, kRight, kTop, kBottom };
  const char* names[] = {"left", "right", "top", "bottom"};
  // The pixel at `depth` from `side`, `along` pixels along it.
  const auto at = [&](Side side, int depth, int along) {
    switch (side) {
      case kLeft:
        return cv::Point(depth, along);
      case kRight:
        return cv::Point(size.width - 1 - depth, along);
      case kTop:
        return cv::Point(along, depth);
      default:
        return cv::Point(along, size.height - 1 - depth);
    }
  };
  for (Side side : {kLeft, kRight, kTop, kBottom}) {
    SCOPED_TRACE(names[side]);
    // A filled block from the side (depth 0) to depth 4, along 4..8: the frame cuts its first
    // pixel, so the outline spans depths 1..4.
    cv::Mat source = grey_image(size.width, size.height, 0);
    fill(source, cv::boundingRect(std::vector<cv::Point>{at(side, 0, 4), at(side, 4, 8)}), 255);
    const Outline outline = find_outline(source, 100);
    ASSERT_FALSE(outline.contour.empty());
    const bool across_x = side == kLeft || side == kRight;
    EXPECT_EQ(across_x ? outline.box.width : outline.box.height, 3);
    EXPECT_EQ(across_x ? outline.box.height : outline.box.width, 4);
    for (const cv::Point& p : outline.contour) EXPECT_NE(p, at(side, 0, 6));

    // A line along the side at each depth: pixels at depth 0 and 1 are left out of the map.
    for (int depth = 0; depth < 4; ++depth) {
      SCOPED_TRACE(depth);
      std::vector<cv::Point> line;
      for (int along = 4; along <= 8; ++along) line.push_back(at(side, depth, along));
      for (int along = 7; along > 4; --along) line.push_back(at(side, depth, along));
      const FitTarget target = make_fit_target(line, size);
      ASSERT_FALSE(target.distance_image.empty());
      const float on_line = target.distance_image.at<float>(at(side, depth, 6));
      if (depth < 2) {
        EXPECT_GT(on_line, 0.0f);
      } else {
        EXPECT_EQ(on_line, 0.0f);
      }
    }
  }
}
