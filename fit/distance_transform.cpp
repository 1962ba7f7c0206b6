#include "fit/distance_transform.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace meravel {

namespace {

// OpenCV's chamfer steps for DIST_L2 with the 5x5 mask (horizontal or vertical, diagonal, knight's
// move), rounded to 16.16 fixed point the way OpenCV rounds them.
constexpr int kShift = 16;
const int kStraight = cvRound(1.0f * (1 << kShift));
const int kDiagonal = cvRound(1.4f * (1 << kShift));
const int kKnight = cvRound(2.1969f * (1 << kShift));
// OpenCV's distance of the pixels beyond the image, and the most any pixel gets (8192 px): far,
// yet far from overflowing when a step is added.
constexpr int kFar = INT_MAX >> 2;
constexpr int kBorder = 2;

}  // namespace

// Function multiversioning exists for x86-64 only: elsewhere (arm64) the loops are compiled once,
// for the target's own vector unit.
#if defined(__x86_64__)
#define MERAVEL_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define MERAVEL_AVX2_CLONES
#endif

namespace {

// A row of fixed-point distances with two far pixels on either side.
class PaddedRow {
 public:
  explicit PaddedRow(int width) : values_(static_cast<std::size_t>(width) + 2 * kBorder, kFar) {}
  int* data() { return values_.data() + kBorder; }

 private:
  std::vector<int> values_;
};

// The best distance over the steps from the two rows already done: `near` is the row next to the
// one being computed, `far` the one beyond it. They do not depend on the row being computed, so
// the loop vectorises. Inlined, so that each compiled form of the transform has its own.
inline __attribute__((always_inline)) void steps_from_rows(const int* near, const int* far,
                                                           int width, int* best) {
  for (int j = 0; j < width; ++j) {
    int v = far[j - 1] + kKnight;
    v = std::min(v, far[j + 1] + kKnight);
    v = std::min(v, near[j - 2] + kKnight);
    v = std::min(v, near[j - 1] + kDiagonal);
    v = std::min(v, near[j] + kStraight);
    v = std::min(v, near[j + 1] + kDiagonal);
    v = std::min(v, near[j + 2] + kKnight);
    best[j] = v;
  }
}

}  // namespace

// OpenCV takes the minimum over the same candidates in a fixed order; a minimum of integers does
// not depend on the order, so the candidates from the rows already done are taken first for the
// whole row, and only the step from the previous pixel of the row is left to a sequential scan.
// The mask is symmetric, so the backward pass reads the same neighbourhood, mirrored.
// On x86-64, compiled twice, for processors with AVX2 (eight lanes and a native integer minimum)
// and for any other; the loader picks one when the program starts. Integer minima and sums give the
// same bits either way.
MERAVEL_AVX2_CLONES void chamfer_distance_5x5(const cv::Mat& binary, cv::Mat& distance) {
  CV_Assert(binary.type() == CV_8UC1);
  const int width = binary.cols;
  const int height = binary.rows;
  distance.create(binary.size(), CV_32FC1);
  if (width == 0 || height == 0) return;
  const std::size_t row_bytes = static_cast<std::size_t>(width) * sizeof(int);
  std::vector<int> best(static_cast<std::size_t>(width));

  // Forward pass, top to bottom, from the left: the fixed-point distances are parked in the
  // output rows (copied as bytes) until the backward pass reads them.
  {
    PaddedRow a(width), b(width), c(width);
    int* two_up = a.data();
    int* one_up = b.data();
    int* row = c.data();
    for (int i = 0; i < height; ++i) {
      const uchar* source = binary.ptr<uchar>(i);
      steps_from_rows(one_up, two_up, width, best.data());
      int left = kFar;
      for (int j = 0; j < width; ++j) {
        left = source[j] ? std::min(std::min(best[j], left + kStraight), kFar) : 0;
        row[j] = left;
      }
      std::memcpy(distance.ptr(i), row, row_bytes);
      std::swap(two_up, one_up);
      std::swap(one_up, row);
    }
  }

  // Backward pass, bottom to top, from the right; then the conversion to float as OpenCV does it.
  const float scale = 1.f / (1 << kShift);
  PaddedRow a(width), b(width), c(width);
  int* two_down = a.data();
  int* one_down = b.data();
  int* row = c.data();
  for (int i = height - 1; i >= 0; --i) {
    float* output = distance.ptr<float>(i);
    std::memcpy(row, output, row_bytes);
    steps_from_rows(one_down, two_down, width, best.data());
    int right = kFar;
    for (int j = width - 1; j >= 0; --j) {
      right = std::min(std::min(row[j], best[j]), right + kStraight);
      row[j] = right;
    }
    for (int j = 0; j < width; ++j) output[j] = static_cast<float>(row[j]) * scale;
    std::swap(two_down, one_down);
    std::swap(one_down, row);
  }
}

namespace {

// The chamfer length of the shortest path of steps from a pixel to another (dx, dy) away, for
// |dx|, |dy| < kMaxOffset. The steps' unit ball is convex, so the shortest path takes the two
// steps on either side of the direction of (dx, dy): knight's moves and straight steps up to 2:1,
// knight's moves and diagonal steps beyond; its length is the larger of the two sums, the other
// being that of a path with a negative count of one step. Both passes of the transform together
// follow every such path (first the steps of the one pass, then those of the other), which never
// leaves the box between the two pixels.
inline int chamfer_length(int dx, int dy) {
  const int x = std::abs(dx);
  const int y = std::abs(dy);
  const int high = std::max(x, y);
  const int low = std::min(x, y);
  const int knights_and_straight = low * kKnight + (high - 2 * low) * kStraight;
  const int knights_and_diagonal = (high - low) * kKnight + (2 * low - high) * kDiagonal;
  return std::max(knights_and_straight, knights_and_diagonal);
}
// Offsets up to this keep every sum above within an int.
constexpr int kMaxOffset = 8192;

// How far a chain may move from where its candidates were chosen before they are chosen again,
// in fixed point: the candidates are the zeros within the nearest distance there plus twice this.
constexpr int kCandidateReach = 96 * (1 << kShift);

// The nearest of `count` zeros at (xs[k], ys[k]) to `q`, as a chamfer length. Compiled for AVX2
// too, whose integer multiply and minimum on eight lanes the loop is made of.
MERAVEL_AVX2_CLONES int nearest_of(const int* xs, const int* ys, std::size_t count, cv::Point q) {
  int nearest = INT_MAX;
  for (std::size_t k = 0; k < count; ++k) {
    nearest = std::min(nearest, chamfer_length(q.x - xs[k], q.y - ys[k]));
  }
  return nearest;
}

// The zeros of (xs, ys) within `limit` of `q` into (into_x, into_y), which are cleared first.
MERAVEL_AVX2_CLONES void zeros_within(const std::vector<int>& xs, const std::vector<int>& ys,
                                      cv::Point q, int limit, std::vector<int>& into_x,
                                      std::vector<int>& into_y) {
  into_x.clear();
  into_y.clear();
  std::vector<int> lengths(xs.size());
  for (std::size_t k = 0; k < xs.size(); ++k) lengths[k] = chamfer_length(q.x - xs[k], q.y - ys[k]);
  for (std::size_t k = 0; k < xs.size(); ++k) {
    if (lengths[k] <= limit) {
      into_x.push_back(xs[k]);
      into_y.push_back(ys[k]);
    }
  }
}

}  // namespace

bool chamfer_distances_at(const std::vector<cv::Point>& zeros, const std::vector<cv::Point>& points,
                          std::vector<float>& distances, long long budget) {
  const float scale = 1.f / (1 << kShift);
  distances.resize(points.size());
  if (zeros.empty()) {
    std::fill(distances.begin(), distances.end(), static_cast<float>(kFar) * scale);
    return true;
  }
  std::vector<int> zero_x(zeros.size());
  std::vector<int> zero_y(zeros.size());
  for (std::size_t k = 0; k < zeros.size(); ++k) {
    zero_x[k] = zeros[k].x;
    zero_y[k] = zeros[k].y;
  }
  const auto [low_x, high_x] = std::minmax_element(zero_x.begin(), zero_x.end());
  const auto [low_y, high_y] = std::minmax_element(zero_y.begin(), zero_y.end());
  for (const cv::Point& q : points) {
    if (std::max({*high_x - q.x, q.x - *low_x, *high_y - q.y, q.y - *low_y}) >= kMaxOffset) {
      return false;  // farther than any photograph this is meant for
    }
  }
  // The zeros that can be nearest to any pixel within kCandidateReach of `centre`: if the nearest
  // distance at the centre is d and a pixel lies m from it, the pixel's nearest zero lies at most
  // d + m from the pixel and so d + 2m from the centre.
  std::vector<int> candidate_x;
  std::vector<int> candidate_y;
  cv::Point centre;
  bool chosen = false;
  long long work = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const cv::Point q = points[i];
    if (!chosen || chamfer_length(q.x - centre.x, q.y - centre.y) > kCandidateReach) {
      const long long limit =
          static_cast<long long>(nearest_of(zero_x.data(), zero_y.data(), zeros.size(), q)) +
          2LL * kCandidateReach;
      zeros_within(zero_x, zero_y, q, static_cast<int>(std::min<long long>(limit, INT_MAX)),
                   candidate_x, candidate_y);
      centre = q;
      chosen = true;
      work += 2 * static_cast<long long>(zeros.size());
    }
    const int nearest = nearest_of(candidate_x.data(), candidate_y.data(), candidate_x.size(), q);
    work += static_cast<long long>(candidate_x.size());
    if (work > budget) return false;
    distances[i] = static_cast<float>(std::min(nearest, kFar)) * scale;
  }
  return true;
}

}  // namespace meravel
