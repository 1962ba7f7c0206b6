#include "tools/scale_photo.h"

#include <opencv2/aruco.hpp>
#include <opencv2/imgproc.hpp>
#include <random>

namespace meravel {

namespace {

constexpr int kShift = 8;  // sub-pixel bits of the drawn polygons
constexpr double kOne = 1 << kShift;

// A part of the photograph drawn at `factor` times its resolution and reduced again by area: each
// pixel then holds the drawn shapes' cover of it (to 1/factor^2), whatever their angle. Points
// given to `fill` are in photograph pixels.
class Supersampled {
 public:
  Supersampled(cv::Mat& image, cv::Rect box, int factor)
      : image_(image), box_(box & cv::Rect(0, 0, image.cols, image.rows)), factor_(factor) {
    cv::resize(image_(box_), canvas_, box_.size() * factor_, 0, 0, cv::INTER_NEAREST);
  }
  ~Supersampled() {
    cv::Mat reduced;
    cv::resize(canvas_, reduced, box_.size(), 0, 0, cv::INTER_AREA);
    reduced.copyTo(image_(box_));
  }
  Supersampled(const Supersampled&) = delete;
  Supersampled& operator=(const Supersampled&) = delete;

  void fill(const std::vector<cv::Point2d>& corners, double level) {
    std::vector<cv::Point> fixed;
    for (const cv::Point2d& p : corners) fixed.push_back(to_canvas(p));
    cv::fillConvexPoly(canvas_, fixed, cv::Scalar::all(level), cv::LINE_8, kShift);
  }
  void circle(cv::Point2d centre, double radius, double level) {
    cv::circle(canvas_, to_canvas(centre), cvRound(radius * factor_ * kOne), cv::Scalar::all(level),
               cv::FILLED, cv::LINE_8, kShift);
  }
  cv::Mat& canvas() { return canvas_; }
  cv::Point canvas_point(cv::Point2d p) const { return to_canvas(p) / (1 << kShift); }
  int factor() const { return factor_; }

 private:
  // A photograph pixel's centre (x, y) is the centre of its factor x factor block.
  cv::Point to_canvas(cv::Point2d p) const {
    return cv::Point(cvRound(((p.x - box_.x + 0.5) * factor_ - 0.5) * kOne),
                     cvRound(((p.y - box_.y + 0.5) * factor_ - 0.5) * kOne));
  }

  cv::Mat& image_;
  cv::Rect box_;
  int factor_;
  cv::Mat canvas_;
};

// The factor for a box: as fine as 8, but at most about 40 million canvas pixels.
int factor_for(cv::Rect box) {
  const double area = std::max(1.0, static_cast<double>(box.area()));
  return std::clamp(static_cast<int>(std::sqrt(4e7 / area)), 2, 8);
}

cv::Rect box_around(const std::vector<cv::Point2d>& points) {
  std::vector<cv::Point2f> p(points.begin(), points.end());
  const cv::Rect box = cv::boundingRect(p);
  return cv::Rect(box.x - 4, box.y - 4, box.width + 8, box.height + 8);
}

// The mapping of a reference's own millimetre frame (u along, v across) into the photograph.
struct Frame {
  cv::Point2d centre;
  cv::Point2d along;
  cv::Point2d across;
  double px_per_mm;
  double spacing_change = 0;  // of u over `extent_mm`
  double extent_mm = 1;

  // u of the centre frame runs -extent/2..extent/2; the scale grows linearly along u.
  cv::Point2d operator()(double u, double v) const {
    const double t = u / extent_mm;  // -0.5..0.5
    const double s = px_per_mm * (1 + spacing_change * t);
    return centre + along * (u * px_per_mm * (1 + spacing_change * t / 2)) + across * (v * s);
  }
};

void quad(Supersampled& canvas, const Frame& f, double u0, double v0, double u1, double v1,
          double level) {
  canvas.fill({f(u0, v0), f(u1, v0), f(u1, v1), f(u0, v1)}, level);
}

void draw_ruler(cv::Mat& canvas_image, const SceneRuler& ruler, double px_per_mm,
                std::mt19937& rng) {
  const double a = ruler.angle_deg * CV_PI / 180;
  Frame f{ruler.centre_px, {std::cos(a), std::sin(a)}, {-std::sin(a), std::cos(a)},
          px_per_mm,       ruler.spacing_change,       ruler.length_mm + 10};
  const double half_l = ruler.length_mm / 2 + 5, half_w = ruler.width_mm / 2;
  const cv::Rect box =
      box_around({f(-half_l, -half_w), f(half_l, -half_w), f(half_l, half_w), f(-half_l, half_w)});
  Supersampled image(canvas_image, box, factor_for(box));
  const bool metal = ruler.style == RulerStyle::metal;
  const double body = metal ? 170 : 232, ink = metal ? 70 : 25;
  // The body in bands across, so that steel shows a sheen.
  constexpr int kBands = 12;
  for (int b = 0; b < kBands; ++b) {
    const double v0 = -half_w + 2 * half_w * b / kBands,
                 v1 = -half_w + 2 * half_w * (b + 1) / kBands;
    const double sheen = metal ? 35 * std::sin(CV_PI * (b + 0.5) / kBands) : 0;
    quad(image, f, -half_l, v0, half_l, v1, body + sheen - (metal ? 20 : 0));
  }
  std::uniform_real_distribution<double> width(metal ? 0.12 : 0.14, metal ? 0.18 : 0.22);
  const double tick_width = width(rng);
  const int count = static_cast<int>(ruler.length_mm);
  for (int m = 0; m <= count; ++m) {
    const double u = m - ruler.length_mm / 2;
    const double length = m % 10 == 0 ? 0.5 : m % 5 == 0 ? 0.36 : 0.24;
    quad(image, f, u - tick_width / 2, -half_w, u + tick_width / 2, -half_w + length * 2 * half_w,
         ink);
    if (m % 10 == 0) {
      // The number, roughly upright in the ruler's frame: good enough as clutter near the ticks.
      const cv::Point2d at = f(u - 1.5, -half_w + 0.72 * 2 * half_w);
      cv::putText(image.canvas(), std::to_string(m / 10), image.canvas_point(at),
                  cv::FONT_HERSHEY_SIMPLEX, px_per_mm * image.factor() * half_w / 40,
                  cv::Scalar::all(ink), std::max(1, cvRound(px_per_mm * image.factor() / 4)),
                  cv::LINE_8);
    }
  }
}

void draw_marker(cv::Mat& canvas_image, const SceneMarker& marker, double px_per_mm) {
  const double a = marker.angle_deg * CV_PI / 180;
  Frame f{marker.centre_px,
          {std::cos(a), std::sin(a)},
          {-std::sin(a) * marker.foreshortening, std::cos(a) * marker.foreshortening},
          px_per_mm};
  cv::Mat bits;
  cv::aruco::getPredefinedDictionary(cv::aruco::DICT_4X4_50)->drawMarker(marker.id, 6, bits, 1);
  const double cell = marker.side_mm / 6, half = marker.side_mm / 2;
  const double quiet = half + 1.5 * cell;
  const cv::Rect box =
      box_around({f(-quiet, -quiet), f(quiet, -quiet), f(quiet, quiet), f(-quiet, quiet)});
  Supersampled image(canvas_image, box, factor_for(box));
  quad(image, f, -half - 1.5 * cell, -half - 1.5 * cell, half + 1.5 * cell, half + 1.5 * cell, 236);
  for (int r = 0; r < 6; ++r) {
    for (int c = 0; c < 6; ++c) {
      if (bits.at<uchar>(r, c) != 0) continue;
      quad(image, f, -half + c * cell, -half + r * cell, -half + (c + 1) * cell,
           -half + (r + 1) * cell, 22);
    }
  }
}

void draw_disc(cv::Mat& canvas_image, const SceneDisc& disc, double px_per_mm) {
  const double r = disc.diameter_mm / 2 * px_per_mm;
  const cv::Point2d c = disc.centre_px;
  const cv::Rect box = box_around({c - cv::Point2d(r, r), c + cv::Point2d(r, r)});
  Supersampled image(canvas_image, box, factor_for(box));
  image.circle(c, r, disc.level - 25);
  image.circle(c, 0.94 * r, disc.level);
}

}  // namespace

ScaleScene random_scale_scene(cv::Size size_px, const std::string& kind, unsigned seed) {
  std::mt19937 rng(seed);
  const auto uniform = [&](double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
  };
  ScaleScene scene;
  scene.size_px = size_px;
  const double egg_mm = uniform(40, 62);
  // The egg fills at most 45 % of the height, the reference lies in the rest below it.
  scene.px_per_mm = std::min(size_px.width / uniform(110, 300), 0.45 * size_px.height / egg_mm);
  const double s = scene.px_per_mm;
  scene.egg.height = egg_mm * s;
  scene.egg.width = 2800.0 * scene.egg.height / 300.0;
  scene.egg.rotation_deg = uniform(-30, 30);
  scene.egg.center_x = size_px.width * uniform(0.35, 0.65);
  scene.egg.center_y = 0.05 * size_px.height + scene.egg.height / 2;
  scene.look.background_level = uniform(20, 60);
  scene.look.blur_sigma = uniform(0.6, 1.4);
  scene.look.noise_sigma = uniform(2, 5);
  scene.look.noise_seed = seed;

  const double below = scene.egg.center_y + 0.6 * scene.egg.height;  // under the egg's lowest point
  const double room_mm = (size_px.height - below) / s;               // height left, millimetres
  const cv::Point2d lower(size_px.width * uniform(0.42, 0.58), (below + size_px.height) / 2);
  if (kind == "ruler") {
    scene.ruler.style = uniform(0, 1) < 0.5 ? RulerStyle::printed : RulerStyle::metal;
    scene.ruler.width_mm = std::min(uniform(15, 30), 0.5 * room_mm);
    // At most as steep as leaves the ruler's ends inside the room below the egg.
    const double steepest = std::atan2(0.8 * room_mm - scene.ruler.width_mm, 100) * 180 / CV_PI;
    const double tilt = uniform(-1, 1) * std::clamp(steepest, 0.0, 25.0);
    scene.ruler.angle_deg = tilt + (uniform(0, 1) < 0.5 ? 180 : 0);
    const double across_mm = 0.85 * size_px.width / s / std::cos(tilt * CV_PI / 180) - 10;
    scene.ruler.length_mm =
        std::floor(std::min({across_mm, uniform(60, 160),
                             (0.8 * room_mm - scene.ruler.width_mm) /
                                 std::max(0.05, std::sin(std::abs(tilt) * CV_PI / 180))}));
    // Centred so that the whole ruler (and 5 mm of it beyond the ticks at each end) shows.
    const double extent_px = (scene.ruler.length_mm + 10) * s * std::cos(tilt * CV_PI / 180);
    const double slack = std::max(0.0, (0.95 * size_px.width - extent_px) / 2);
    scene.ruler.centre_px = {size_px.width / 2.0 + uniform(-1, 1) * slack, lower.y};
  } else if (kind == "marker") {
    // The marker and its quiet zone, turned, fit in the room below the egg.
    scene.marker.side_mm =
        std::round(std::min(uniform(15, 40), 0.8 * room_mm / 1.5 / std::sqrt(2.0)));
    scene.marker.id = static_cast<int>(uniform(0, 50));
    scene.marker.angle_deg = uniform(0, 360);
    scene.marker.centre_px = lower;
  } else if (kind == "disc") {
    scene.disc.diameter_mm = std::min(uniform(16, 30), 0.8 * room_mm);
    scene.disc.level = uniform(140, 200);
    scene.disc.centre_px = lower;
  }
  return scene;
}

cv::Mat render_scale_photo(const ScaleScene& scene) {
  DemoLook sharp = scene.look;
  sharp.blur_sigma = 0;
  sharp.noise_sigma = 0;
  cv::Mat image = render_demo_photo(scene.size_px, scene.egg, sharp);
  std::mt19937 rng(scene.look.noise_seed);
  if (scene.ruler.length_mm > 0) draw_ruler(image, scene.ruler, scene.px_per_mm, rng);
  if (scene.marker.side_mm > 0) draw_marker(image, scene.marker, scene.px_per_mm);
  if (scene.disc.diameter_mm > 0) draw_disc(image, scene.disc, scene.px_per_mm);
  if (scene.look.blur_sigma > 0) {
    cv::GaussianBlur(image, image, cv::Size(0, 0), scene.look.blur_sigma);
  }
  if (scene.look.noise_sigma > 0) {
    cv::Mat noise(image.size(), CV_16SC3);
    cv::RNG noise_rng(scene.look.noise_seed);
    noise_rng.fill(noise, cv::RNG::NORMAL, 0.0, scene.look.noise_sigma);
    cv::Mat sum;
    image.convertTo(sum, CV_16SC3);
    sum += noise;
    sum.convertTo(image, CV_8UC3);
  }
  return image;
}

}  // namespace meravel
