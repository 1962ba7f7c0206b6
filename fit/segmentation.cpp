// The ground is what the photograph's border shows: a smooth surface fitted to the border's
// colours models its shading and vignetting, so that each pixel's distance from the ground there
// is large on an object and small on the ground wherever the light falls. Thresholds of that
// distance give objects; the egg is the one that looks most like an egg.
#include "fit/segmentation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace meravel {

namespace {

constexpr int kMinSide = 24;
// The share of the shorter side that the border band covers, where the ground is sampled.
constexpr double kBorderBand = 0.04;
// At most this many border samples fit the ground surface.
constexpr int kGroundSamples = 4000;
// A pixel darker than the ground whose hue differs from the ground's by less than this share of
// the darkening (plus a little noise) looks like a shadow: its darkening counts at this weight.
constexpr double kShadowHueShare = 0.3;
constexpr double kShadowHueNoise = 3.0;
constexpr double kShadowWeight = 0.35;
// The distance from the ground is scaled by this much into 8 bits (a Lab distance of 100 is 250).
constexpr double kDistanceScale = 2.5;
// The levels tried, as multiples of the Otsu level of the distance image.
constexpr std::array<double, 5> kLevelFactors = {0.5, 0.7, 1.0, 1.4, 2.0};
constexpr int kLowestLevel = 8;
// Objects smaller than this share of the photograph are not considered.
constexpr double kSmallestObject = 0.001;

// The smooth ground: per Lab channel a quadratic surface in coordinates normalised to -1..1.
struct GroundModel {
  cv::Mat coefficients;  // 6 x 3, CV_64F: rows 1, u, v, u^2, uv, v^2; columns L, a, b
  cv::Size size;         // the image the coordinates are normalised over
};

std::array<double, 6> terms(double u, double v) { return {1.0, u, v, u * u, u * v, v * v}; }

double normalised(double x, int extent) { return 2.0 * (x + 0.5) / extent - 1.0; }

// Lab in floats: L 0..100, a and b about -127..127.
cv::Mat lab_of(const cv::Mat& bgr) {
  cv::Mat scaled, lab;
  bgr.convertTo(scaled, CV_32F, 1.0 / 255.0);
  cv::cvtColor(scaled, lab, cv::COLOR_BGR2Lab);
  return lab;
}

double median_of(std::vector<double> values) {
  if (values.empty()) return 0.0;
  const auto middle = values.begin() + values.size() / 2;
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// Fits the surface to the border band, dropping samples far from it (an object or a hand that
// crosses the border) and fitting again.
GroundModel fit_ground(const cv::Mat& lab) {
  const int w = lab.cols, h = lab.rows;
  const int band = std::max(2, static_cast<int>(std::lround(kBorderBand * std::min(w, h))));
  std::vector<cv::Point> at;
  const long long band_pixels = 2LL * band * (w + h);
  const int step = std::max(1, static_cast<int>(std::sqrt(band_pixels / kGroundSamples)));
  for (int y = 0; y < h; y += step) {
    for (int x = 0; x < w; x += step) {
      if (y < band || y >= h - band || x < band || x >= w - band) at.emplace_back(x, y);
    }
  }
  std::vector<bool> kept(at.size(), true);
  GroundModel model{cv::Mat::zeros(6, 3, CV_64F), lab.size()};
  for (int round = 0; round < 4; ++round) {
    const int n = static_cast<int>(std::count(kept.begin(), kept.end(), true));
    if (n < 12) break;
    cv::Mat a(n, 6, CV_64F), b(n, 3, CV_64F);
    int row = 0;
    for (size_t i = 0; i < at.size(); ++i) {
      if (!kept[i]) continue;
      const auto t = terms(normalised(at[i].x, w), normalised(at[i].y, h));
      for (int j = 0; j < 6; ++j) a.at<double>(row, j) = t[j];
      const cv::Vec3f c = lab.at<cv::Vec3f>(at[i]);
      for (int j = 0; j < 3; ++j) b.at<double>(row, j) = c[j];
      ++row;
    }
    cv::solve(a, b, model.coefficients, cv::DECOMP_SVD);
    std::vector<double> residuals(at.size());
    for (size_t i = 0; i < at.size(); ++i) {
      const auto t = terms(normalised(at[i].x, w), normalised(at[i].y, h));
      const cv::Vec3f c = lab.at<cv::Vec3f>(at[i]);
      double sum = 0.0;
      for (int j = 0; j < 3; ++j) {
        double g = 0.0;
        for (int k = 0; k < 6; ++k) g += t[k] * model.coefficients.at<double>(k, j);
        sum += (c[j] - g) * (c[j] - g);
      }
      residuals[i] = std::sqrt(sum);
    }
    const double limit = std::max(3.0 * median_of(residuals), 4.0);
    for (size_t i = 0; i < at.size(); ++i) kept[i] = residuals[i] <= limit;
  }
  return model;
}

// The ground's Lab at normalised coordinates (u, v): the same point of the photograph at any
// resolution.
cv::Vec3d ground_at(const GroundModel& model, double u, double v) {
  const auto t = terms(u, v);
  cv::Vec3d g(0, 0, 0);
  for (int j = 0; j < 3; ++j)
    for (int k = 0; k < 6; ++k) g[j] += t[k] * model.coefficients.at<double>(k, j);
  return g;
}

// Distance from the ground, 8 bits, for the pixels of `lab` (an image or a part of one), whose
// top-left pixel lies at `origin` in an image of `extent` over which the coordinates are
// normalised. Shadows count little.
cv::Mat distance_from_ground(const GroundModel& model, const cv::Mat& lab, cv::Point origin,
                             cv::Size extent) {
  cv::Mat distance(lab.size(), CV_8UC1);
  for (int y = 0; y < lab.rows; ++y) {
    const double v = normalised(origin.y + y, extent.height);
    const cv::Vec3f* row = lab.ptr<cv::Vec3f>(y);
    uchar* out = distance.ptr<uchar>(y);
    // The surface is quadratic along a row: evaluated at each pixel, it costs little next to the
    // colour conversion.
    for (int x = 0; x < lab.cols; ++x) {
      const cv::Vec3d g = ground_at(model, normalised(origin.x + x, extent.width), v);
      const double dl = row[x][0] - g[0];
      const double dc = std::hypot(row[x][1] - g[1], row[x][2] - g[2]);
      const bool shadow_like = dl < 0.0 && dc < kShadowHueShare * -dl + kShadowHueNoise;
      const double wl = shadow_like ? kShadowWeight * dl : dl;
      out[x] = cv::saturate_cast<uchar>(kDistanceScale * std::sqrt(wl * wl + dc * dc));
    }
  }
  return distance;
}

cv::Mat ellipse_kernel(int radius) {
  return cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(2 * radius + 1, 2 * radius + 1));
}

// The objects of a binary image with their holes filled, as outer contours.
std::vector<std::vector<cv::Point>> filled_objects(const cv::Mat& binary) {
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(binary, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
  return contours;
}

double ramp(double x, double zero_at, double one_at) {
  return std::clamp((x - zero_at) / (one_at - zero_at), 0.0, 1.0);
}

// The candidate of one outline in the reduced image, scored; its outline stays in the reduced
// image's pixels.
SegmentCandidate describe(const std::vector<cv::Point>& contour, const cv::Mat& lab) {
  SegmentCandidate c;
  c.outline = contour;
  const cv::Size size = lab.size();
  const cv::Rect box = cv::boundingRect(contour);
  cv::Mat object = cv::Mat::zeros(box.size(), CV_8UC1);
  cv::drawContours(object, std::vector<std::vector<cv::Point>>{contour}, 0, cv::Scalar(255),
                   cv::FILLED, cv::LINE_8, cv::noArray(), 0, -box.tl());
  c.area_px = cv::countNonZero(object);
  std::vector<cv::Point> hull;
  cv::convexHull(contour, hull);
  const double hull_area = cv::contourArea(hull);
  c.solidity = hull_area > 0.0 ? std::min(1.0, cv::contourArea(contour) / hull_area) : 0.0;

  int on_frame = 0;
  for (const cv::Point& p : contour)
    on_frame += p.x == 0 || p.y == 0 || p.x == size.width - 1 || p.y == size.height - 1;
  c.border_contact = static_cast<double>(on_frame) / contour.size();

  if (contour.size() < 6) return c;
  const cv::RotatedRect ellipse = cv::fitEllipse(contour);
  const double long_axis = std::max(ellipse.size.width, ellipse.size.height);
  const double short_axis = std::min(ellipse.size.width, ellipse.size.height);
  if (!(short_axis > 0.0)) return c;
  c.elongation = long_axis / short_axis;
  // The overlap is counted in a box holding both the object and its ellipse.
  const cv::Rect both = box | cv::Rect(ellipse.boundingRect());
  cv::Mat in_object = cv::Mat::zeros(both.size(), CV_8UC1);
  object.copyTo(in_object(cv::Rect(box.tl() - both.tl(), box.size())));
  cv::Mat in_ellipse = cv::Mat::zeros(both.size(), CV_8UC1);
  cv::RotatedRect shifted = ellipse;
  shifted.center -= cv::Point2f(both.tl());
  cv::ellipse(in_ellipse, shifted, cv::Scalar(255), cv::FILLED);
  cv::Mat common, any;
  cv::bitwise_and(in_object, in_ellipse, common);
  cv::bitwise_or(in_object, in_ellipse, any);
  const int union_count = cv::countNonZero(any);
  c.ellipse_fit = union_count > 0 ? static_cast<double>(cv::countNonZero(common)) / union_count : 0;

  const cv::RotatedRect rectangle = cv::minAreaRect(contour);
  const double rectangularity =
      rectangle.size.area() > 0 ? cv::contourArea(contour) / rectangle.size.area() : 1.0;
  const double share = c.area_px / (static_cast<double>(size.width) * size.height);
  const double lightness = cv::mean(lab(box), object)[0];

  // An egg's outline is close to an ellipse (overlap above 0.95), convex, at most about twice as
  // long as broad, and wholly inside the photograph. The first two count up to a perfect ellipse,
  // so that of an egg found alone and found with its shadow attached, the egg alone wins. A ruler
  // is long, a card fills its rectangle, a hand is not convex and comes in from the border, a glare
  // spot is small and white; the ground itself covers most of the photograph.
  const double fits_ellipse = ramp(c.ellipse_fit, 0.75, 1.0);
  const double convex = ramp(c.solidity, 0.8, 1.0);
  const double not_long = 1.0 - ramp(c.elongation, 1.9, 3.0);
  const double not_cut = 1.0 - ramp(c.border_contact, 0.0, 0.1);
  const double not_rectangle = 1.0 - ramp(rectangularity, 0.86, 0.94);
  const double sized = ramp(share, kSmallestObject, 0.01) * (1.0 - ramp(share, 0.5, 0.8));
  const double not_glare = lightness > 95.0 && share < 0.02 ? 0.3 : 1.0;
  // Of two good objects, the larger is the one a person measures first.
  const double larger = 0.75 + 0.25 * ramp(share, 0.0, 0.05);
  c.score = fits_ellipse * convex * not_long * not_cut * not_rectangle * sized * not_glare * larger;
  return c;
}

bool same_object(const SegmentCandidate& a, const SegmentCandidate& b) {
  const cv::Rect ra = cv::boundingRect(a.outline), rb = cv::boundingRect(b.outline);
  const double common = (ra & rb).area();
  return common > 0.6 * std::max(ra.area(), rb.area());
}

std::vector<cv::Point> scaled_outline(const std::vector<cv::Point>& outline, double sx, double sy) {
  std::vector<cv::Point> scaled;
  scaled.reserve(outline.size());
  for (const cv::Point& p : outline) {
    scaled.emplace_back(static_cast<int>((p.x + 0.5) * sx), static_cast<int>((p.y + 0.5) * sy));
  }
  return scaled;
}

// The median of the 8-bit pixels of `image` under `mask`; -1 when the mask is empty.
int masked_median(const cv::Mat& image, const cv::Mat& mask) {
  std::array<int, 256> histogram{};
  int count = 0;
  for (int y = 0; y < image.rows; ++y) {
    const uchar* row = image.ptr<uchar>(y);
    const uchar* m = mask.ptr<uchar>(y);
    for (int x = 0; x < image.cols; ++x) {
      if (m[x]) {
        ++histogram[row[x]];
        ++count;
      }
    }
  }
  if (count == 0) return -1;
  int seen = 0;
  for (int level = 0; level < 256; ++level) {
    seen += histogram[level];
    if (2 * seen >= count) return level;
  }
  return 255;
}

struct Refined {
  std::vector<cv::Point> outline;  // in the photograph's pixels; empty when none was found
  int threshold = 131;
  ObjectPolarity polarity = ObjectPolarity::kLightOnDark;
};

// The chosen object traced at full resolution near its reduced outline: on the grey image at the
// level halfway between the object and the ground next to it where the two differ in grey, else
// on the distance from the ground at the level it was found at.
Refined refine(const cv::Mat& photo, const cv::Mat& bgr,
               const std::vector<cv::Point>& small_outline, cv::Size small_size,
               const GroundModel& ground, int level) {
  Refined refined;
  const double sx = static_cast<double>(photo.cols) / small_size.width;
  const double sy = static_cast<double>(photo.rows) / small_size.height;
  // Masks in the reduced image: the object shrunk (surely inside), grown (the edge lies within),
  // and a ring beyond (the ground next to it).
  const int margin = 2;
  const cv::Rect small_box = cv::boundingRect(small_outline);
  const cv::Rect small_roi =
      cv::Rect(small_box.x - 3 * margin - 1, small_box.y - 3 * margin - 1,
               small_box.width + 6 * margin + 2, small_box.height + 6 * margin + 2) &
      cv::Rect(cv::Point(0, 0), small_size);
  cv::Mat object = cv::Mat::zeros(small_roi.size(), CV_8UC1);
  cv::drawContours(object, std::vector<std::vector<cv::Point>>{small_outline}, 0, cv::Scalar(255),
                   cv::FILLED, cv::LINE_8, cv::noArray(), 0, -small_roi.tl());
  cv::Mat inner, near, far;
  cv::erode(object, inner, ellipse_kernel(margin));
  cv::dilate(object, near, ellipse_kernel(margin));
  cv::dilate(object, far, ellipse_kernel(3 * margin));
  cv::Mat ring = far & ~near;

  const cv::Rect roi(static_cast<int>(small_roi.x * sx), static_cast<int>(small_roi.y * sy), 0, 0);
  const cv::Rect full_roi =
      cv::Rect(roi.x, roi.y,
               static_cast<int>(std::ceil((small_roi.x + small_roi.width) * sx)) - roi.x,
               static_cast<int>(std::ceil((small_roi.y + small_roi.height) * sy)) - roi.y) &
      cv::Rect(cv::Point(0, 0), photo.size());
  const auto up = [&](const cv::Mat& mask) {
    cv::Mat big;
    cv::resize(mask, big, full_roi.size(), 0, 0, cv::INTER_NEAREST);
    return big;
  };
  const cv::Mat inner_full = up(inner), near_full = up(near), ring_full = up(ring);

  cv::Mat grey;
  if (photo.channels() == 1) {
    grey = photo(full_roi);
  } else {
    cv::cvtColor(bgr(full_roi), grey, cv::COLOR_BGR2GRAY);
  }
  // A small object has no inside left once shrunk: then the whole of it counts.
  int object_grey = masked_median(grey, inner_full);
  if (object_grey < 0) object_grey = masked_median(grey, up(object));
  const int ground_grey = masked_median(grey, ring_full);
  if (object_grey < 0 || ground_grey < 0) return refined;
  const bool lighter = object_grey >= ground_grey;
  refined.polarity = lighter ? ObjectPolarity::kLightOnDark : ObjectPolarity::kDarkOnLight;
  const int a = lighter ? object_grey : 255 - object_grey;
  const int b = lighter ? ground_grey : 255 - ground_grey;
  refined.threshold = std::clamp((a + b) / 2, 0, 250);

  cv::Mat binary;
  if (std::abs(object_grey - ground_grey) >= 16) {
    if (lighter) {
      cv::threshold(grey, binary, refined.threshold, 255, cv::THRESH_BINARY);
    } else {
      cv::threshold(grey, binary, 254 - refined.threshold, 255, cv::THRESH_BINARY_INV);
    }
  } else {
    const cv::Mat lab = lab_of(bgr(full_roi));
    const cv::Mat distance = distance_from_ground(ground, lab, full_roi.tl(), photo.size());
    cv::threshold(distance, binary, level, 255, cv::THRESH_BINARY);
  }
  // Speckles, seams and highlights inside the object are closed; nothing far from the object
  // found in the reduced image is taken.
  binary &= near_full;
  binary |= inner_full;
  const int heal = std::max(1, static_cast<int>(std::lround(std::max(sx, sy) / 2)));
  cv::morphologyEx(binary, binary, cv::MORPH_CLOSE, ellipse_kernel(heal));
  cv::morphologyEx(binary, binary, cv::MORPH_OPEN, ellipse_kernel(heal));
  const std::vector<std::vector<cv::Point>> objects = filled_objects(binary);
  double largest = 0.0;
  for (const auto& contour : objects) {
    const double area = cv::contourArea(contour);
    if (area >= largest) {
      largest = area;
      refined.outline = contour;
    }
  }
  for (cv::Point& p : refined.outline) p += full_roi.tl();
  return refined;
}

// Whether `point` lies inside the ellipse `e`.
bool inside(const cv::RotatedRect& e, cv::Point2d point) {
  if (e.size.width <= 0 || e.size.height <= 0) return false;
  const double angle = e.angle * CV_PI / 180.0;
  const double dx = point.x - e.center.x, dy = point.y - e.center.y;
  const double u = dx * std::cos(angle) + dy * std::sin(angle);
  const double v = -dx * std::sin(angle) + dy * std::cos(angle);
  const double a = e.size.width / 2.0, b = e.size.height / 2.0;
  return (u * u) / (a * a) + (v * v) / (b * b) <= 1.0;
}

}  // namespace

Segmentation segment_photograph(const cv::Mat& photo, int work_side_px,
                                const std::vector<cv::RotatedRect>& not_eggs, bool trace_all) {
  Segmentation result;
  if (photo.empty() || photo.depth() != CV_8U || photo.cols < kMinSide || photo.rows < kMinSide)
    return result;
  cv::Mat bgr = photo;
  if (photo.channels() == 1) cv::cvtColor(photo, bgr, cv::COLOR_GRAY2BGR);
  if (photo.channels() == 4) cv::cvtColor(photo, bgr, cv::COLOR_BGRA2BGR);

  // An area average over whole blocks of pixels: each reduced pixel is the mean of its block.
  const int factor = std::max(
      1, (std::max(bgr.cols, bgr.rows) + work_side_px - 1) / std::max(kMinSide, work_side_px));
  cv::Mat small = bgr;
  if (factor > 1) cv::resize(bgr, small, cv::Size(), 1.0 / factor, 1.0 / factor, cv::INTER_AREA);
  const cv::Mat lab = lab_of(small);
  const GroundModel ground = fit_ground(lab);
  const cv::Mat distance = distance_from_ground(ground, lab, cv::Point(0, 0), lab.size());

  cv::Mat binary;
  const double otsu = cv::threshold(distance, binary, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
  const int heal = std::max(1, static_cast<int>(std::lround(0.01 * std::min(lab.cols, lab.rows))));
  const double smallest = kSmallestObject * lab.cols * lab.rows;
  const double sx = static_cast<double>(bgr.cols) / small.cols;
  const double sy = static_cast<double>(bgr.rows) / small.rows;
  std::vector<SegmentCandidate> found;
  std::vector<int> found_level;
  for (const double f : kLevelFactors) {
    const int level = std::max(kLowestLevel, static_cast<int>(std::lround(f * otsu)));
    cv::threshold(distance, binary, level, 255, cv::THRESH_BINARY);
    cv::morphologyEx(binary, binary, cv::MORPH_CLOSE, ellipse_kernel(heal));
    cv::morphologyEx(binary, binary, cv::MORPH_OPEN, ellipse_kernel(1));
    for (const auto& contour : filled_objects(binary)) {
      if (cv::contourArea(contour) < smallest) continue;
      found.push_back(describe(contour, lab));
      found_level.push_back(level);
      const cv::Moments m = cv::moments(contour);
      const cv::Point2d centre(m.m10 / m.m00 * sx, m.m01 / m.m00 * sy);
      for (const cv::RotatedRect& e : not_eggs) {
        if (inside(e, centre)) found.back().score = 0.0;
      }
    }
  }
  std::vector<int> order(found.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return found[a].score > found[b].score; });
  std::vector<int> kept;
  for (int i : order) {
    bool seen = false;
    for (int j : kept) seen = seen || same_object(found[i], found[j]);
    if (!seen) kept.push_back(i);
  }

  for (size_t n = 0; n < kept.size(); ++n) {
    SegmentCandidate c = found[kept[n]];
    c.area_px *= sx * sy;
    const bool clutch_part = trace_all && c.border_contact == 0.0 && c.solidity >= 0.7 &&
                             c.elongation <= 4.0 && c.score > 0.0;
    if ((n == 0 || clutch_part) && (c.score >= kPlausibleEggScore || clutch_part)) {
      const Refined refined =
          refine(photo, bgr, c.outline, small.size(), ground, found_level[kept[n]]);
      if (!refined.outline.empty()) {
        c.outline = refined.outline;
        c.area_px = cv::contourArea(refined.outline);
        c.traced = true;
        c.threshold = refined.threshold;
        c.polarity = refined.polarity;
        if (n == 0 && c.score >= kPlausibleEggScore) {
          result.chosen = 0;
          result.threshold = refined.threshold;
          result.polarity = refined.polarity;
        }
      }
    }
    if (!c.traced) c.outline = scaled_outline(c.outline, sx, sy);
    result.candidates.push_back(std::move(c));
  }
  return result;
}

}  // namespace meravel
