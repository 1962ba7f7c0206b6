#include "fit/segmented_fit.h"

#include <algorithm>
#include <climits>

namespace meravel {

void take_segmented_outline(FitState& state, const Segmentation& segmentation) {
  if (!segmentation.found()) {
    state.target.outline_contour.clear();
    return;
  }
  state.target.outline_contour = segmentation.candidates[segmentation.chosen].outline;
  state.threshold = segmentation.threshold;
  state.polarity = segmentation.polarity;
  // The box as the threshold's outline gets it: extreme coordinates' differences, centre in
  // integers.
  int min_x = INT_MAX, min_y = INT_MAX, max_x = INT_MIN, max_y = INT_MIN;
  for (const cv::Point& p : state.target.outline_contour) {
    min_x = std::min(min_x, p.x);
    min_y = std::min(min_y, p.y);
    max_x = std::max(max_x, p.x);
    max_y = std::max(max_y, p.y);
  }
  state.outline_width = max_x - min_x;
  state.outline_height = max_y - min_y;
  state.outline_center_x = min_x + state.outline_width / 2;
  state.outline_center_y = min_y + state.outline_height / 2;
}

}  // namespace meravel
