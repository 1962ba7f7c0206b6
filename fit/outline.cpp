// Binarisation, the largest outline with its box, and the outline's distance map.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <opencv2/imgproc.hpp>

#include "fit/distance_transform.h"
#include "fit/fit_internal.h"

namespace meravel {

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

void binarise_photograph(const cv::Mat& source, int threshold, cv::Mat& binary,
                         ObjectPolarity polarity) {
  to_grey(source, binary);
  if (polarity == ObjectPolarity::kDarkOnLight) cv::bitwise_not(binary, binary);
  cv::threshold(binary, binary, threshold, 255, cv::THRESH_BINARY);
}

Outline largest_outline(cv::Mat& binary, std::vector<std::vector<cv::Point>>& contours) {
  // The outermost pixel frame counts as background, so a white image has one contour just
  // inside it.
  clear_outer_frame(binary);
  cv::findContours(binary, contours, cv::RETR_LIST, cv::CHAIN_APPROX_NONE);
  const int chosen = largest_contour_index(contours);
  if (chosen < 0) return {};
  Outline outline;
  outline.contour = contours[chosen];

  int min_x = binary.cols;
  int min_y = binary.rows;
  int max_x = 0;
  int max_y = 0;
  for (const cv::Point& p : outline.contour) {
    min_x = std::min(min_x, p.x);
    min_y = std::min(min_y, p.y);
    max_x = std::max(max_x, p.x);
    max_y = std::max(max_y, p.y);
  }
  outline.box.width = max_x - min_x;
  outline.box.height = max_y - min_y;
  outline.box.center_x = min_x + outline.box.width / 2;
  outline.box.center_y = min_y + outline.box.height / 2;
  return outline;
}

Outline find_outline(const cv::Mat& source, int threshold,
                     std::vector<std::vector<cv::Point>>* all_contours, cv::Mat* binary_view,
                     ObjectPolarity polarity) {
  std::vector<std::vector<cv::Point>> own_contours;
  std::vector<std::vector<cv::Point>>& contours = all_contours ? *all_contours : own_contours;
  contours.clear();
  if (source.empty() || source.depth() != CV_8U) return {};
  cv::Mat binary;
  binarise_photograph(source, threshold, binary, polarity);
  if (binary_view) {
    cv::Size display = binary_view->size();
    if (binary_view->empty()) {
      bool fit_width = false;
      display = display_size(source.cols, source.rows, &fit_width);
    }
    // The view shows the image before the frame is cleared.
    cv::resize(binary, *binary_view, display, 0, 0, cv::INTER_LINEAR);
  }
  return largest_outline(binary, contours);
}

void rebuild_fit_target(FitTarget& target, std::vector<cv::Point> outline, cv::Size image_size,
                        cv::Mat& mask_work) {
  target.outline_contour = std::move(outline);
  target.image_size = image_size;
  target.cut.clear();
  if (target.outline_contour.empty() || image_size.empty()) {
    target.distance_image.release();
    return;
  }
  // The distance is measured to the nearest zero pixel: the outline is drawn as 0 on 255.
  mask_work.create(image_size, CV_8UC1);
  mask_work.setTo(255);
  const std::vector<std::vector<cv::Point>> contours{target.outline_contour};
  cv::drawContours(mask_work, contours, 0, cv::Scalar(0), 1, cv::LINE_8, cv::noArray(), 0);

  // Outline pixels on the two outermost rows and columns do not count.
  for (int i = 0; i < kLeftOutFrame; ++i) {
    if (i < image_size.height) mask_work.row(i).setTo(255);
    if (image_size.height - 1 - i >= 0) mask_work.row(image_size.height - 1 - i).setTo(255);
    if (i < image_size.width) mask_work.col(i).setTo(255);
    if (image_size.width - 1 - i >= 0) mask_work.col(image_size.width - 1 - i).setTo(255);
  }
  chamfer_distance_5x5(mask_work, target.distance_image);
}

std::vector<cv::Point> outline_map_zeros(const std::vector<cv::Point>& outline,
                                         cv::Size image_size) {
  std::vector<cv::Point> zeros;
  if (outline.empty() || image_size.empty()) return zeros;
  const cv::Rect counted(kLeftOutFrame, kLeftOutFrame, image_size.width - 2 * kLeftOutFrame,
                         image_size.height - 2 * kLeftOutFrame);
  // An outline of neighbouring pixels, as the contour search gives it, draws just its points.
  bool neighbours = true;
  for (std::size_t i = 0; i < outline.size() && neighbours; ++i) {
    const cv::Point step = outline[(i + 1) % outline.size()] - outline[i];
    neighbours = std::abs(step.x) <= 1 && std::abs(step.y) <= 1;
  }
  if (neighbours) {
    for (const cv::Point& p : outline) {
      if (counted.contains(p)) zeros.push_back(p);
    }
    std::sort(zeros.begin(), zeros.end(),
              [](cv::Point a, cv::Point b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
    zeros.erase(std::unique(zeros.begin(), zeros.end()), zeros.end());
    return zeros;
  }
  // Else the outline drawn as on the whole mask, in a mask of its own box: a line between two
  // points sets the same pixels wherever the two lie.
  const cv::Rect box = cv::boundingRect(outline);
  cv::Mat mask(box.size(), CV_8UC1, cv::Scalar(255));
  const std::vector<std::vector<cv::Point>> contours{outline};
  cv::drawContours(mask, contours, 0, cv::Scalar(0), 1, cv::LINE_8, cv::noArray(), 0, -box.tl());
  for (int y = 0; y < mask.rows; ++y) {
    const uchar* row = mask.ptr<uchar>(y);
    for (int x = 0; x < mask.cols; ++x) {
      const cv::Point p(box.x + x, box.y + y);
      if (row[x] == 0 && counted.contains(p)) zeros.push_back(p);
    }
  }
  return zeros;
}

FitTarget make_fit_target(std::vector<cv::Point> outline, cv::Size image_size) {
  FitTarget target;
  cv::Mat mask_work;
  rebuild_fit_target(target, std::move(outline), image_size, mask_work);
  return target;
}

}  // namespace meravel
