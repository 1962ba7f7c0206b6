#include <algorithm>

#include "fit/fit_W.h"

FitState& fit_state() {
  static FitState state;
  return state;
}

cv::Size display_size(int image_width, int image_height, bool* fit_width) {
  // Integer arithmetic throughout; an extreme aspect ratio must still leave a showable view.
  int display_width = 800;
  int display_height = 600;
  *fit_width = !(image_height > (6 * image_width) / 8);
  if (*fit_width) {
    display_height = (800 * image_height) / std::max(image_width, 1);
  } else {
    display_width = (600 * image_width) / std::max(image_height, 1);
  }
  return cv::Size(std::max(display_width, 1), std::max(display_height, 1));
}
