#include "fit/cut_edge.h"

#include <cmath>
#include <opencv2/imgproc.hpp>

namespace meravel {

namespace {

// The distance of every pixel of an image of `size` to the nearest of `zeros` (DIST_L2 with the
// 5x5 mask, as the target's map).
cv::Mat distance_to(const std::vector<cv::Point>& zeros, cv::Size size) {
  cv::Mat mask(size, CV_8UC1, cv::Scalar(255));
  for (const cv::Point& p : zeros) mask.at<uchar>(p) = 0;
  cv::Mat distance;
  cv::distanceTransform(mask, distance, cv::DIST_L2, cv::DIST_MASK_5);
  return distance;
}

}  // namespace

void leave_cut_out(FitTarget& target, const std::vector<cv::Point>& cut) {
  cv::Mat& map = target.distance_image;
  if (cut.empty() || map.empty() || map.type() != CV_32FC1) return;
  const cv::Rect frame(cv::Point(0, 0), map.size());
  cv::Mat on_cut = cv::Mat::zeros(map.size(), CV_8UC1);
  std::vector<cv::Point> cut_zeros;
  for (const cv::Point& p : cut) {
    if (!frame.contains(p) || on_cut.at<uchar>(p)) continue;
    on_cut.at<uchar>(p) = 1;
    cut_zeros.push_back(p);
  }
  std::vector<cv::Point> own_zeros;
  for (const cv::Point& p : outline_map_zeros(target.outline_contour, map.size())) {
    if (!on_cut.at<uchar>(p)) own_zeros.push_back(p);
  }
  if (cut_zeros.empty() || own_zeros.empty()) return;

  const cv::Mat to_cut = distance_to(cut_zeros, map.size());
  const cv::Mat to_own = distance_to(own_zeros, map.size());
  cv::Mat inside = cv::Mat::zeros(map.size(), CV_8UC1);
  cv::drawContours(inside, std::vector<std::vector<cv::Point>>{target.outline_contour}, 0,
                   cv::Scalar(255), cv::FILLED);
  map.setTo(0.0f, (to_cut < to_own) & inside);
  target.cut = std::move(cut_zeros);
}

std::vector<EdgePoint> edges_off_cut(std::vector<EdgePoint> edges,
                                     const std::vector<cv::Point>& cut) {
  if (cut.empty()) return edges;
  const int margin = static_cast<int>(std::ceil(kCutMarginPx)) + 1;
  const cv::Rect box = cv::boundingRect(cut);
  const cv::Rect near(box.x - margin, box.y - margin, box.width + 2 * margin,
                      box.height + 2 * margin);
  cv::Mat mask(near.size(), CV_8UC1, cv::Scalar(255));
  for (const cv::Point& p : cut) mask.at<uchar>(p - near.tl()) = 0;
  cv::Mat distance;
  cv::distanceTransform(mask, distance, cv::DIST_L2, cv::DIST_MASK_PRECISE);
  std::vector<EdgePoint> kept;
  kept.reserve(edges.size());
  for (const EdgePoint& e : edges) {
    const cv::Point at(cvRound(e.position.x), cvRound(e.position.y));
    if (near.contains(at) && distance.at<float>(at - near.tl()) <= kCutMarginPx) continue;
    kept.push_back(e);
  }
  return kept;
}

}  // namespace meravel
