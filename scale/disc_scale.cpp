#include <opencv2/imgproc.hpp>
#include <optional>

#include "scale/scale_reading.h"

namespace meravel {

// A disc is looked for among the blobs of a reduced copy thresholded both ways (a coin may be
// lighter or darker than its ground): the largest one whose fitted ellipse is nearly round and
// covers the blob closely. An egg is never that round. Its edge is then taken again on the whole
// photograph along rays from the centre, to a fraction of a pixel where the grey crosses the level
// half-way between the disc and its ground, and the ellipse refitted to those points.

namespace {

constexpr int kSearchSidePx = 1000;
// Axes ratio at least, and blob area over ellipse area within this fraction of 1.
constexpr double kMinRoundness = 0.9;
constexpr double kMaxAreaMismatch = 0.03;
constexpr int kRays = 240;
// The edge points' root mean square distance from the ellipse may be at most this fraction of the
// radius, or a quarter pixel (the noise's share on a small disc): an egg's blunt and pointed ends
// leave it near 1 % of the radius even when it is as round as a disc.
constexpr double kMaxEdgeScatter = 0.006;
constexpr double kEdgeScatterFloorPx = 0.25;

double grey_at(const cv::Mat& grey, cv::Point2d p) {
  cv::Mat patch;
  cv::getRectSubPix(grey, cv::Size(1, 1),
                    cv::Point2f(static_cast<float>(p.x), static_cast<float>(p.y)), patch, CV_32F);
  return patch.at<float>(0, 0);
}

struct Disc {
  cv::RotatedRect ellipse;
  double scatter_px = 0;
  size_t points = 0;
};

// The distance of `p` from `ellipse`, approximated by the radial offset in the ellipse's frame.
double off_ellipse(const cv::Point2f& p, const cv::RotatedRect& ellipse) {
  const double a = ellipse.angle * CV_PI / 180;
  const cv::Point2d d = cv::Point2d(p) - cv::Point2d(ellipse.center);
  const double x = d.x * std::cos(a) + d.y * std::sin(a),
               y = -d.x * std::sin(a) + d.y * std::cos(a);
  const double rx = ellipse.size.width / 2, ry = ellipse.size.height / 2;
  const double rho = std::hypot(x / rx, y / ry);
  return (rho - 1) * std::hypot(x, y) / rho;
}

// The blob round `centre` of about `radius` refitted on the whole photograph: on each ray from the
// centre, the edge is where the grey changes fastest between 0.8 and 1.2 radii (to a fraction of a
// pixel), which a darker rim or a lighter face does not move.
std::optional<Disc> refined_disc(const cv::Mat& grey, cv::Point2d centre, double radius) {
  const double step = 0.25;
  const int samples = static_cast<int>(0.4 * radius / step) + 1;
  // Along a ray the grey is sampled every `step` pixels, and the sign of the change across the
  // edge is that of the whole ray's.
  std::vector<cv::Point2f> edge;
  std::vector<double> values(samples);
  for (int k = 0; k < kRays; ++k) {
    const cv::Point2d d(std::cos(2 * CV_PI * k / kRays), std::sin(2 * CV_PI * k / kRays));
    for (int i = 0; i < samples; ++i)
      values[i] = grey_at(grey, centre + (0.8 * radius + i * step) * d);
    const double sign = values.back() > values.front() ? 1.0 : -1.0;
    int best = -1;
    double steepest = 0;
    for (int i = 1; i + 1 < samples; ++i) {
      const double change = sign * (values[i + 1] - values[i - 1]);
      if (change > steepest) steepest = change, best = i;
    }
    if (best < 2 || best > samples - 3) continue;
    const double before = sign * (values[best] - values[best - 2]);
    const double after = sign * (values[best + 2] - values[best]);
    const double curvature = before - 2 * steepest + after;
    const double offset = curvature < 0 ? 0.5 * (before - after) / curvature : 0.0;
    const cv::Point2d p = centre + (0.8 * radius + (best + offset) * step) * d;
    edge.emplace_back(static_cast<float>(p.x), static_cast<float>(p.y));
  }
  if (edge.size() < kRays * 3 / 4) return std::nullopt;
  Disc disc;
  disc.ellipse = cv::fitEllipse(edge);
  double sum2 = 0;
  for (const cv::Point2f& p : edge) sum2 += std::pow(off_ellipse(p, disc.ellipse), 2);
  disc.scatter_px = std::sqrt(sum2 / edge.size());
  disc.points = edge.size();
  return disc;
}

}  // namespace

ScaleReading find_disc_scale(const cv::Mat& grey, double diameter_mm) {
  CV_Assert(grey.type() == CV_8UC1);
  ScaleReading reading;
  if (!(diameter_mm > 0)) {
    reading.note = "no disc diameter";
    return reading;
  }
  int factor = 1;
  while (std::max(grey.cols, grey.rows) > kSearchSidePx * factor) factor *= 2;
  cv::Mat small = grey;
  if (factor > 1) {
    cv::resize(grey, small, cv::Size(grey.cols / factor, grey.rows / factor), 0, 0, cv::INTER_AREA);
  }
  const double min_area = std::pow(std::min(small.cols, small.rows) / 40.0, 2);
  std::vector<std::pair<double, cv::RotatedRect>> blobs;  // area, ellipse on `small`
  for (int polarity : {cv::THRESH_BINARY, cv::THRESH_BINARY_INV}) {
    cv::Mat binary;
    cv::threshold(small, binary, 0, 255, polarity | cv::THRESH_OTSU);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(binary, contours, cv::RETR_LIST, cv::CHAIN_APPROX_NONE);
    for (const std::vector<cv::Point>& contour : contours) {
      if (contour.size() < 20) continue;
      const double area = cv::contourArea(contour);
      if (area < min_area) continue;
      const cv::Rect box = cv::boundingRect(contour);
      if (box.x <= 1 || box.y <= 1 || box.br().x >= small.cols - 1 ||
          box.br().y >= small.rows - 1) {
        continue;
      }
      const cv::RotatedRect ellipse = cv::fitEllipse(contour);
      const double major = std::max(ellipse.size.width, ellipse.size.height);
      const double minor = std::min(ellipse.size.width, ellipse.size.height);
      if (!(minor >= kMinRoundness * major)) continue;
      const double ellipse_area = CV_PI * major * minor / 4;
      if (std::abs(area / ellipse_area - 1) > kMaxAreaMismatch + 2.0 / major) continue;
      blobs.emplace_back(area, ellipse);
    }
  }
  std::sort(blobs.begin(), blobs.end(),
            [](const auto& a, const auto& b) { return a.first > b.first; });
  if (blobs.size() > 6) blobs.resize(6);
  std::optional<Disc> found;
  for (const auto& [area, ellipse] : blobs) {
    const cv::Point2d centre =
        (cv::Point2d(ellipse.center) + cv::Point2d(0.5, 0.5)) * factor - cv::Point2d(0.5, 0.5);
    const double radius = (ellipse.size.width + ellipse.size.height) / 4 * factor;
    const std::optional<Disc> disc = refined_disc(grey, centre, radius);
    if (!disc) continue;
    const double mean_radius = (disc->ellipse.size.width + disc->ellipse.size.height) / 4;
    if (disc->scatter_px > std::max(kEdgeScatterFloorPx, kMaxEdgeScatter * mean_radius)) continue;
    if (!found ||
        disc->scatter_px / mean_radius <
            found->scatter_px / ((found->ellipse.size.width + found->ellipse.size.height) / 4)) {
      found = disc;
    }
  }
  if (!found) {
    reading.note = "no disc";
    return reading;
  }
  const cv::RotatedRect& ellipse = found->ellipse;
  const double major = std::max(ellipse.size.width, ellipse.size.height);
  const double minor = std::min(ellipse.size.width, ellipse.size.height);
  reading.method = ScaleMethod::disc;
  reading.px_per_mm = major / diameter_mm;
  // The major axis from points spread round the whole edge: about twice the scatter over the
  // square root of the points on either half.
  reading.px_per_mm_se = 2 * found->scatter_px / std::sqrt(found->points / 2.0) / diameter_mm;
  reading.steep_angle = minor < (1 - kMarkerSteepAspect) * major;
  reading.ellipse = ellipse;
  reading.note = "disc of " + std::to_string(static_cast<int>(std::lround(major))) + " px";
  return reading;
}

}  // namespace meravel
