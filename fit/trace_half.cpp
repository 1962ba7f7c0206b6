// Tracing a rasterised half on its bounding box instead of the whole image.
//
// Every segment of a polyline lies inside the bounding box of its points, so the box clipped to
// the image holds every pixel the drawing can set. Pixels outside it stay 0 and a raster-order
// contour search meets the half's pixels in the same order on the box as on the whole image.
// Line clipping gives the same pixels too: a segment leaves the box only across an edge that is
// also an image edge, and the clipping arithmetic works on differences, which a shift of origin
// keeps.
#include <algorithm>
#include <climits>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "fit/fit_internal.h"

namespace meravel {

cv::Rect clipped_bounding_box(const std::vector<cv::Point>& points, cv::Size image_size) {
  if (points.empty()) return cv::Rect();
  int min_x = points[0].x;
  int min_y = points[0].y;
  int max_x = points[0].x;
  int max_y = points[0].y;
  for (const cv::Point& p : points) {
    min_x = std::min(min_x, p.x);
    min_y = std::min(min_y, p.y);
    max_x = std::max(max_x, p.x);
    max_y = std::max(max_y, p.y);
  }
  const int x0 = std::max(min_x, 0);
  const int y0 = std::max(min_y, 0);
  const int x1 = std::min(max_x, image_size.width - 1);
  const int y1 = std::min(max_y, image_size.height - 1);
  if (x0 > x1 || y0 > y1) return cv::Rect();
  return cv::Rect(x0, y0, x1 - x0 + 1, y1 - y0 + 1);
}

bool trace_half(EvaluationBuffers& work, const std::vector<cv::Point>& half, cv::Size image_size,
                std::vector<cv::Point>& chain) {
  // `half` may be `chain` itself: it is read completely before `chain` is written.
  if (half.empty() || image_size.width <= 0 || image_size.height <= 0) {
    chain.clear();
    return false;
  }
  const cv::Rect box = clipped_bounding_box(half, image_size);
  if (box.empty()) {
    chain.clear();
    return false;
  }
  const int x0 = box.x;
  const int y0 = box.y;
  const int x1 = box.x + box.width - 1;
  const int y1 = box.y + box.height - 1;
  const int box_width = box.width;
  const int box_height = box.height;

  if (work.trace_buffer.rows < box_height || work.trace_buffer.cols < box_width) {
    work.trace_buffer.create(std::max(work.trace_buffer.rows, box_height),
                             std::max(work.trace_buffer.cols, box_width), CV_8UC1);
  }
  cv::Mat mask = work.trace_buffer(cv::Rect(0, 0, box_width, box_height));
  mask.setTo(0);

  // A box origin above 0 is the smallest coordinate, so the shift cannot overflow.
  std::vector<cv::Point>& shifted = work.trace_points;
  shifted.resize(half.size());
  for (size_t i = 0; i < half.size(); ++i) shifted[i] = cv::Point(half[i].x - x0, half[i].y - y0);
  const cv::Point* points = shifted.data();
  const int count = static_cast<int>(shifted.size());
  cv::polylines(mask, &points, &count, 1, false, cv::Scalar(255), 1, cv::LINE_8, 0);

  // The image's outer frame is background; box edges inside the image are not.
  if (y0 == 0) mask.row(0).setTo(0);
  if (y1 == image_size.height - 1) mask.row(box_height - 1).setTo(0);
  if (x0 == 0) mask.col(0).setTo(0);
  if (x1 == image_size.width - 1) mask.col(box_width - 1).setTo(0);

  cv::findContours(mask, work.trace_contours, cv::RETR_LIST, cv::CHAIN_APPROX_NONE,
                   cv::Point(x0, y0));
  const int chosen = largest_contour_index(work.trace_contours);
  if (chosen < 0) {
    chain.clear();
    return false;
  }
  chain.swap(work.trace_contours[chosen]);
  return true;
}

}  // namespace meravel
