// The model's ends and the model with its top at the other end.
#include "fit/top_end.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <sstream>

#include "fit/fit_target.h"

using namespace meravel;

namespace {

std::vector<cv::Point> outline_of(const ModelParameters& m) {
  std::vector<cv::Point> left, right;
  std::ostringstream errors;
  generate_w_curve(parameter_vector(m), CutOffs{}, left, right, errors);
  right.insert(right.end(), left.rbegin(), left.rend());
  return right;
}

}  // namespace

TEST(TopEnd, FlippedModelDrawsTheSameOutlineWithTheTopAtTheOtherEnd) {
  struct Case {
    ModelParameters model;
  } const cases[] = {
      {{1200, 500, 200, 325, 200, 150}},
      {{800, 300, 240, 0, 180, 160}},
      {{1500, 900, 160, 90, 220, 140}},
      {{1000, 400, 220, 200, 200, 150}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.model);
    const ModelParameters f = flipped_model(c.model);
    EXPECT_EQ(f.rotation, (c.model.rotation + 180) % 360);
    EXPECT_NEAR(f.lambda_milli, 1e6 / c.model.lambda_milli, 0.5);
    EXPECT_EQ(f.height, c.model.height);
    EXPECT_LT(cv::norm(model_top_end(f) - model_bottom_end(c.model)), 1e-9);
    // Same outline: the distance of each flipped point to the original outline stays within a
    // pixel or two (the model is truncated to whole pixels, lambda to thousandths).
    const FitTarget original = make_fit_target(outline_of(c.model), cv::Size(400, 300));
    double worst = 0;
    for (const cv::Point& p : outline_of(f)) {
      worst = std::max(worst, static_cast<double>(original.distance_image.at<float>(p)));
    }
    EXPECT_LT(worst, 2.5);
  }
}
