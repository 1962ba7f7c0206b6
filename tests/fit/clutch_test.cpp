#include "fit/clutch.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "tools/demo_photo_clutch.h"

using namespace meravel;

namespace {

std::vector<cv::Point> outline_of(const cv::Mat& mask) {
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
  return contours.empty() ? std::vector<cv::Point>{} : contours.front();
}

// Ellipses of the given centres and half-axes, filled, on a 160 x 80 mask.
cv::Mat ellipses(const std::vector<std::pair<cv::Point, cv::Size>>& shapes) {
  cv::Mat mask = cv::Mat::zeros(80, 160, CV_8UC1);
  for (const auto& [centre, axes] : shapes)
    cv::ellipse(mask, centre, axes, 0, 0, 360, cv::Scalar(255), cv::FILLED);
  return mask;
}

TEST(SplitTouchingEggs, CutsTwoTouchingEggsAndLeavesOneEggWhole) {
  struct Case {
    const char* name;
    std::vector<std::pair<cv::Point, cv::Size>> shapes;
    size_t parts;
  };
  const Case cases[] = {
      {"two eggs end to end", {{{44, 40}, {30, 22}}, {{104, 40}, {30, 22}}}, 2},
      {"a large and a small egg side by side", {{{50, 40}, {34, 26}}, {{107, 40}, {24, 18}}}, 2},
      {"one egg", {{{80, 40}, {34, 24}}}, 0},
      {"one long egg", {{{80, 40}, {60, 25}}}, 0},
      {"an egg with a bar through it", {{{80, 40}, {30, 22}}, {{80, 40}, {75, 4}}}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const cv::Mat mask = ellipses(c.shapes);
    const std::vector<std::vector<cv::Point>> parts = split_touching_eggs(outline_of(mask));
    ASSERT_EQ(parts.size(), c.parts);
    for (const std::vector<cv::Point>& part : parts) {
      // Each part is one of the ellipses, less at most the cut between them.
      const cv::Rect box = cv::boundingRect(part);
      bool matched = false;
      for (const auto& [centre, axes] : c.shapes) {
        const cv::Rect truth(centre - cv::Point(axes),
                             cv::Size(2 * axes.width + 1, 2 * axes.height + 1));
        matched = matched || (box & truth).area() > 0.9 * truth.area();
      }
      EXPECT_TRUE(matched) << box;
      EXPECT_GT(egg_shape_score(part), kPlausibleEggScore);
    }
  }
}

TEST(FindClutch, FindsEveryEggOfGeneratedClutchesLeftToRight) {
  for (const ClutchGround ground : {ClutchGround::kCloth, ClutchGround::kCardWithRuler}) {
    for (int count = 2; count <= 6; count += 2) {
      SCOPED_TRACE(testing::Message()
                   << "ground " << static_cast<int>(ground) << ", " << count << " eggs");
      const DemoClutch demo = make_demo_clutch(cv::Size(720, 540), count, ground, 3 + count);
      const Segmentation segmentation = segment_photograph(demo.photo, 640, {}, true);
      const Clutch clutch = find_clutch(segmentation, demo.photo.size());
      ASSERT_EQ(clutch.eggs.size(), demo.eggs.size());
      for (size_t i = 0; i < clutch.eggs.size(); ++i) {
        if (i > 0) {
          EXPECT_LE(clutch.eggs[i - 1].centre_px.x, clutch.eggs[i].centre_px.x);
        }
        // Each egg found lies on exactly one true egg, within a tenth of its length.
        int near = 0;
        for (const DemoObject& truth : demo.eggs) {
          near += std::hypot(clutch.eggs[i].centre_px.x - truth.center_x,
                             clutch.eggs[i].centre_px.y - truth.center_y) < 0.1 * truth.height;
        }
        EXPECT_EQ(near, 1) << "egg " << i + 1;
      }
      EXPECT_EQ(clutch.cut_by_border, 0);
    }
  }
}

TEST(FindClutch, CountsAnEggCutByTheBorderWithoutMeasuringIt) {
  DemoClutch demo = make_demo_clutch(cv::Size(720, 540), 3, ClutchGround::kCloth, 5, false);
  // The right third cut off: the third egg loses about half of itself.
  const cv::Mat cut = demo.photo(cv::Rect(0, 0, 600, 540)).clone();
  const Clutch clutch = find_clutch(segment_photograph(cut, 640, {}, true), cut.size());
  EXPECT_EQ(clutch.eggs.size(), 2u);
  EXPECT_EQ(clutch.cut_by_border, 1);
}

}  // namespace
