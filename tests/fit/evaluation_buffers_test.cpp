// An optimiser evaluation allocates no image of the photograph's size: the distance map, the masks
// and the overlay are made once per set-up or outline, and a half is traced on a buffer of its
// own bounding box. Checked by counting every image buffer OpenCV allocates while evaluations run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <opencv2/core.hpp>

#include "fit/fit_W.h"
#include "test_support.h"
#include "tools/demo_photo.h"

using namespace meravel;

TEST(EvaluationBuffers, NoImageOfThePhotographsSizeIsAllocatedPerEvaluation) {
  const cv::Size size(400, 300);
  FitState state;
  state.source_image = render_demo_photo(size, {1.2, 900, 180, 10, 210, 150});
  state.threshold = 131;
  rebuild_outline(state);
  ASSERT_FALSE(state.target.outline_contour.empty());

  // Models around the object, each half well inside half the image; the first evaluation may
  // grow the trace buffer, so it runs before counting.
  ParameterVector p = {1200, 900, 180, 10, 210, 150};
  ASSERT_TRUE(std::isfinite(evaluate_parameters(state, p)));
  ImageAllocationCounter counting;
  int finite = 0;
  for (int i = 0; i < 40; ++i) {
    p[0] = 1100 + 5 * i;
    p[3] = (i * 7) % 20;
    p[4] = 200 + i % 9;
    finite += std::isfinite(evaluate_parameters(state, p));
  }
  EXPECT_EQ(finite, 40);
  // The smallest full-size work image is the one-channel mask of W x H bytes.
  EXPECT_LT(counting.largest_bytes(), static_cast<size_t>(size.area()))
      << counting.allocations() << " image allocations";
}
