// The fast chamfer distance must equal OpenCV's distanceTransform (DIST_L2, 5x5 mask) bit for bit:
// the energy reads it, and the energies are compared for identity elsewhere.
#include "fit/distance_transform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

using namespace meravel;

namespace {

cv::Mat opencv_distance(const cv::Mat& binary) {
  cv::Mat distance;
  cv::distanceTransform(binary, distance, cv::DIST_L2, cv::DIST_MASK_5);
  return distance;
}

// Bit for bit, so that -0.0 against 0.0 or a last-bit rounding difference shows too.
::testing::AssertionResult same_bits(const cv::Mat& expected, const cv::Mat& actual) {
  if (expected.size() != actual.size() || expected.type() != actual.type())
    return ::testing::AssertionFailure() << "size or type differs";
  for (int y = 0; y < expected.rows; ++y)
    for (int x = 0; x < expected.cols; ++x)
      if (std::memcmp(&expected.at<float>(y, x), &actual.at<float>(y, x), sizeof(float)) != 0)
        return ::testing::AssertionFailure()
               << "at (" << x << ", " << y << "): " << expected.at<float>(y, x) << " against "
               << actual.at<float>(y, x);
  return ::testing::AssertionSuccess();
}

cv::Mat random_binary(cv::Size size, double zero_fraction, std::mt19937& random) {
  cv::Mat binary(size, CV_8UC1);
  std::bernoulli_distribution zero(zero_fraction);
  std::uniform_int_distribution<int> value(1, 255);
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x) binary.at<uchar>(y, x) = zero(random) ? 0 : value(random);
  return binary;
}

TEST(ChamferDistance, EqualsOpenCVOnRandomImages) {
  std::mt19937 random(20121);
  const cv::Size sizes[] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {3, 5}, {5, 3}, {37, 23}, {200, 150}};
  for (cv::Size size : sizes)
    for (double zero_fraction : {0.0, 0.002, 0.05, 0.5, 1.0}) {
      SCOPED_TRACE(testing::Message() << size << ", zeros " << zero_fraction);
      const cv::Mat binary = random_binary(size, zero_fraction, random);
      cv::Mat distance;
      chamfer_distance_5x5(binary, distance);
      EXPECT_TRUE(same_bits(opencv_distance(binary), distance));
    }
}

// An outline as the program draws it: one closed 8-connected curve, 0 on 255, far from most
// pixels; one zero pixel at the end of a long row, whose distances pass 2^24 in fixed point, where
// the conversion to float rounds; and a row longer than the largest distance OpenCV gives.
TEST(ChamferDistance, EqualsOpenCVOnOutlinesAndLongDistances) {
  cv::Mat outline(700, 1000, CV_8UC1, cv::Scalar(255));
  cv::ellipse(outline, {520, 330}, {300, 180}, 17, 0, 360, cv::Scalar(0), 1, cv::LINE_8);
  cv::Mat long_row(3, 4000, CV_8UC1, cv::Scalar(255));
  long_row.at<uchar>(1, 3999) = 0;
  cv::Mat long_column(3000, 2, CV_8UC1, cv::Scalar(1));
  long_column.at<uchar>(0, 0) = 0;
  cv::Mat longer_than_far(2, 9000, CV_8UC1, cv::Scalar(255));
  longer_than_far.at<uchar>(0, 8999) = 0;
  for (const cv::Mat& binary : {outline, long_row, long_column, longer_than_far}) {
    SCOPED_TRACE(binary.size());
    cv::Mat distance;
    chamfer_distance_5x5(binary, distance);
    EXPECT_TRUE(same_bits(opencv_distance(binary), distance));
  }
}

// A map of the right size and type is written in place, whatever it held; a view into a larger
// image keeps its place.
TEST(ChamferDistance, WritesIntoAGivenMap) {
  std::mt19937 random(7);
  const cv::Mat binary = random_binary({31, 17}, 0.01, random);
  cv::Mat parent(40, 50, CV_32FC1, cv::Scalar(-3.5f));
  cv::Mat view = parent(cv::Rect(5, 6, 31, 17));
  const float* data = view.ptr<float>();
  chamfer_distance_5x5(binary, view);
  EXPECT_EQ(view.ptr<float>(), data);
  EXPECT_TRUE(same_bits(opencv_distance(binary), view));
  EXPECT_EQ(parent.at<float>(0, 0), -3.5f);
  EXPECT_EQ(parent.at<float>(23, 36), -3.5f);
}

// The zero pixels of `binary`, in row order.
std::vector<cv::Point> zeros_of(const cv::Mat& binary) {
  std::vector<cv::Point> zeros;
  for (int y = 0; y < binary.rows; ++y)
    for (int x = 0; x < binary.cols; ++x)
      if (binary.at<uchar>(y, x) == 0) zeros.emplace_back(x, y);
  return zeros;
}

// Every pixel once, row by row, each row the other way round: a chain of neighbours.
std::vector<cv::Point> serpentine(cv::Size size) {
  std::vector<cv::Point> points;
  for (int y = 0; y < size.height; ++y)
    for (int i = 0; i < size.width; ++i) points.emplace_back(y % 2 ? size.width - 1 - i : i, y);
  return points;
}

::testing::AssertionResult map_values_at(const cv::Mat& map, const std::vector<cv::Point>& points,
                                         const std::vector<float>& values) {
  if (values.size() != points.size()) return ::testing::AssertionFailure() << "count differs";
  for (std::size_t i = 0; i < points.size(); ++i) {
    const float expected = map.at<float>(points[i]);
    if (std::memcmp(&expected, &values[i], sizeof(float)) != 0)
      return ::testing::AssertionFailure()
             << "at " << points[i] << ": " << expected << " against " << values[i];
  }
  return ::testing::AssertionSuccess();
}

}  // namespace

// The distances at chosen pixels, computed from the zero pixels alone, are the map's bit for bit:
// along a chain of neighbours, which reuses its candidates, and at pixels in random order, which
// choose them anew at every jump.
TEST(ChamferDistancesAt, EqualTheMapWhereverTheyAreAsked) {
  std::mt19937 random(5150);
  cv::Mat outline(300, 420, CV_8UC1, cv::Scalar(255));
  cv::ellipse(outline, {230, 140}, {150, 90}, 23, 0, 360, cv::Scalar(0), 1, cv::LINE_8);
  cv::Mat corner(120, 160, CV_8UC1, cv::Scalar(255));
  corner.at<uchar>(119, 159) = 0;  // every path runs across the whole image
  cv::Mat long_row(2, 8000, CV_8UC1, cv::Scalar(255));
  long_row.at<uchar>(1, 7999) = 0;
  // From the top left corner the one zero lies 8247 px away: past the largest distance.
  cv::Mat wide(500, 8150, CV_8UC1, cv::Scalar(255));
  wide.at<uchar>(499, 8149) = 0;
  const struct {
    const char* name;
    cv::Mat binary;
  } cases[] = {
      {"an outline", outline},
      {"one zero in a corner", corner},
      {"a long row", long_row},
      {"past the largest distance", wide},
      {"scattered zeros", random_binary({90, 70}, 0.01, random)},
      {"dense zeros", random_binary({40, 30}, 0.4, random)},
      {"no zero at all", cv::Mat(20, 30, CV_8UC1, cv::Scalar(255))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    cv::Mat map;
    chamfer_distance_5x5(c.binary, map);
    const std::vector<cv::Point> zeros = zeros_of(c.binary);
    std::vector<cv::Point> chain = serpentine(c.binary.size());
    if (chain.size() > 100000) chain.resize(100000);
    std::vector<float> values;
    ASSERT_TRUE(chamfer_distances_at(zeros, chain, values, 1LL << 62));
    EXPECT_TRUE(map_values_at(map, chain, values));

    std::shuffle(chain.begin(), chain.end(), random);
    chain.resize(std::min<std::size_t>(chain.size(), 2000));
    ASSERT_TRUE(chamfer_distances_at(zeros, chain, values, 1LL << 62));
    EXPECT_TRUE(map_values_at(map, chain, values));
  }
}

// The work is bounded: past the budget the answer is "not computed", never a guess.
TEST(ChamferDistancesAt, GiveUpPastTheirBudget) {
  cv::Mat ring(400, 400, CV_8UC1, cv::Scalar(255));
  cv::circle(ring, {200, 200}, 180, cv::Scalar(0), 1, cv::LINE_8);
  const std::vector<cv::Point> zeros = zeros_of(ring);
  // Near the centre every zero is nearly as far as the nearest: each is a candidate.
  std::vector<cv::Point> chain;
  for (int x = 190; x <= 210; ++x) chain.emplace_back(x, 200);
  std::vector<float> values;
  EXPECT_FALSE(chamfer_distances_at(zeros, chain, values, 10 * zeros.size()));
  ASSERT_TRUE(chamfer_distances_at(zeros, chain, values, 1000 * zeros.size()));
  cv::Mat map;
  chamfer_distance_5x5(ring, map);
  EXPECT_TRUE(map_values_at(map, chain, values));
  // Offsets of 8192 px and more are left to the map, whatever the budget.
  EXPECT_FALSE(chamfer_distances_at({{9000, 0}}, {{10, 1}}, values, 1LL << 62));
  EXPECT_TRUE(chamfer_distances_at({{8200, 0}}, {{10, 1}}, values, 1LL << 62));
}
