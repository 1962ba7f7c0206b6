// An optimiser evaluation allocates no image of the photograph's size: the distance map, the masks
// and the overlay are made once per set-up or outline, and a half is traced on a buffer of its
// own bounding box. Checked by counting every image buffer OpenCV allocates while evaluations run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <opencv2/core.hpp>

#include "fit/fit_W.h"
#include "tools/demo_photo.h"

namespace {

// Passes every image allocation on to OpenCV's own allocator and keeps the largest one in bytes.
class CountingAllocator : public cv::MatAllocator {
 public:
  mutable size_t largest_bytes = 0;
  mutable int allocations = 0;

  cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step,
                         cv::AccessFlag flags, cv::UMatUsageFlags usage) const override {
    if (!data) {
      size_t bytes = CV_ELEM_SIZE(type);
      for (int i = 0; i < dims; ++i) bytes *= static_cast<size_t>(sizes[i]);
      largest_bytes = std::max(largest_bytes, bytes);
      ++allocations;
    }
    return cv::Mat::getStdAllocator()->allocate(dims, sizes, type, data, step, flags, usage);
  }
  bool allocate(cv::UMatData* data, cv::AccessFlag flags, cv::UMatUsageFlags usage) const override {
    return cv::Mat::getStdAllocator()->allocate(data, flags, usage);
  }
  void deallocate(cv::UMatData* data) const override {
    cv::Mat::getStdAllocator()->deallocate(data);
  }
};

// Installs the counting allocator for its lifetime.
struct CountingScope {
  CountingAllocator allocator;
  cv::MatAllocator* previous = cv::Mat::getDefaultAllocator();
  CountingScope() { cv::Mat::setDefaultAllocator(&allocator); }
  ~CountingScope() { cv::Mat::setDefaultAllocator(previous); }
};

}  // namespace

TEST(EvaluationBuffers, NoImageOfThePhotographsSizeIsAllocatedPerEvaluation) {
  const cv::Size size(400, 300);
  FitState state;
  state.source_image = render_demo_photo(size, {1.2, 900, 180, 10, 210, 150});
  state.threshold = 131;
  rebuild_outline(state);
  ASSERT_FALSE(state.outline_contour.empty());

  // Models around the object, each half well inside half the image; the first evaluation may
  // grow the trace buffer, so it runs before counting.
  ParameterVector p = {1200, 900, 180, 10, 210, 150};
  ASSERT_TRUE(std::isfinite(evaluate_parameters(state, p)));
  CountingScope counting;
  int finite = 0;
  for (int i = 0; i < 40; ++i) {
    p[0] = 1100 + 5 * i;
    p[3] = (i * 7) % 20;
    p[4] = 200 + i % 9;
    finite += std::isfinite(evaluate_parameters(state, p));
  }
  EXPECT_EQ(finite, 40);
  // The smallest full-size work image is the one-channel mask of W x H bytes.
  EXPECT_LT(counting.allocator.largest_bytes, static_cast<size_t>(size.area()))
      << counting.allocator.allocations << " image allocations";
}
