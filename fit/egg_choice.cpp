#include "fit/egg_choice.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace meravel {

namespace {

cv::Point2d centroid(const std::vector<cv::Point>& outline) {
  const cv::Moments m = cv::moments(outline);
  if (m.m00 <= 0.0) {
    const cv::Rect box = cv::boundingRect(outline);
    return {box.x + (box.width - 1) / 2.0, box.y + (box.height - 1) / 2.0};
  }
  return {m.m10 / m.m00, m.m01 / m.m00};
}

bool holds(const std::vector<cv::Point>& outline, cv::Point2d point) {
  return !outline.empty() &&
         cv::pointPolygonTest(outline,
                              cv::Point2f(static_cast<float>(point.x), static_cast<float>(point.y)),
                              false) >= 0;
}

bool inside_ellipse(const cv::RotatedRect& e, cv::Point2d point) {
  if (e.size.width <= 0 || e.size.height <= 0) return false;
  const double angle = e.angle * CV_PI / 180.0;
  const double dx = point.x - e.center.x, dy = point.y - e.center.y;
  const double u = dx * std::cos(angle) + dy * std::sin(angle);
  const double v = -dx * std::sin(angle) + dy * std::cos(angle);
  const double a = e.size.width / 2.0, b = e.size.height / 2.0;
  return (u * u) / (a * a) + (v * v) / (b * b) <= 1.0;
}

}  // namespace

std::vector<NumberedEgg> numbered_eggs(const Segmentation& segmentation) {
  std::vector<NumberedEgg> eggs;
  for (size_t i = 0; i < segmentation.candidates.size(); ++i) {
    const SegmentCandidate& c = segmentation.candidates[i];
    if (c.score < kPlausibleEggScore || c.outline.empty()) continue;
    eggs.push_back({static_cast<int>(i), centroid(c.outline), cv::boundingRect(c.outline)});
  }
  std::stable_sort(eggs.begin(), eggs.end(), [](const NumberedEgg& a, const NumberedEgg& b) {
    return a.centre.x != b.centre.x ? a.centre.x < b.centre.x : a.centre.y < b.centre.y;
  });
  return eggs;
}

int egg_under(const std::vector<NumberedEgg>& eggs, const Segmentation& segmentation,
              cv::Point point) {
  int found = -1;
  double smallest = 0.0;
  for (size_t n = 0; n < eggs.size(); ++n) {
    const SegmentCandidate& c = segmentation.candidates[eggs[n].candidate];
    if (!holds(c.outline, point)) continue;
    if (found < 0 || c.area_px < smallest) {
      found = static_cast<int>(n);
      smallest = c.area_px;
    }
  }
  return found;
}

Segmentation segmentation_choosing(const cv::Mat& image, const Segmentation& found, int candidate,
                                   int work_side_px) {
  if (candidate < 0 || candidate >= static_cast<int>(found.candidates.size())) return {};
  if (candidate == found.chosen) return found;
  const SegmentCandidate& wanted = found.candidates[candidate];
  const cv::Point2d centre = centroid(wanted.outline);
  // A better candidate whose ellipse covers the wanted one's centre cannot be set aside without
  // setting the wanted one aside too (a card the egg lies on).
  std::vector<cv::RotatedRect> not_eggs;
  for (size_t i = 0; i < found.candidates.size(); ++i) {
    const SegmentCandidate& c = found.candidates[i];
    if (static_cast<int>(i) == candidate || c.score < wanted.score || c.outline.size() < 5)
      continue;
    const cv::RotatedRect ellipse = cv::fitEllipse(c.outline);
    if (!inside_ellipse(ellipse, centre)) not_eggs.push_back(ellipse);
  }
  Segmentation again = segment_photograph(image, work_side_px, not_eggs);
  if (again.found() && holds(wanted.outline, centroid(again.candidates[again.chosen].outline))) {
    return again;
  }
  Segmentation as_found;
  as_found.candidates.push_back(wanted);
  for (size_t i = 0; i < found.candidates.size(); ++i) {
    if (static_cast<int>(i) != candidate) as_found.candidates.push_back(found.candidates[i]);
  }
  as_found.chosen = 0;
  as_found.threshold = found.threshold;
  as_found.polarity = found.polarity;
  return as_found;
}

int next_unsaved_egg(const std::vector<bool>& saved, int current) {
  const int count = static_cast<int>(saved.size());
  for (int step = 1; step <= count; ++step) {
    const int n = ((current + step) % count + count) % count;
    if (!saved[n]) return n;
  }
  return -1;
}

}  // namespace meravel
