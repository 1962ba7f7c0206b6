#include "fit/segmentation.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "tools/demo_photo_conditions.h"

using namespace meravel;

namespace {

cv::Mat filled(const std::vector<cv::Point>& outline, cv::Size size) {
  cv::Mat mask = cv::Mat::zeros(size, CV_8UC1);
  cv::drawContours(mask, std::vector<std::vector<cv::Point>>{outline}, 0, cv::Scalar(255),
                   cv::FILLED);
  return mask;
}

double overlap(const cv::Mat& a, const cv::Mat& b) {
  return static_cast<double>(cv::countNonZero(a & b)) / cv::countNonZero(a | b);
}

// An 80 x 60 grey fixture: an ellipse of 25 x 16 px half-axes at (40, 26) and a bar 70 x 4 px
// below it, both at `object` on `ground`.
cv::Mat ellipse_and_bar(int object, int ground) {
  cv::Mat image(60, 80, CV_8UC1, cv::Scalar(ground));
  cv::ellipse(image, cv::Point(40, 26), cv::Size(25, 16), 0, 0, 360, cv::Scalar(object),
              cv::FILLED);
  cv::rectangle(image, cv::Rect(5, 50, 70, 4), cv::Scalar(object), cv::FILLED);
  return image;
}

TEST(Segmentation, ChoosesTheEllipseOverALongBarAndSetsTheHalfwayThreshold) {
  struct Case {
    int object, ground;
    ObjectPolarity polarity;
    int threshold;  // halfway between the two, on the grey image inverted for a dark object
  };
  const Case cases[] = {
      {200, 30, ObjectPolarity::kLightOnDark, 115},
      {55, 225, ObjectPolarity::kDarkOnLight, 115},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.object);
    const Segmentation s = segment_photograph(ellipse_and_bar(c.object, c.ground));
    ASSERT_TRUE(s.found());
    const cv::Rect box = cv::boundingRect(s.candidates[s.chosen].outline);
    EXPECT_EQ(box, cv::Rect(15, 10, 51, 33));
    EXPECT_EQ(s.polarity, c.polarity);
    EXPECT_EQ(s.threshold, c.threshold);
    ASSERT_EQ(s.candidates.size(), 2u);  // the bar is the runner-up, a poor egg
    EXPECT_LT(s.runner_up_score(), kPlausibleEggScore);
    EXPECT_GT(s.chosen_score(), 0.5);
  }
}

TEST(Segmentation, FindsNoEggWhereNothingLooksLikeOne) {
  cv::Mat ground(300, 400, CV_8UC3, cv::Scalar(60, 60, 60));
  cv::Mat noise(ground.size(), CV_8UC3);
  cv::randn(noise, 0, 4);
  ground += noise;
  cv::Mat card = ground.clone();
  cv::rectangle(card, cv::Rect(100, 80, 160, 120), cv::Scalar(230, 230, 230), cv::FILLED);
  cv::Mat cut = ground.clone();  // an egg cut in half by the border
  cv::ellipse(cut, cv::Point(0, 150), cv::Size(90, 60), 0, 0, 360, cv::Scalar(220, 220, 220),
              cv::FILLED);
  for (const cv::Mat& photo : {ground, card, cut}) {
    EXPECT_FALSE(segment_photograph(photo).found());
  }
  EXPECT_FALSE(segment_photograph(cv::Mat(10, 10, CV_8UC3, cv::Scalar(0))).found());
}

// Each realistic condition: the chosen outline covers the true egg.
TEST(Segmentation, FindsTheEggInEachCondition) {
  const cv::Size size(480, 360);
  for (const DemoConditionInfo& info : kDemoConditions) {
    for (unsigned seed = 1; seed <= 2; ++seed) {
      SCOPED_TRACE(std::string(info.name) + " seed " + std::to_string(seed));
      const DemoObject egg = demo_condition_egg(size, seed);
      const cv::Mat photo = render_condition_photo(size, egg, info.condition, seed);
      const Segmentation s = segment_photograph(photo);
      ASSERT_TRUE(s.found());
      std::vector<cv::Point> truth;
      for (const cv::Point2d& p : demo_object_outline(egg))
        truth.emplace_back(cvRound(p.x), cvRound(p.y));
      EXPECT_GT(overlap(filled(s.candidates[s.chosen].outline, size), filled(truth, size)), 0.95);
    }
  }
}

}  // namespace

namespace {

// The centre of a candidate's outline.
cv::Point2d centre_of(const SegmentCandidate& c) {
  const cv::Moments m = cv::moments(c.outline);
  return {m.m10 / m.m00, m.m01 / m.m00};
}

}  // namespace

// A disc read as the scale is never the egg: with its ellipse named, the egg beside it is chosen
// and the disc scores 0, whichever of the two scored higher before.
TEST(Segmentation, ADiscReadAsTheScaleIsNeverTheEgg) {
  cv::Mat image(240, 320, CV_8UC1, cv::Scalar(40));
  const cv::Point disc(80, 120), egg(220, 120);
  cv::circle(image, disc, 45, cv::Scalar(200), cv::FILLED);
  cv::ellipse(image, egg, cv::Size(40, 28), 90, 0, 360, cv::Scalar(200), cv::FILLED);
  const cv::RotatedRect disc_ellipse(disc, cv::Size2f(90, 90), 0);

  const Segmentation with_disc = segment_photograph(image, 640, {disc_ellipse});
  ASSERT_TRUE(with_disc.found());
  EXPECT_LT(cv::norm(centre_of(with_disc.candidates[with_disc.chosen]) - cv::Point2d(egg)), 3.0);
  bool disc_seen = false;
  for (const SegmentCandidate& c : with_disc.candidates) {
    if (cv::norm(centre_of(c) - cv::Point2d(disc)) < 3.0) {
      disc_seen = true;
      EXPECT_EQ(c.score, 0.0);
    }
  }
  EXPECT_TRUE(disc_seen);
}
