#include "tools/demo_photo_conditions.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "fit/geometry.h"

namespace meravel {

const std::vector<DemoConditionInfo> kDemoConditions = {
    {DemoCondition::kClean, "clean"},
    {DemoCondition::kShading, "shading"},
    {DemoCondition::kCastShadow, "cast_shadow"},
    {DemoCondition::kSpeckledShell, "speckled_shell"},
    {DemoCondition::kBrownOnPaper, "brown_on_paper"},
    {DemoCondition::kBlueGreenOnGrey, "blue_green_on_grey"},
    {DemoCondition::kGlare, "glare"},
    {DemoCondition::kRuler, "ruler"},
    {DemoCondition::kLargeCard, "large_card"},
    {DemoCondition::kHand, "hand"},
    {DemoCondition::kCloth, "cloth"},
    {DemoCondition::kJpegNoise, "jpeg_noise"},
};

namespace {

constexpr int kShift = 8;  // fixed-point bits of the drawn polygons: 1/256 px

std::vector<cv::Point> fixed_point(const std::vector<cv::Point2d>& points) {
  std::vector<cv::Point> out;
  out.reserve(points.size());
  for (const cv::Point2d& p : points) {
    out.emplace_back(static_cast<int>(std::lround(p.x * (1 << kShift))),
                     static_cast<int>(std::lround(p.y * (1 << kShift))));
  }
  return out;
}

}  // namespace

cv::Mat egg_coverage(cv::Size size, const DemoObject& object) {
  cv::Mat coverage = cv::Mat::zeros(size, CV_8UC1);
  const std::vector<std::vector<cv::Point>> polygon{fixed_point(demo_object_outline(object))};
  cv::fillPoly(coverage, polygon, cv::Scalar(255), cv::LINE_AA, kShift);
  cv::Mat alpha;
  coverage.convertTo(alpha, CV_32F, 1.0 / 255.0);
  return alpha;
}

namespace {

cv::Mat flat(cv::Size size, cv::Scalar bgr) { return cv::Mat(size, CV_32FC3, bgr); }

// Multiplies each pixel by `factor` (CV_32FC1).
void scale_by(cv::Mat& image, const cv::Mat& factor) {
  cv::Mat three;
  cv::merge(std::vector<cv::Mat>{factor, factor, factor}, three);
  cv::multiply(image, three, image);
}

// Light falling off towards the corners and across the photograph along `angle_rad`.
cv::Mat light_field(cv::Size size, double vignette, double gradient, double angle_rad) {
  cv::Mat factor(size, CV_32FC1);
  const double cx = size.width / 2.0, cy = size.height / 2.0, r = std::hypot(cx, cy);
  for (int y = 0; y < size.height; ++y) {
    float* row = factor.ptr<float>(y);
    for (int x = 0; x < size.width; ++x) {
      const double u = (x - cx) / r, v = (y - cy) / r;
      const double along = u * std::cos(angle_rad) + v * std::sin(angle_rad);
      row[x] = static_cast<float>((1.0 - vignette * (u * u + v * v)) * (1.0 + gradient * along));
    }
  }
  return factor;
}

}  // namespace

void weave(cv::Mat& ground, double depth, unsigned seed) {
  cv::RNG rng(seed);
  const int pitch = std::max(3, ground.rows / 150);
  std::vector<float> rows(ground.rows / pitch + 1), cols(ground.cols / pitch + 1);
  for (float& t : rows) t = static_cast<float>(rng.uniform(-depth, depth));
  for (float& t : cols) t = static_cast<float>(rng.uniform(-depth, depth));
  for (int y = 0; y < ground.rows; ++y) {
    cv::Vec3f* row = ground.ptr<cv::Vec3f>(y);
    for (int x = 0; x < ground.cols; ++x) {
      const float t = ((x / pitch + y / pitch) % 2 ? rows[y / pitch] : cols[x / pitch]);
      row[x] *= 1.0f + t;
    }
  }
}

DemoObject demo_condition_egg(cv::Size size_px, unsigned seed) {
  cv::RNG rng(seed * 7919u + 17u);
  DemoObject egg;
  egg.lambda = rng.uniform(0.85, 1.25);
  egg.height = std::round(0.45 * size_px.height * rng.uniform(0.9, 1.1));
  egg.width = width_for_pixel_width(egg.lambda, egg.height, 0.75 * egg.height);
  egg.rotation_deg = std::round(rng.uniform(-40.0, 40.0) + 360.0);
  egg.rotation_deg = std::fmod(egg.rotation_deg, 360.0);
  egg.center_x = std::round(size_px.width * rng.uniform(0.46, 0.54));
  egg.center_y = std::round(size_px.height * rng.uniform(0.45, 0.52));
  return egg;
}

cv::Mat render_condition_photo(cv::Size size, const DemoObject& object, DemoCondition condition,
                               unsigned seed) {
  cv::RNG rng(seed);
  const double unit = std::min(size.width, size.height) / 100.0;  // 1 % of the shorter side
  const cv::Mat alpha = egg_coverage(size, object);
  const cv::Rect egg_box = cv::boundingRect(alpha > 0);

  // The ground and the shell's colour (BGR, 0..255).
  cv::Scalar ground_colour(38, 42, 46), shell_colour(196, 214, 228);
  if (condition == DemoCondition::kCastShadow) ground_colour = cv::Scalar(170, 172, 175);
  if (condition == DemoCondition::kBrownOnPaper) {
    ground_colour = cv::Scalar(226, 230, 232);
    shell_colour = cv::Scalar(72, 112, 168);
  }
  if (condition == DemoCondition::kBlueGreenOnGrey) {
    ground_colour = cv::Scalar(150, 150, 150);
    shell_colour = cv::Scalar(178, 186, 140);
  }
  if (condition == DemoCondition::kCloth) ground_colour = cv::Scalar(60, 70, 150);
  cv::Mat ground = flat(size, ground_colour);
  if (condition == DemoCondition::kCloth) weave(ground, 0.12, seed);

  // Other objects lie on the ground, clear of the egg.
  if (condition == DemoCondition::kRuler) {
    const cv::Rect ruler(static_cast<int>(0.1 * size.width), egg_box.br().y + 3 * unit,
                         static_cast<int>(0.8 * size.width), static_cast<int>(5 * unit));
    cv::rectangle(ground, ruler & cv::Rect({0, 0}, size), cv::Scalar(225, 230, 232), cv::FILLED);
    for (int x = ruler.x + 2; x < ruler.br().x - 2; x += std::max(2, static_cast<int>(unit))) {
      cv::line(ground, {x, ruler.y}, {x, ruler.y + ruler.height / 3}, cv::Scalar(30, 30, 30), 1);
    }
  }
  if (condition == DemoCondition::kLargeCard) {
    const int right = std::max(static_cast<int>(4 * unit), egg_box.x - static_cast<int>(3 * unit));
    cv::rectangle(ground,
                  cv::Rect(static_cast<int>(2 * unit), static_cast<int>(8 * unit),
                           right - static_cast<int>(2 * unit), size.height - 16 * unit),
                  cv::Scalar(235, 238, 240), cv::FILLED);
  }
  if (condition == DemoCondition::kHand) {
    // An arm from the right border, a palm and four fingers reaching towards the egg.
    const cv::Scalar skin(40, 55, 80);
    const int left = egg_box.br().x + static_cast<int>(6 * unit);
    const cv::Point palm(left + static_cast<int>(12 * unit), size.height / 2);
    cv::rectangle(ground, cv::Rect(palm.x, palm.y - 10 * unit, size.width, 20 * unit), skin,
                  cv::FILLED);
    cv::ellipse(ground, palm, cv::Size(12 * unit, 14 * unit), 0, 0, 360, skin, cv::FILLED);
    for (int f = 0; f < 4; ++f) {
      const cv::Point base(palm.x - static_cast<int>(8 * unit),
                           palm.y + static_cast<int>((f - 1.5) * 6 * unit));
      cv::line(ground, base, base - cv::Point(static_cast<int>(std::max(1.0, 4 * unit)), 0), skin,
               static_cast<int>(4 * unit));
    }
  }
  if (condition == DemoCondition::kCastShadow) {
    cv::Mat shadow;
    const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, 8 * unit, 0, 1, 6 * unit);
    cv::warpAffine(alpha, shadow, shift, size);
    cv::GaussianBlur(shadow, shadow, cv::Size(), 4 * unit);
    scale_by(ground, 1.0 - 0.45 * shadow);
  }

  cv::Mat shell = flat(size, shell_colour);
  // The shell darkens towards its lower right, as lit from the upper left.
  {
    const double r = 0.5 * object.height;
    cv::Mat factor(size, CV_32FC1);
    for (int y = 0; y < size.height; ++y) {
      float* row = factor.ptr<float>(y);
      for (int x = 0; x < size.width; ++x) {
        const double along = ((x - object.center_x) + (y - object.center_y)) / (2.0 * r);
        row[x] = static_cast<float>(1.0 - 0.12 * std::clamp(along, -1.0, 1.0));
      }
    }
    scale_by(shell, factor);
  }
  if (condition == DemoCondition::kSpeckledShell) {
    for (int k = 0; k < 250; ++k) {
      const cv::Point at(rng.uniform(egg_box.x, egg_box.br().x),
                         rng.uniform(egg_box.y, egg_box.br().y));
      cv::circle(shell, at, std::max(1, static_cast<int>(rng.uniform(0.2, 0.9) * unit)),
                 cv::Scalar(40, 55, 85), cv::FILLED, cv::LINE_AA);
    }
  }

  cv::Mat photo = ground.clone();
  scale_by(photo, 1.0 - alpha);
  cv::Mat egg = shell.clone();
  scale_by(egg, alpha);
  photo += egg;

  if (condition == DemoCondition::kGlare) {
    const cv::Point spot(
        std::max(static_cast<int>(4 * unit), egg_box.x - static_cast<int>(8 * unit)),
        egg_box.y + egg_box.height / 3);
    cv::circle(photo, spot, static_cast<int>(2 * unit), cv::Scalar(255, 255, 255), cv::FILLED);
    const cv::Point highlight(egg_box.x + egg_box.width / 3, egg_box.y + egg_box.height / 4);
    cv::circle(photo, highlight, static_cast<int>(3 * unit), cv::Scalar(255, 255, 255), cv::FILLED);
  }
  if (condition == DemoCondition::kShading) {
    scale_by(photo, light_field(size, 0.45, 0.5, rng.uniform(0.0, 2 * CV_PI)));
  }

  const double blur = std::max(0.7, 0.12 * unit);
  cv::GaussianBlur(photo, photo, cv::Size(), blur);
  cv::Mat noise(size, CV_32FC3);
  cv::theRNG().state = seed + 1;
  rng.fill(noise, cv::RNG::NORMAL, 0.0, condition == DemoCondition::kJpegNoise ? 9.0 : 2.5);
  photo += noise;
  cv::Mat out;
  photo.convertTo(out, CV_8UC3);
  if (condition == DemoCondition::kJpegNoise) {
    std::vector<uchar> bytes;
    cv::imencode(".jpg", out, bytes, {cv::IMWRITE_JPEG_QUALITY, 40});
    out = cv::imdecode(bytes, cv::IMREAD_COLOR);
  }
  return out;
}

}  // namespace meravel
