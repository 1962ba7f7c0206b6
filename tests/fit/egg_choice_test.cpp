#include "fit/egg_choice.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

using namespace meravel;

namespace {

// A 320 x 200 grey fixture: four light ellipses on a dark ground, drawn in an order that is not
// the numbering's. Two share their centre's x, so the lower one follows the upper one.
struct DrawnEgg {
  cv::Point centre;
  cv::Size half_axes;
};
const DrawnEgg kDrawn[] = {
    {{250, 100}, {26, 36}},  // number 4
    {{60, 55}, {22, 30}},    // number 1
    {{150, 60}, {30, 22}},   // number 2 (upper of the two at x 150)
    {{150, 150}, {24, 32}},  // number 3
};
const int kNumberOfDrawn[] = {4, 1, 2, 3};

cv::Mat four_eggs() {
  cv::Mat image(200, 320, CV_8UC1, cv::Scalar(40));
  for (const DrawnEgg& egg : kDrawn) {
    cv::ellipse(image, egg.centre, egg.half_axes, 0, 0, 360, cv::Scalar(210), cv::FILLED);
  }
  return image;
}

TEST(EggChoice, NumbersThePlausibleEggsLeftToRightThenTopToBottom) {
  const Segmentation s = segment_photograph(four_eggs());
  const std::vector<NumberedEgg> eggs = numbered_eggs(s);
  ASSERT_EQ(eggs.size(), 4u);
  for (int d = 0; d < 4; ++d) {
    SCOPED_TRACE(d);
    const NumberedEgg& egg = eggs[kNumberOfDrawn[d] - 1];
    EXPECT_NEAR(egg.centre.x, kDrawn[d].centre.x, 0.5);
    EXPECT_NEAR(egg.centre.y, kDrawn[d].centre.y, 0.5);
    EXPECT_EQ(egg.box, cv::boundingRect(s.candidates[egg.candidate].outline));
    // The egg under its own centre is itself; the ground next to it is no egg.
    EXPECT_EQ(egg_under(eggs, s, kDrawn[d].centre), kNumberOfDrawn[d] - 1);
    EXPECT_EQ(egg_under(eggs, s, kDrawn[d].centre + cv::Point(0, kDrawn[d].half_axes.height + 4)),
              -1);
  }
}

TEST(EggChoice, LeavesOutCandidatesThatAreNoPlausibleEgg) {
  cv::Mat image = four_eggs();
  cv::rectangle(image, cv::Rect(302, 10, 6, 180), cv::Scalar(210), cv::FILLED);  // a long bar
  const Segmentation s = segment_photograph(image);
  EXPECT_EQ(numbered_eggs(s).size(), 4u);
  EXPECT_GT(s.candidates.size(), 4u);
}

TEST(EggChoice, ChoosingAnEggOutlinesItWithItsOwnThreshold) {
  const cv::Mat image = four_eggs();
  const Segmentation s = segment_photograph(image);
  const std::vector<NumberedEgg> eggs = numbered_eggs(s);
  ASSERT_EQ(eggs.size(), 4u);
  for (int d = 0; d < 4; ++d) {
    SCOPED_TRACE(d);
    const Segmentation chosen =
        segmentation_choosing(image, s, eggs[kNumberOfDrawn[d] - 1].candidate);
    ASSERT_TRUE(chosen.found());
    const DrawnEgg& drawn = kDrawn[d];
    const cv::Rect expected(
        drawn.centre - cv::Point(drawn.half_axes),
        cv::Size(2 * drawn.half_axes.width + 1, 2 * drawn.half_axes.height + 1));
    EXPECT_EQ(cv::boundingRect(chosen.candidates[chosen.chosen].outline), expected);
    EXPECT_EQ(chosen.polarity, ObjectPolarity::kLightOnDark);
    EXPECT_EQ(chosen.threshold, 125);  // halfway between 40 and 210
  }
  EXPECT_FALSE(segmentation_choosing(image, s, static_cast<int>(s.candidates.size())).found());
}

TEST(EggChoice, NextUnsavedEggWrapsRoundAndEndsWhenAllAreSaved) {
  struct Case {
    std::vector<bool> saved;
    int current, next;
  };
  const Case cases[] = {
      {{false, false, false}, 0, 1}, {{false, true, false}, 0, 2}, {{false, true, true}, 2, 0},
      {{true, true, false}, 2, 2},   {{true, true, true}, 1, -1},  {{}, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.current);
    EXPECT_EQ(next_unsaved_egg(c.saved, c.current), c.next);
  }
}

}  // namespace
