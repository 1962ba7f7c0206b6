#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <iostream>
#include <limits>
#include <random>

#include "fit/fit_W.h"
#include "reference/literal_energy.h"

using namespace meravel;

namespace {

struct Model {
  std::vector<cv::Point> left;
  std::vector<cv::Point> right;
  bool produced = false;
};

Model generate(FitState& state, double lambda, double a, double h, double rotation, double tx,
               double ty) {
  Model model;
  const WCurveExtent extent = generate_w_curve(lambda, a, h, rotation, tx, ty, state.cut_offs(),
                                               model.left, model.right, std::cerr);
  state.keep_extent(extent);
  model.produced = extent.produced;
  return model;
}

}  // namespace

TEST(WCurve, WithoutCutOffsEveryOneOfTheEightHundredSamplesIsKept) {
  const struct {
    double lambda, a, h, rotation;
  } cases[] = {{1, 250, 300, 0}, {0, 0, 300, 90}, {2.5, 1000, 50, 325}, {0.1, 10, 1, 180}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "lambda " << c.lambda << " h " << c.h);
    FitState state;
    Model model = generate(state, c.lambda, c.a, c.h, c.rotation, 100, 100);
    EXPECT_TRUE(model.produced);
    EXPECT_EQ(model.left.size(), 800u);
    EXPECT_EQ(model.right.size(), 800u);
  }
}

TEST(WCurve, LambdaOneIsWidestAtMidHeight) {
  FitState state;
  Model model = generate(state, 1, 250, 300, 0, 400, 300);
  // D = 150 e^t + e^-t is smallest, 2·sqrt(150) ≈ 24.49, at e^2t = 1/150: the largest offset is
  // trunc(250 / 24.49) = 10. The offset first reaches 10 where D <= 25, at e^t >= 1/15
  // (t >= −2.708), so the first sample there is t ≈ −2.70.
  EXPECT_EQ(state.pixel_width, 20);
  EXPECT_NEAR(state.peak_abscissa, -2.70, 1e-9);
  const double before = state.peak_abscissa - 0.05;
  EXPECT_LT(250 / (150 * std::exp(before) + std::exp(-before)), 10.0);

  // Rotation 0: mirrored points on the same rows, from the top (ty − h/2) to the bottom (ty + h/2).
  ASSERT_EQ(model.left.size(), model.right.size());
  int widest = 0;
  for (size_t i = 0; i < model.left.size(); ++i) {
    EXPECT_EQ(model.left[i].y, model.right[i].y);
    EXPECT_EQ(model.left[i].x - 400, 400 - model.right[i].x);
    widest = std::max(widest, model.right[i].x - 400);
  }
  EXPECT_EQ(widest, 10);
  EXPECT_EQ(model.right.front(), cv::Point(400, 150));
  // Near the bottom the depth rounds to h − 1 or h.
  EXPECT_EQ(model.right.back().x, 400);
  EXPECT_NEAR(model.right.back().y, 450, 1);
}

TEST(WCurve, LambdaZeroPutsEveryPointOnTheAxisAndKeepsThePeak) {
  FitState state;
  state.peak_abscissa = 1.25;
  state.pixel_width = 77;
  Model model = generate(state, 0, 0, 200, 0, 50, 120);
  ASSERT_TRUE(model.produced);
  for (size_t i = 0; i < model.left.size(); ++i) {
    EXPECT_EQ(model.left[i].x, 50);
    EXPECT_EQ(model.right[i], model.left[i]);
  }
  EXPECT_EQ(state.pixel_width, 0);
  EXPECT_EQ(state.peak_abscissa, 1.25);
}

TEST(WCurve, RotationTurnsTheAxisAndTheMirroringComesFirst) {
  FitState state;
  const struct {
    double rotation;
    int top_dx, top_dy;    // where the top point lies relative to the centre
    int side_dx, side_dy;  // the side of the axis on which the left half bulges
  } cases[] = {
      {0, 0, -100, -1, 0},  // axis pointing down, the left half on the left
      {180, 0, 100, 1, 0},  // upside down: the left half on the right
      {90, 100, 0, 0, -1},  // axis pointing left: the left half above it
      {270, -100, 0, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "rotation " << c.rotation);
    Model model = generate(state, 1, 2000, 200, c.rotation, 300, 300);
    ASSERT_TRUE(model.produced);
    EXPECT_NEAR(model.left.front().x - 300, c.top_dx, 1);
    EXPECT_NEAR(model.left.front().y - 300, c.top_dy, 1);
    const cv::Point middle = model.left[model.left.size() / 2] - cv::Point(300, 300);
    const cv::Point mirror = model.right[model.right.size() / 2] - cv::Point(300, 300);
    if (c.side_dx != 0) {
      EXPECT_GT(middle.x * c.side_dx, 10);
      EXPECT_NEAR(mirror.x, -middle.x, 1);
    } else {
      EXPECT_GT(middle.y * c.side_dy, 10);
      EXPECT_NEAR(mirror.y, -middle.y, 1);
    }
  }
}

TEST(WCurve, CutOffBandIsComparedInFloatingPointAndKeepsItsLimits) {
  FitState state;
  state.cut_off_top = 10;
  state.cut_off_bottom = 10;
  Model model = generate(state, 1, 500, 100, 0, 200, 200);
  ASSERT_TRUE(model.produced);
  // Depth y = Y − ty + h/2; the band keeps 10 <= y <= 90, both limits included.
  int min_depth = INT_MAX;
  int max_depth = INT_MIN;
  for (const cv::Point& p : model.right) {
    min_depth = std::min(min_depth, p.y - 200 + 50);
    max_depth = std::max(max_depth, p.y - 200 + 50);
  }
  EXPECT_EQ(min_depth, 10);
  EXPECT_EQ(max_depth, 90);
  EXPECT_LT(model.right.size(), 800u);
}

TEST(WCurve, NoPointInTheBandIsReportedAndLeavesAnUnscorableModel) {
  FitState state;
  state.cut_off_top = 49;
  state.cut_off_bottom = 49;
  state.pixel_width = 33;
  testing::internal::CaptureStderr();
  Model model = generate(state, 1, 250, 1, 0, 100, 100);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(model.produced);
  EXPECT_TRUE(model.left.empty());
  EXPECT_TRUE(model.right.empty());
  EXPECT_EQ(err, "\nYour parameters did not produce any w-curve points!\n");
  EXPECT_EQ(state.pixel_width, 33);
  state.target.outline_contour = {{1, 1}, {5, 1}, {5, 5}, {1, 5}};
  state.source_image = cv::Mat::zeros(10, 10, CV_8UC3);
  compute_outline_distance(state);
  EXPECT_EQ(deviation_energy(state, model.left, model.right, true),
            std::numeric_limits<double>::infinity());
}

TEST(WCurve, ASecondGenerationReplacesTheFirstHalves) {
  FitState state;
  std::vector<cv::Point> left{{1, 2}}, right{{3, 4}};
  ASSERT_TRUE(generate_w_curve(1, 250, 300, 0, 100, 100, state.cut_offs(), left, right, std::cerr)
                  .produced);
  ASSERT_TRUE(generate_w_curve(1, 250, 300, 0, 100, 100, state.cut_offs(), left, right, std::cerr)
                  .produced);
  EXPECT_EQ(left.size(), 800u);
  EXPECT_EQ(right.size(), 800u);
}

TEST(WCurve, ExtremeInputsAreDefined) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char* name;
    double lambda, a, h, rotation, tx, ty;
    bool produced;
    int pixel_width;  // -1: not checked
  } cases[] = {
      // Height 0: the offset a·e^(λt) grows past the 32-bit range; those samples are dropped and
      // the largest offset saturates.
      {"height 0", 6, 6 * 120000.0, 0, 0, 100, 100, true, INT_MAX},
      {"height 0, lambda 0", 0, 0, 0, 45, 100, 100, true, 0},
      {"translation far outside", 1, 250, 300, 0, 1e12, 100, false, -1},
      {"huge height", 1, 250, 1e12, 0, 100, 100, false, -1},
      {"not a number", nan, 250, 300, 0, 100, 100, false, -1},
      {"negative height", 1, 250, -2, 0, 100, 100, false, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FitState state;
    state.pixel_width = -5;
    testing::internal::CaptureStderr();
    Model model = generate(state, c.lambda, c.a, c.h, c.rotation, c.tx, c.ty);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(model.produced, c.produced);
    EXPECT_EQ(model.left.size(), model.right.size());
    if (c.pixel_width >= 0) {
      EXPECT_EQ(state.pixel_width, c.pixel_width);
    }
    if (!c.produced) {
      EXPECT_EQ(state.pixel_width, -5);
    }
  }
}

// The generation reads e^t from a table built once; it must give the points of the plain loop.
TEST(WCurve, MatchesThePlainSampleBySampleLoop) {
  std::mt19937 random(20260412);
  auto uniform = [&](double low, double high) {
    return low + (high - low) * (random() / 4294967296.0);
  };
  for (int k = 0; k < 200; ++k) {
    FitState fast;
    FitState literal;
    fast.cut_off_top = literal.cut_off_top = static_cast<int>(random() % 50);
    fast.cut_off_bottom = literal.cut_off_bottom = static_cast<int>(random() % 50);
    const double lambda = static_cast<int>(random() % 6001) / 1000.0;
    const double a = lambda * static_cast<int>(random() % 20000);
    const double h = static_cast<int>(random() % 3000) + 1;
    const double rotation = static_cast<int>(random() % 361);
    const double tx = uniform(-500, 3000), ty = uniform(-500, 3000);
    SCOPED_TRACE(testing::Message() << "case " << k);
    Model model;
    std::vector<cv::Point> left, right;
    testing::internal::CaptureStderr();
    const WCurveExtent extent = generate_w_curve(lambda, a, h, rotation, tx, ty, fast.cut_offs(),
                                                 model.left, model.right, std::cerr);
    fast.keep_extent(extent);
    model.produced = extent.produced;
    const bool produced =
        literal_generate_w_curve(literal, lambda, a, h, rotation, tx, ty, left, right);
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(model.produced, produced);
    EXPECT_EQ(model.left, left);
    EXPECT_EQ(model.right, right);
    EXPECT_EQ(fast.pixel_width, literal.pixel_width);
    EXPECT_EQ(fast.peak_abscissa, literal.peak_abscissa);
  }
}
