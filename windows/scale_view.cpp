#include "windows/scale_view.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace meravel {

namespace {

// Sub-pixel positions for the drawing calls: 1/16 of a view pixel.
constexpr int kShift = 4;
constexpr double kUnit = 1 << kShift;

bool is_disc(const SessionScale& scale) {
  return scale.method == "disc" && scale.ellipse.size.width > 0 && scale.ellipse.size.height > 0;
}

// The points that bound what is drawn, in photograph pixels.
std::vector<cv::Point2f> extent_of(const SessionScale& scale) {
  std::vector<cv::Point2f> points = scale.marks;
  if (is_disc(scale)) {
    cv::Point2f corners[4];
    scale.ellipse.points(corners);
    points.insert(points.end(), corners, corners + 4);
  }
  return points;
}

}  // namespace

cv::Mat found_scale_view(const cv::Mat& photograph, const SessionScale& scale, int max_width) {
  const std::vector<cv::Point2f> extent = extent_of(scale);
  if (extent.empty() || photograph.empty()) return cv::Mat();
  const cv::Rect found = cv::boundingRect(extent);
  const int margin = std::max(20, std::max(found.width, found.height) / 10);
  const cv::Rect around = cv::Rect(found.x - margin, found.y - margin, found.width + 2 * margin,
                                   found.height + 2 * margin) &
                          cv::Rect(cv::Point(0, 0), photograph.size());
  if (around.empty()) return cv::Mat();
  const double shrink = std::min(1.0, static_cast<double>(max_width) / around.width);
  cv::Mat view;
  cv::resize(photograph(around), view, cv::Size(), shrink, shrink, cv::INTER_AREA);

  const auto at = [&](cv::Point2d p) {
    return cv::Point(cvRound((p.x - around.x) * shrink * kUnit),
                     cvRound((p.y - around.y) * shrink * kUnit));
  };
  const cv::Scalar green(0, 220, 0);
  if (scale.method == "ruler" && !scale.marks.empty()) {
    const cv::Point2d along(scale.ruler_direction);
    const cv::Point2d across(-along.y, along.x);
    const double half_tick_px = scale.px_per_mm;  // a millimetre on each side of the centre
    for (const cv::Point2f& tick : scale.marks) {
      const cv::Point2d centre(tick);
      cv::line(view, at(centre - across * half_tick_px), at(centre + across * half_tick_px), green,
               1, cv::LINE_AA, kShift);
    }
    cv::line(view, at(cv::Point2d(scale.marks.front())), at(cv::Point2d(scale.marks.back())), green,
             1, cv::LINE_AA, kShift);
  } else if (scale.method == "marker" && scale.marks.size() == 4) {
    std::vector<cv::Point> corners;
    for (const cv::Point2f& c : scale.marks) corners.push_back(at(cv::Point2d(c)));
    cv::polylines(view, corners, true, green, 1, cv::LINE_AA, kShift);
    for (const cv::Point& c : corners)
      cv::circle(view, c, 4 << kShift, green, 1, cv::LINE_AA, kShift);
    cv::circle(view, corners.front(), 2 << kShift, green, cv::FILLED, cv::LINE_AA, kShift);
  } else if (is_disc(scale)) {
    const cv::Point centre = at(cv::Point2d(scale.ellipse.center));
    const cv::Size axes(cvRound(scale.ellipse.size.width / 2 * shrink * kUnit),
                        cvRound(scale.ellipse.size.height / 2 * shrink * kUnit));
    cv::ellipse(view, centre, axes, scale.ellipse.angle, 0, 360, green, 1, cv::LINE_AA, kShift);
    const int arm = 6 << kShift;
    cv::line(view, centre - cv::Point(arm, 0), centre + cv::Point(arm, 0), green, 1, cv::LINE_AA,
             kShift);
    cv::line(view, centre - cv::Point(0, arm), centre + cv::Point(0, arm), green, 1, cv::LINE_AA,
             kShift);
  } else {
    for (const cv::Point2f& p : scale.marks) {
      cv::circle(view, at(cv::Point2d(p)), 4 << kShift, green, 1, cv::LINE_AA, kShift);
    }
  }
  return view;
}

}  // namespace meravel
