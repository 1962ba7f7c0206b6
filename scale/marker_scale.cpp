#include <opencv2/aruco.hpp>
#include <opencv2/imgproc.hpp>

#include "scale/scale_reading.h"

namespace meravel {

// Markers are found on a reduced copy of the photograph (the detector's thresholds cost time in
// proportion to the pixels, and a marker is large), then the four corners are refined on the whole
// photograph. The scale is the square root of the marker's area over its side's area in square
// millimetres, the geometric mean of its two directions' scales.

namespace {

constexpr int kSearchSidePx = 1000;

const std::vector<cv::aruco::PREDEFINED_DICTIONARY_NAME>& dictionaries() {
  static const std::vector<cv::aruco::PREDEFINED_DICTIONARY_NAME> names = {
      cv::aruco::DICT_4X4_50, cv::aruco::DICT_5X5_50, cv::aruco::DICT_6X6_50,
      cv::aruco::DICT_ARUCO_ORIGINAL};
  return names;
}

double side(const cv::Point2f& a, const cv::Point2f& b) { return cv::norm(a - b); }

// The largest marker's corners on the photograph, empty when none is seen.
std::vector<cv::Point2f> largest_marker(const cv::Mat& grey) {
  int factor = 1;
  while (std::max(grey.cols, grey.rows) > kSearchSidePx * factor) factor *= 2;
  cv::Mat small = grey;
  if (factor > 1) {
    cv::resize(grey, small, cv::Size(grey.cols / factor, grey.rows / factor), 0, 0, cv::INTER_AREA);
  }
  const cv::Ptr<cv::aruco::DetectorParameters> parameters = cv::aruco::DetectorParameters::create();
  std::vector<cv::Point2f> best;
  double best_area = 0;
  for (const auto name : dictionaries()) {
    std::vector<std::vector<cv::Point2f>> corners;
    std::vector<int> ids;
    cv::aruco::detectMarkers(small, cv::aruco::getPredefinedDictionary(name), corners, ids,
                             parameters);
    for (const std::vector<cv::Point2f>& marker : corners) {
      const double area = std::abs(cv::contourArea(marker));
      if (area <= best_area) continue;
      best_area = area;
      best = marker;
    }
    if (!best.empty()) break;
  }
  for (cv::Point2f& p : best) {
    p = (p + cv::Point2f(0.5f, 0.5f)) * static_cast<float>(factor) - cv::Point2f(0.5f, 0.5f);
  }
  if (!best.empty()) {
    // The window reaches about a sixth of the way along a side, and a few pixels at least.
    const double shortest = std::min({side(best[0], best[1]), side(best[1], best[2]),
                                      side(best[2], best[3]), side(best[3], best[0])});
    const int half = std::clamp(static_cast<int>(shortest / 12), 2, 25);
    cv::cornerSubPix(grey, best, cv::Size(half, half), cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 40, 0.005));
  }
  return best;
}

}  // namespace

bool marker_seen(const cv::Mat& grey) { return !largest_marker(grey).empty(); }

ScaleReading find_marker_scale(const cv::Mat& grey, double side_mm) {
  CV_Assert(grey.type() == CV_8UC1);
  ScaleReading reading;
  if (!(side_mm > 0)) {
    reading.note = "no marker size";
    return reading;
  }
  const std::vector<cv::Point2f> corners = largest_marker(grey);
  if (corners.size() != 4) {
    reading.note = "no marker";
    return reading;
  }
  const double sides[4] = {side(corners[0], corners[1]), side(corners[1], corners[2]),
                           side(corners[2], corners[3]), side(corners[3], corners[0])};
  const double area = std::abs(cv::contourArea(corners));
  const double first = (sides[0] + sides[2]) / 2, second = (sides[1] + sides[3]) / 2;
  reading.method = ScaleMethod::marker;
  reading.px_per_mm = std::sqrt(area) / side_mm;
  reading.steep_angle = std::abs(first - second) > kMarkerSteepAspect * std::max(first, second);
  // A corner is placed to about this fraction of a pixel; the four sides' disagreement adds to it
  // where it is larger (a marker not quite flat, a corner pulled by blur).
  constexpr double kCornerPrecisionPx = 0.1;
  const double mean = (sides[0] + sides[1] + sides[2] + sides[3]) / 4;
  double spread = 0;
  for (double s : sides) spread += (s - mean) * (s - mean);
  spread = std::sqrt(spread / 3);
  const double side_se = std::max(kCornerPrecisionPx, spread / 2);
  reading.px_per_mm_se = side_se / side_mm;
  reading.corners = corners;
  reading.note = "marker of " + std::to_string(static_cast<int>(std::lround(mean))) + " px";
  return reading;
}

}  // namespace meravel
