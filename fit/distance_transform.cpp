#include "fit/distance_transform.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

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
// Compiled twice, for processors with AVX2 (eight lanes and a native integer minimum) and for any
// other x86-64; the loader picks one when the program starts. Integer minima and sums give the
// same bits either way.
__attribute__((target_clones("avx2", "default"))) void chamfer_distance_5x5(const cv::Mat& binary,
                                                                            cv::Mat& distance) {
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
