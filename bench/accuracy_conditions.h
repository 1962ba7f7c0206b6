// The photographing conditions of the accuracy benchmark: generated objects of known lambda, 48 to
// 800 px long, clear of the border, touching it or cut by it, under uneven light, strong JPEG
// compression, a threshold set off, elongated, nearly round, or lying and longer than the
// photograph is high.
#pragma once

#include <algorithm>
#include <cmath>
#include <opencv2/imgcodecs.hpp>
#include <random>
#include <string>
#include <vector>

#include "auto_fit_photos.h"

using namespace meravel;

enum class Condition {
  kClean,         // no noise, no blur, lossless
  kNoisy,         // noise sigma 6, blur 1.0, JPEG quality 75
  kTouching,      // noisy, the object reaching into the outermost pixel frame on one side
  kCut,           // noisy, the object cut by the border by 0-10 % of its length
  kIllumination,  // noisy, light rising by 30-60 grey levels along the object
  kJpeg40,        // noise sigma 6, blur 1.0, JPEG quality 40
  kThreshold,     // noisy, the threshold 20 above or below 131
  kElongated,     // noisy, length 2.5 times the breadth
  kRound,         // noisy, breadth 0.95 to 1.05 times the length
  kLyingLong,     // noisy, lying, 3 to 25 % longer than the photograph is high
};

inline const char* condition_name(Condition c) {
  switch (c) {
    case Condition::kClean:
      return "clean";
    case Condition::kNoisy:
      return "noisy";
    case Condition::kTouching:
      return "touching the border";
    case Condition::kCut:
      return "cut by the border 0-10 %";
    case Condition::kIllumination:
      return "uneven light 30-60";
    case Condition::kJpeg40:
      return "JPEG quality 40";
    case Condition::kThreshold:
      return "threshold +-20";
    case Condition::kElongated:
      return "elongated 2.5:1";
    case Condition::kRound:
      return "nearly round";
    case Condition::kLyingLong:
      return "lying, longer than high";
  }
  return "";
}

// One generated photograph with what the benchmark needs to judge a fit of it.
struct Scene {
  DemoObject object;
  cv::Mat photo;
  int threshold = 131;
  double longest_side = 0;  // the larger of the object's height and pixel width
  double cut_px = 0;        // how far the object reaches beyond the image's edge (touching, cut)
};

// The object's bounding box in image coordinates.
inline cv::Rect2d object_box(const DemoObject& o) {
  double min_x = HUGE_VAL, min_y = HUGE_VAL, max_x = -HUGE_VAL, max_y = -HUGE_VAL;
  for (const cv::Point2d& p : demo_object_outline(o)) {
    min_x = std::min(min_x, p.x);
    min_y = std::min(min_y, p.y);
    max_x = std::max(max_x, p.x);
    max_y = std::max(max_y, p.y);
  }
  return {min_x, min_y, max_x - min_x, max_y - min_y};
}

// Adds a light ramp of `amplitude` grey levels along `angle_rad` over `length` px around
// (cx, cy), flat beyond: the light rises by `amplitude` from one end of the object to the other.
inline void add_uneven_light(cv::Mat& photo, double amplitude, double angle_rad, double cx,
                             double cy, double length) {
  const double ux = std::cos(angle_rad), uy = std::sin(angle_rad);
  for (int y = 0; y < photo.rows; ++y) {
    cv::Vec3b* row = photo.ptr<cv::Vec3b>(y);
    for (int x = 0; x < photo.cols; ++x) {
      const double along = std::clamp(((x - cx) * ux + (y - cy) * uy) / length, -0.5, 0.5);
      const double add = amplitude * along;
      for (int k = 0; k < 3; ++k) row[x][k] = cv::saturate_cast<uchar>(row[x][k] + add);
    }
  }
}

inline cv::Mat jpeg(const cv::Mat& photo, int quality) {
  std::vector<uchar> bytes;
  cv::imencode(".jpg", photo, bytes, {cv::IMWRITE_JPEG_QUALITY, quality});
  return cv::imdecode(bytes, cv::IMREAD_COLOR);
}

// A scene of `condition` with an object whose longest side is about `longest` px. Whole-number
// parameters (lambda in thousandths), as a user could set them. `index` alternates the threshold's
// sign; `seed` fixes the noise.
inline Scene make_scene(Condition condition, double longest, int index, std::mt19937& random,
                        unsigned seed) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const auto between = [&](double low, double high) { return low + (high - low) * unit(random); };
  for (;;) {
    Scene scene;
    const double lambda =
        std::round(1000.0 * std::exp(between(std::log(0.6), std::log(3.0)))) / 1000.0;
    double aspect = between(0.5, 1.2);  // pixel width / height
    if (condition == Condition::kElongated) aspect = unit(random) < 0.5 ? 0.4 : 2.5;
    if (condition == Condition::kRound) aspect = between(0.95, 1.05);
    if (condition == Condition::kLyingLong) aspect = between(0.5, 0.75);
    double rotation = std::floor(between(0.0, 360.0));
    if (condition == Condition::kLyingLong)
      rotation = (unit(random) < 0.5 ? 90.0 : 270.0) + std::round(between(-10.0, 10.0));
    const double height = std::round(aspect <= 1.0 ? longest : longest / aspect);
    const double width = std::round(width_for_pixel_width(lambda, height, height * aspect));
    DemoObject o{lambda, width, height, rotation, 0.0, 0.0};
    const cv::Rect2d box = object_box(o);  // around the centre (0, 0)

    // The photograph: 4:3, the object's box 40 to 80 % of it, or lying across one too low for it.
    cv::Size size;
    if (condition == Condition::kLyingLong) {
      const int h = static_cast<int>(std::floor(height / between(1.03, 1.25)));
      if (box.height > h - 10) continue;
      size = {std::max(static_cast<int>(std::ceil(h * 4.0 / 3.0)),
                       static_cast<int>(std::ceil(box.width)) + 20),
              h};
    } else {
      const double fill = between(0.4, 0.8);
      const int h = static_cast<int>(std::ceil(std::max(box.height, box.width * 3.0 / 4.0) / fill));
      size = {static_cast<int>(std::ceil(h * 4.0 / 3.0)), h};
    }
    // The centre, whole pixels, the box at least 4 px inside the image on every side...
    const double low_x = 4 - box.x, high_x = size.width - 5 - (box.x + box.width);
    const double low_y = 4 - box.y, high_y = size.height - 5 - (box.y + box.height);
    if (high_x < low_x || high_y < low_y) continue;
    o.center_x = std::round(between(low_x, high_x));
    o.center_y = std::round(between(low_y, high_y));
    // ...or reaching beyond one side: into the outer pixel frame (touching) or cut by up to 10 %.
    if (condition == Condition::kTouching || condition == Condition::kCut) {
      const double reach =
          condition == Condition::kTouching ? between(-1.0, 0.0) : between(0.5, 0.10 * longest);
      // The image's edge lies half a pixel outside the outer pixel centres.
      switch (static_cast<int>(between(0.0, 4.0))) {
        case 0:
          o.center_x = std::round(-0.5 - reach - box.x);
          break;
        case 1:
          o.center_x = std::round(size.width - 0.5 + reach - (box.x + box.width));
          break;
        case 2:
          o.center_y = std::round(-0.5 - reach - box.y);
          break;
        default:
          o.center_y = std::round(size.height - 0.5 + reach - (box.y + box.height));
          break;
      }
      const cv::Rect2d placed = object_box(o);
      scene.cut_px = std::max({-0.5 - placed.x, placed.x + placed.width - (size.width - 0.5),
                               -0.5 - placed.y, placed.y + placed.height - (size.height - 0.5)});
      if (condition == Condition::kTouching && !(scene.cut_px >= -1.0 && scene.cut_px <= 0.0))
        continue;
      if (condition == Condition::kCut && !(scene.cut_px > 0.0 && scene.cut_px <= 0.1 * longest))
        continue;
    }
    scene.object = o;
    scene.longest_side = std::max(height, height * aspect);
    const bool noisy = condition != Condition::kClean;
    scene.photo = render_demo_photo(size, o, fit_test_look(noisy, seed));
    if (condition == Condition::kIllumination)
      add_uneven_light(scene.photo, between(30.0, 60.0), between(0.0, 2.0 * kPi), o.center_x,
                       o.center_y, longest);
    if (noisy) scene.photo = jpeg(scene.photo, condition == Condition::kJpeg40 ? 40 : 75);
    if (condition == Condition::kThreshold) scene.threshold = index % 2 == 0 ? 151 : 111;
    return scene;
  }
}
