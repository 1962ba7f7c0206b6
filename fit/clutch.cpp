// Eggs of a clutch lie side by side and often touch. Two touching eggs make one object whose
// distance transform has a core in each egg and a valley where they meet; flooded from the cores
// (a watershed), the object is cut along that valley. A single egg, however long, is convex, so its
// distance transform has one core at every level and is never cut.
#include "fit/clutch.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <queue>

namespace meravel {

namespace {

// The levels (shares of the largest distance to the edge) at which the cores are looked for.
constexpr double kCoreLevels[] = {0.85, 0.75, 0.65, 0.55, 0.45, 0.35};
// A core smaller than this share of the object's area is a ripple of its edge, not an egg's.
constexpr double kSmallestCore = 0.005;
// A part smaller than this share of the object is no egg of its own.
constexpr double kSmallestPart = 0.12;
// An object of an egg's shape cut by the border counts as a cut egg when its area is within
// these multiples of the median egg's.
constexpr double kCutEggAreaLow = 0.25;
constexpr double kCutEggAreaHigh = 2.0;

double ramp(double x, double zero_at, double one_at) {
  return std::clamp((x - zero_at) / (one_at - zero_at), 0.0, 1.0);
}

cv::Mat filled(const std::vector<cv::Point>& outline, const cv::Rect& box, int pad) {
  cv::Mat mask = cv::Mat::zeros(box.height + 2 * pad, box.width + 2 * pad, CV_8UC1);
  cv::drawContours(mask, std::vector<std::vector<cv::Point>>{outline}, 0, cv::Scalar(255),
                   cv::FILLED, cv::LINE_8, cv::noArray(), 0, cv::Point(pad, pad) - box.tl());
  return mask;
}

std::vector<cv::Point> largest_outline(const cv::Mat& mask) {
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
  std::vector<cv::Point> best;
  double best_area = -1.0;
  for (auto& contour : contours) {
    const double area = cv::contourArea(contour);
    if (area > best_area) {
      best_area = area;
      best = std::move(contour);
    }
  }
  return best;
}

cv::Point2d centroid(const std::vector<cv::Point>& outline) {
  const cv::Moments m = cv::moments(outline);
  if (m.m00 <= 0.0) {
    const cv::Rect box = cv::boundingRect(outline);
    return {box.x + box.width / 2.0, box.y + box.height / 2.0};
  }
  return {m.m10 / m.m00, m.m01 / m.m00};
}

bool inside(const std::vector<cv::Point>& outline, cv::Point2d point) {
  return cv::pointPolygonTest(outline, cv::Point2f(point), false) >= 0;
}

// Whether `outline` is an object that an egg found already lies on, or lies on one.
bool overlaps_eggs(const std::vector<cv::Point>& outline, const std::vector<ClutchEgg>& eggs) {
  const cv::Point2d centre = centroid(outline);
  for (const ClutchEgg& egg : eggs) {
    if (inside(egg.outline, centre) || inside(outline, egg.centre_px)) return true;
  }
  return false;
}

ClutchEgg egg_of(std::vector<cv::Point> outline, double score, int threshold,
                 ObjectPolarity polarity, bool touching) {
  ClutchEgg egg;
  egg.outline = std::move(outline);
  egg.score = score;
  egg.threshold = threshold;
  egg.polarity = polarity;
  egg.centre_px = centroid(egg.outline);
  egg.box_px = cv::boundingRect(egg.outline);
  egg.touching = touching;
  return egg;
}

// Labels every pixel of `mask` with the core (labels 1.., 0 elsewhere) that reaches it first
// flooding downhill over `distance`: highest pixels first, as water rising on the distance turned
// upside down, so that the parts meet in the valleys between the cores.
cv::Mat flood_from_cores(const cv::Mat& distance, const cv::Mat& mask, const cv::Mat& cores) {
  cv::Mat labels = cores.clone();
  using Entry = std::pair<float, int>;  // distance, pixel index
  std::priority_queue<Entry> queue;
  const int w = mask.cols, h = mask.rows;
  const auto push_neighbours = [&](int index) {
    const int x = index % w, y = index / w;
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        const int nx = x + dx, ny = y + dy;
        if ((dx == 0 && dy == 0) || nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
        if (!mask.at<uchar>(ny, nx) || labels.at<int>(ny, nx) != 0) continue;
        queue.emplace(distance.at<float>(ny, nx), ny * w + nx);
      }
    }
  };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (labels.at<int>(y, x) > 0) push_neighbours(y * w + x);
  while (!queue.empty()) {
    const int index = queue.top().second;
    queue.pop();
    const int x = index % w, y = index / w;
    if (labels.at<int>(y, x) != 0) continue;
    // The label of the highest neighbour flooded already.
    int label = 0;
    float highest = -1.0f;
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        const int nx = x + dx, ny = y + dy;
        if (nx < 0 || ny < 0 || nx >= w || ny >= h || labels.at<int>(ny, nx) <= 0) continue;
        if (distance.at<float>(ny, nx) > highest) {
          highest = distance.at<float>(ny, nx);
          label = labels.at<int>(ny, nx);
        }
      }
    }
    labels.at<int>(y, x) = label;
    push_neighbours(index);
  }
  return labels;
}

}  // namespace

double egg_shape_score(const std::vector<cv::Point>& outline) {
  if (outline.size() < 6) return 0.0;
  const cv::Rect box = cv::boundingRect(outline);
  const cv::RotatedRect ellipse = cv::fitEllipse(outline);
  const double long_axis = std::max(ellipse.size.width, ellipse.size.height);
  const double short_axis = std::min(ellipse.size.width, ellipse.size.height);
  if (!(short_axis > 0.0)) return 0.0;
  // The overlap is counted in a box holding both the object and its ellipse.
  const cv::Rect both = box | cv::Rect(ellipse.boundingRect());
  const cv::Mat object = filled(outline, both, 0);
  cv::Mat in_ellipse = cv::Mat::zeros(both.size(), CV_8UC1);
  cv::RotatedRect shifted = ellipse;
  shifted.center -= cv::Point2f(both.tl());
  cv::ellipse(in_ellipse, shifted, cv::Scalar(255), cv::FILLED);
  const int union_count = cv::countNonZero(object | in_ellipse);
  const double overlap =
      union_count > 0 ? static_cast<double>(cv::countNonZero(object & in_ellipse)) / union_count
                      : 0.0;
  std::vector<cv::Point> hull;
  cv::convexHull(outline, hull);
  const double hull_area = cv::contourArea(hull);
  const double solidity = hull_area > 0.0 ? cv::contourArea(outline) / hull_area : 0.0;
  return ramp(overlap, 0.75, 1.0) * ramp(solidity, 0.8, 1.0) *
         (1.0 - ramp(long_axis / short_axis, 1.9, 3.0));
}

std::vector<std::vector<cv::Point>> split_touching_eggs(const std::vector<cv::Point>& outline) {
  if (outline.size() < 6) return {};
  const cv::Rect box = cv::boundingRect(outline);
  const int pad = 2;
  const cv::Mat mask = filled(outline, box, pad);
  const double area = cv::countNonZero(mask);
  // distanceTransform measures to the nearest zero pixel: the padding is the ground around.
  cv::Mat distance;
  cv::distanceTransform(mask, distance, cv::DIST_L2, cv::DIST_MASK_5);
  double largest = 0.0;
  cv::minMaxLoc(distance, nullptr, &largest);
  if (largest <= 1.0) return {};

  // The level with the most cores (the lowest of equals, whose cores are the largest).
  cv::Mat best_labels;
  int best_count = 1;
  for (const double level : kCoreLevels) {
    cv::Mat cores = distance > level * largest;
    cv::Mat labels, stats, centres;
    const int n = cv::connectedComponentsWithStats(cores, labels, stats, centres, 8, CV_32S);
    cv::Mat kept = cv::Mat::zeros(labels.size(), CV_32SC1);
    int count = 0;
    for (int i = 1; i < n; ++i) {
      if (stats.at<int>(i, cv::CC_STAT_AREA) < kSmallestCore * area) continue;
      kept.setTo(++count, labels == i);
    }
    if (count >= best_count && count >= 2) {
      best_count = count;
      best_labels = kept;
    }
  }
  if (best_labels.empty()) return {};

  const cv::Mat markers = flood_from_cores(distance, mask, best_labels);
  std::vector<std::vector<cv::Point>> parts;
  for (int i = 1; i <= best_count; ++i) {
    const cv::Mat part = markers == i;
    if (cv::countNonZero(part) < kSmallestPart * area) continue;
    std::vector<cv::Point> part_outline = largest_outline(part);
    if (egg_shape_score(part_outline) < kPlausibleEggScore) continue;
    for (cv::Point& p : part_outline) p += box.tl() - cv::Point(pad, pad);
    parts.push_back(std::move(part_outline));
  }
  if (parts.size() < 2) return {};
  return parts;
}

int clutch_egg_under(const std::vector<ClutchEgg>& eggs, cv::Point point) {
  int best = -1;
  double best_area = 0.0;
  for (size_t n = 0; n < eggs.size(); ++n) {
    if (eggs[n].outline.empty() || !inside(eggs[n].outline, cv::Point2d(point))) continue;
    const double area = cv::contourArea(eggs[n].outline);
    if (best < 0 || area < best_area) {
      best = static_cast<int>(n);
      best_area = area;
    }
  }
  return best;
}

std::vector<cv::Point> cut_points(const std::vector<cv::Point>& part,
                                  const std::vector<cv::Point>& object) {
  if (part.empty() || object.empty()) return {};
  const cv::Rect box = cv::boundingRect(object);
  const int pad = 2;
  const cv::Mat mask = filled(object, box, pad);
  // A point whose eight neighbours all lie in the object is off its edge.
  cv::Mat interior;
  cv::erode(mask, interior, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
  const cv::Point shift = cv::Point(pad, pad) - box.tl();
  const cv::Rect frame(cv::Point(0, 0), interior.size());
  std::vector<cv::Point> cut;
  for (const cv::Point& p : part) {
    const cv::Point q = p + shift;
    if (frame.contains(q) && interior.at<uchar>(q)) cut.push_back(p);
  }
  return cut;
}

Clutch find_clutch(const Segmentation& segmentation, cv::Size image_size) {
  Clutch clutch;
  // The candidates come best first: every plausible egg before the objects that are none.
  for (const SegmentCandidate& c : segmentation.candidates) {
    if (!c.traced || c.score < kPlausibleEggScore || overlaps_eggs(c.outline, clutch.eggs))
      continue;
    clutch.eggs.push_back(egg_of(c.outline, c.score, c.threshold, c.polarity, false));
  }
  // An object of eggs that touch may hold an egg found on its own already (at a level where it
  // came apart from the others): that one is kept, and told that it touches another.
  std::vector<ClutchEgg> separated;
  for (const SegmentCandidate& c : segmentation.candidates) {
    if (!c.traced || c.score >= kPlausibleEggScore) continue;
    for (std::vector<cv::Point>& part : split_touching_eggs(c.outline)) {
      bool found_already = false;
      for (std::vector<ClutchEgg>* eggs : {&clutch.eggs, &separated}) {
        for (ClutchEgg& egg : *eggs) {
          if (!overlaps_eggs(part, {egg})) continue;
          egg.touching = true;
          found_already = true;
        }
      }
      if (found_already) continue;
      const double score = egg_shape_score(part);
      std::vector<cv::Point> cut = cut_points(part, c.outline);
      separated.push_back(egg_of(std::move(part), score, c.threshold, c.polarity, true));
      separated.back().cut = std::move(cut);
    }
  }
  clutch.eggs.insert(clutch.eggs.end(), separated.begin(), separated.end());

  if (!clutch.eggs.empty()) {
    std::vector<double> areas;
    for (const ClutchEgg& egg : clutch.eggs) areas.push_back(cv::contourArea(egg.outline));
    std::nth_element(areas.begin(), areas.begin() + areas.size() / 2, areas.end());
    const double median_area = areas[areas.size() / 2];
    const cv::Rect frame(cv::Point(0, 0), image_size);
    std::vector<ClutchEgg> cut;  // counted once each, whatever levels found them
    for (const SegmentCandidate& c : segmentation.candidates) {
      if (c.border_contact <= 0.0 || c.solidity < 0.85 || c.elongation > 2.5) continue;
      if (c.area_px < kCutEggAreaLow * median_area || c.area_px > kCutEggAreaHigh * median_area)
        continue;
      if (!frame.contains(cv::Point(centroid(c.outline))) ||
          overlaps_eggs(c.outline, clutch.eggs) || overlaps_eggs(c.outline, cut))
        continue;
      cut.push_back(egg_of(c.outline, c.score, c.threshold, c.polarity, false));
    }
    clutch.cut_by_border = static_cast<int>(cut.size());
  }

  // On whole pixels, as the records write the centres, so that the order can be read back.
  std::stable_sort(clutch.eggs.begin(), clutch.eggs.end(),
                   [](const ClutchEgg& a, const ClutchEgg& b) {
                     const long ax = std::lround(a.centre_px.x), bx = std::lround(b.centre_px.x);
                     if (ax != bx) return ax < bx;
                     return std::lround(a.centre_px.y) < std::lround(b.centre_px.y);
                   });
  return clutch;
}

}  // namespace meravel
