#include "fit/cut_edge.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "fit/clutch.h"

using namespace meravel;

namespace {

// Two eggs of 30 x 22 half-axes end to end on a 160 x 80 mask, pressed together: they meet
// along x = 72.
constexpr int kMeetX = 72;
const cv::Size kImage(160, 80);

std::vector<cv::Point> two_eggs_outline() {
  cv::Mat mask = cv::Mat::zeros(kImage, CV_8UC1);
  cv::ellipse(mask, {44, 40}, {30, 22}, 0, 0, 360, cv::Scalar(255), cv::FILLED);
  cv::ellipse(mask, {100, 40}, {30, 22}, 0, 0, 360, cv::Scalar(255), cv::FILLED);
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
  return contours.front();
}

// The left egg of the pair, cut apart, and the points along its cut.
struct CutEgg {
  std::vector<cv::Point> outline;
  std::vector<cv::Point> cut;
};

CutEgg left_egg() {
  const std::vector<cv::Point> object = two_eggs_outline();
  std::vector<std::vector<cv::Point>> parts = split_touching_eggs(object);
  EXPECT_EQ(parts.size(), 2u);
  if (parts.size() != 2) return {};
  const bool first_left = cv::boundingRect(parts[0]).x < cv::boundingRect(parts[1]).x;
  CutEgg egg;
  egg.outline = parts[first_left ? 0 : 1];
  egg.cut = cut_points(egg.outline, object);
  return egg;
}

TEST(CutPoints, AreTheSeparatedEggsPointsAlongTheCutOnly) {
  const std::vector<cv::Point> object = two_eggs_outline();
  const std::vector<std::vector<cv::Point>> parts = split_touching_eggs(object);
  ASSERT_EQ(parts.size(), 2u);
  for (const std::vector<cv::Point>& part : parts) {
    const std::vector<cv::Point> cut = cut_points(part, object);
    ASSERT_FALSE(cut.empty());
    EXPECT_LT(cut.size(), part.size() / 4);
    for (const cv::Point& p : cut) EXPECT_NEAR(p.x, kMeetX, 3) << p;
  }
  // An egg found whole has no cut.
  EXPECT_TRUE(cut_points(object, object).empty());
}

TEST(LeaveCutOut, ZeroesTheMapInsideNearTheCutAndKeepsItElsewhere) {
  const CutEgg egg = left_egg();
  ASSERT_FALSE(egg.cut.empty());
  FitTarget target = make_fit_target(egg.outline, kImage);
  const cv::Mat before = target.distance_image.clone();
  leave_cut_out(target, egg.cut);
  const struct {
    const char* where;
    cv::Point at;
    bool zero;
  } cases[] = {
      {"inside, next to the cut", {kMeetX - 6, 40}, true},
      {"inside, near the cut's end", {kMeetX - 3, 44}, true},
      {"beyond the cut, in the neighbour", {kMeetX + 12, 40}, false},
      {"inside, near the egg's own far end", {22, 40}, false},
      {"outside the egg's own edge", {6, 40}, false},
      {"inside, near the egg's own side", {44, 24}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.where);
    ASSERT_GT(before.at<float>(c.at), 0.0f);
    if (c.zero) {
      EXPECT_EQ(target.distance_image.at<float>(c.at), 0.0f);
    } else {
      EXPECT_EQ(target.distance_image.at<float>(c.at), before.at<float>(c.at));
    }
  }
}

TEST(LeaveCutOut, TheTargetKeepsItsCutUntilItsOutlineIsReplaced) {
  const CutEgg egg = left_egg();
  FitTarget target = make_fit_target(egg.outline, kImage);
  leave_cut_out(target, egg.cut);
  EXPECT_EQ(target.cut.size(), egg.cut.size());
  cv::Mat work;
  rebuild_fit_target(target, egg.outline, kImage, work);
  EXPECT_TRUE(target.cut.empty());
}

TEST(EdgesOffCut, LeavesOutTheEdgePointsNearTheCutOnly) {
  const std::vector<cv::Point> cut = {{50, 20}, {50, 21}, {50, 22}, {51, 23}};
  const struct {
    cv::Point2d at;
    bool kept;
  } cases[] = {
      {{50.4, 21.0}, false},                 // on the cut
      {{50.0, 20.0 - kCutMarginPx}, false},  // at the margin beyond its end
      {{50.0 + kCutMarginPx + 1.5, 21.0}, true},
      {{10.0, 60.0}, true},  // far away
  };
  std::vector<EdgePoint> edges;
  for (const auto& c : cases) edges.push_back({c.at, {1.0, 0.0}, 1.0});
  const std::vector<EdgePoint> kept = edges_off_cut(edges, cut);
  size_t n = 0;
  for (const auto& c : cases) {
    const bool found = n < kept.size() && kept[n].position == c.at;
    EXPECT_EQ(found, c.kept) << c.at;
    n += found;
  }
  EXPECT_EQ(n, kept.size());
  EXPECT_EQ(edges_off_cut(edges, {}).size(), edges.size());
}

TEST(LeaveCutOut, LeavesTheMapAsItIsWithoutACutOrWithNothingElseLeft) {
  const CutEgg egg = left_egg();
  for (const std::vector<cv::Point>& cut : {std::vector<cv::Point>{}, egg.outline}) {
    FitTarget target = make_fit_target(egg.outline, kImage);
    const cv::Mat before = target.distance_image.clone();
    leave_cut_out(target, cut);
    EXPECT_EQ(cv::norm(target.distance_image, before, cv::NORM_INF), 0.0) << cut.size();
    EXPECT_TRUE(target.cut.empty());
  }
}

}  // namespace
