// Binarisation, the largest outline with its box, and the outline's distance map.
#include <climits>
#include <opencv2/imgproc.hpp>

#include "fit/distance_transform.h"
#include "fit/fit_internal.h"

void clear_outer_frame(cv::Mat& image) {
  if (image.empty()) return;
  image.row(0).setTo(0);
  image.row(image.rows - 1).setTo(0);
  image.col(0).setTo(0);
  image.col(image.cols - 1).setTo(0);
}

int largest_contour_index(const std::vector<std::vector<cv::Point>>& contours) {
  int chosen = -1;
  for (size_t i = 0; i < contours.size(); ++i) {
    // Strictly more points: the first of equal contours wins.
    if (chosen < 0 || contours[i].size() > contours[chosen].size()) chosen = static_cast<int>(i);
  }
  return chosen;
}

namespace {

void to_grey(const cv::Mat& source, cv::Mat& grey) {
  switch (source.channels()) {
    case 1:
      source.copyTo(grey);
      break;
    case 4:
      cv::cvtColor(source, grey, cv::COLOR_BGRA2GRAY);
      break;
    default:
      cv::cvtColor(source, grey, cv::COLOR_BGR2GRAY);
      break;
  }
}

}  // namespace

std::vector<cv::Point> find_outline(FitState& state, const cv::Mat& source) {
  state.outline_storage.clear();
  if (source.empty() || source.depth() != CV_8U) return {};
  cv::Mat binary;
  to_grey(source, binary);
  cv::threshold(binary, binary, state.threshold, 255, cv::THRESH_BINARY);
  if (state.show_binary) {
    cv::Size display = state.binary_display.size();
    if (state.binary_display.empty()) {
      bool fit_width = false;
      display = display_size(source.cols, source.rows, &fit_width);
    }
    cv::resize(binary, state.binary_display, display, 0, 0, cv::INTER_LINEAR);
  }

  // The outermost pixel frame counts as background, so a white image has one contour just
  // inside it. The view above shows the image before the frame is cleared.
  clear_outer_frame(binary);
  cv::findContours(binary, state.outline_storage, cv::RETR_LIST, cv::CHAIN_APPROX_NONE);
  const int chosen = largest_contour_index(state.outline_storage);
  if (chosen < 0) return {};
  const std::vector<cv::Point>& outline = state.outline_storage[chosen];

  int min_x = source.cols;
  int min_y = source.rows;
  int max_x = 0;
  int max_y = 0;
  for (const cv::Point& p : outline) {
    min_x = std::min(min_x, p.x);
    min_y = std::min(min_y, p.y);
    max_x = std::max(max_x, p.x);
    max_y = std::max(max_y, p.y);
  }
  state.outline_width = max_x - min_x;
  state.outline_height = max_y - min_y;
  state.outline_center_x = min_x + state.outline_width / 2;
  state.outline_center_y = min_y + state.outline_height / 2;
  return outline;
}

void compute_outline_distance(FitState& state) {
  if (state.outline_contour.empty() || state.source_image.empty()) return;
  const cv::Size size = state.source_image.size();
  state.mask_image.create(size, CV_8UC1);
  state.mask_image.setTo(0);
  const std::vector<std::vector<cv::Point>> outline{state.outline_contour};
  cv::drawContours(state.mask_image, outline, 0, cv::Scalar(255), 1, cv::LINE_8, cv::noArray(), 0);

  // Outline pixels on the two outermost rows and columns do not count.
  const int frame = 2;
  for (int i = 0; i < frame; ++i) {
    if (i < size.height) state.mask_image.row(i).setTo(0);
    if (size.height - 1 - i >= 0) state.mask_image.row(size.height - 1 - i).setTo(0);
    if (i < size.width) state.mask_image.col(i).setTo(0);
    if (size.width - 1 - i >= 0) state.mask_image.col(size.width - 1 - i).setTo(0);
  }
  // distanceTransform measures to the nearest zero pixel, so the outline becomes 0 on 255.
  cv::bitwise_not(state.mask_image, state.mask_image);
  chamfer_distance_5x5(state.mask_image, state.distance_map);
  // The energy reads its own map: whatever becomes of distance_image (a new set-up of the windows
  // clears it in place) cannot reach the energy.
  state.distance_map.copyTo(state.distance_image);
  state.distance_outline = state.outline_contour;
  state.distance_view.release();
}
