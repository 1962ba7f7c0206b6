// The fast energy (a distance map made once per outline, each half traced on its bounding box)
// against the literal procedure (full-size mask, contour search over the whole image, distance
// transform on every call), on fixed-seed random models and polylines over several outlines.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iostream>
#include <opencv2/imgproc.hpp>
#include <random>

#include "fit/fit_W.h"
#include "reference/literal_energy.h"

using namespace meravel;

namespace {

struct OutlineCase {
  const char* name;
  cv::Mat source;
  int threshold;
};

cv::Mat w_object(cv::Size size) {
  cv::Mat image = cv::Mat::zeros(size, CV_8UC3);
  std::vector<cv::Point> left, right;
  generate_w_curve(1.4, 1.4 * 600, 180, 10, 160, 120, {}, left, right, std::cerr);
  std::vector<cv::Point> loop(left.begin(), left.end());
  loop.insert(loop.end(), right.rbegin(), right.rend());
  cv::fillPoly(image, std::vector<std::vector<cv::Point>>{loop}, cv::Scalar(240, 230, 220));
  return image;
}

std::vector<OutlineCase> outlines() {
  std::vector<OutlineCase> result;
  result.push_back({"W-shaped object", w_object({320, 240}), 128});

  cv::Mat border = cv::Mat::zeros(180, 260, CV_8UC3);
  cv::ellipse(border, cv::Point(20, 90), cv::Size(90, 60), 20, 0, 360, cv::Scalar::all(255),
              cv::FILLED);
  cv::circle(border, cv::Point(200, 40), 12, cv::Scalar::all(255), cv::FILLED);
  cv::rectangle(border, cv::Rect(230, 120, 30, 60), cv::Scalar::all(255), cv::FILLED);
  result.push_back({"object over the image border", border, 100});

  result.push_back({"white image", cv::Mat(150, 200, CV_8UC3, cv::Scalar::all(100)), 50});

  cv::Mat ring = cv::Mat::zeros(200, 200, CV_8UC3);
  cv::circle(ring, cv::Point(100, 100), 70, cv::Scalar::all(255), cv::FILLED);
  cv::circle(ring, cv::Point(100, 100), 40, cv::Scalar::all(0), cv::FILLED);
  cv::circle(ring, cv::Point(100, 100), 10, cv::Scalar::all(255), cv::FILLED);
  result.push_back({"ring with an island", ring, 100});
  return result;
}

struct Random {
  std::mt19937 engine;
  explicit Random(unsigned seed) : engine(seed) {}
  int integer(int low, int high) {  // inclusive
    return low + static_cast<int>(engine() % static_cast<unsigned>(high - low + 1));
  }
};

struct Tally {
  int finite = 0, untraceable = 0, walk_failed = 0, no_points = 0;
};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// One comparison; the fast state is reused across cases, as an optimiser run reuses it.
void compare(FitState& fast, FitState& literal, const std::vector<cv::Point>& left,
             const std::vector<cv::Point>& right, Tally& tally) {
  bool drawn = false;
  const double fast_energy = deviation_energy(fast, left, right, true, &drawn);
  LiteralProfile profile;
  const double literal_energy = literal_deviation_energy(literal, left, right, &profile);
  EXPECT_TRUE(same_bits(fast_energy, literal_energy)) << fast_energy << " vs " << literal_energy;
  EXPECT_EQ(drawn, profile.views_drawn);
  // The halves are traced only when both exist and the outline does, the right one only once the
  // left one was.
  if (!left.empty() && !right.empty() && !fast.target.outline_contour.empty()) {
    EXPECT_EQ(fast.work.left_curve_storage, profile.left_chain);
    if (!profile.left_chain.empty()) {
      EXPECT_EQ(fast.work.right_curve_storage, profile.right_chain);
    }
  }
  if (profile.views_drawn) {
    EXPECT_EQ(fast.profile.left_samples, profile.left_samples);
    EXPECT_EQ(fast.profile.right_samples, profile.right_samples);
    EXPECT_EQ(fast.profile.deviation_max, profile.max);
    EXPECT_EQ(cv::norm(fast.deviation_image, literal.deviation_image, cv::NORM_INF), 0);
  }
  if (left.empty()) {
    ++tally.no_points;
  } else if (!profile.views_drawn) {
    ++tally.untraceable;
  } else if (std::isinf(literal_energy)) {
    ++tally.walk_failed;
  } else {
    ++tally.finite;
  }
}

void prepare(FitState& state, const OutlineCase& outline, bool show_distance) {
  state.source_image = outline.source;
  state.threshold = outline.threshold;
  rebuild_outline(state);
  state.deviation_width = 600;
  state.deviation_height = 100;
  state.show_distance = show_distance;
}

}  // namespace

TEST(EnergyEquality, RandomModelsScoreBitForBitAsTheLiteralProcedure) {
  Random random(1234567);
  Tally tally;
  FitState fast;
  for (const OutlineCase& outline : outlines()) {
    SCOPED_TRACE(outline.name);
    FitState literal;
    prepare(fast, outline, true);
    prepare(literal, outline, false);
    ASSERT_FALSE(fast.target.outline_contour.empty());
    compute_outline_distance(fast);
    const int W = outline.source.cols, H = outline.source.rows;
    for (int k = 0; k < 90; ++k) {
      const int kind = k % 6;
      int lambda_milli = random.integer(300, 3000);
      int width = random.integer(W / 4, 2 * W);
      int height = random.integer(H / 2, H);
      const int rotation = random.integer(0, 360);
      int tx = random.integer(W / 4, 3 * W / 4), ty = random.integer(H / 4, 3 * H / 4);
      switch (kind) {
        case 1:  // partly outside the image
          tx = random.integer(-W / 4, W / 8) + (random.integer(0, 1) ? W : 0);
          ty = random.integer(-H / 4, 5 * H / 4);
          break;
        case 2:  // wholly outside, or nearly so
          tx = random.integer(W + 50, 3 * W) * (random.integer(0, 1) ? 1 : -1);
          break;
        case 3:
          lambda_milli = 0;
          break;
        case 4:  // tiny heights
          height = random.integer(0, 3);
          break;
        case 5:  // huge heights and widths
          height = random.integer(2 * H, 10 * H);
          width = random.integer(2 * W, 20 * W);
          lambda_milli = random.integer(0, 6000);
          break;
        default:
          break;
      }
      fast.cut_off_top = random.integer(0, 1) ? random.integer(0, 49) : 0;
      fast.cut_off_bottom = random.integer(0, 1) ? random.integer(0, 49) : 0;
      SCOPED_TRACE(testing::Message()
                   << "case " << k << ": lambda*1000 " << lambda_milli << " width " << width
                   << " height " << height << " rotation " << rotation << " at " << tx << "," << ty
                   << " cut-offs " << fast.cut_off_top << "/" << fast.cut_off_bottom);
      std::vector<cv::Point> left, right;
      const double lambda = lambda_milli / 1000.0;
      testing::internal::CaptureStderr();
      generate_w_curve(lambda, lambda * width, height, rotation, tx, ty, fast.cut_offs(), left,
                       right, std::cerr);
      testing::internal::GetCapturedStderr();
      compare(fast, literal, left, right, tally);
      if (HasFailure()) return;
    }
  }
  // The cases reach every outcome of the energy.
  EXPECT_GE(tally.finite, 100);
  EXPECT_GE(tally.untraceable, 20);
  EXPECT_GE(tally.walk_failed, 10);
}

TEST(EnergyEquality, RandomPolylinesScoreBitForBitAsTheLiteralProcedure) {
  // Arbitrary open polylines: self-crossing, leaving and re-entering the image, with coinciding
  // points and holes between their strokes.
  Random random(7654321);
  Tally tally;
  FitState fast;
  for (const OutlineCase& outline : outlines()) {
    SCOPED_TRACE(outline.name);
    FitState literal;
    prepare(fast, outline, false);
    prepare(literal, outline, false);
    const int W = outline.source.cols, H = outline.source.rows;
    for (int k = 0; k < 40; ++k) {
      SCOPED_TRACE(testing::Message() << "polyline " << k);
      std::vector<cv::Point> halves[2];
      for (std::vector<cv::Point>& half : halves) {
        const int count = random.integer(1, 12);
        const int spread = random.integer(2, 4) * 10;
        cv::Point p(random.integer(-20, W + 20), random.integer(-20, H + 20));
        for (int i = 0; i < count; ++i) {
          half.push_back(p);
          p += cv::Point(random.integer(-spread, spread), random.integer(-spread, spread));
        }
      }
      compare(fast, literal, halves[0], halves[1], tally);
      if (HasFailure()) return;
    }
  }
  EXPECT_GE(tally.finite, 5);
  EXPECT_GE(tally.walk_failed, 20);
}
