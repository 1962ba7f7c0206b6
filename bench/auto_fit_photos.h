// Shared by the automatic fit's benchmarks: generated photographs of known W-curve objects and
// the fit state the fitting windows would leave for them.
#pragma once

#include <algorithm>
#include <cmath>
#include <opencv2/imgcodecs.hpp>
#include <random>
#include <vector>

#include "fit/auto_fit.h"
#include "fit/fit_W.h"
#include "tools/demo_photo.h"

using namespace meravel;

// Objects over rotations 0-359, lambda 0.6 to 3 (evenly in log lambda), the larger of height and
// pixel width 10 % to 80 % of the shorter image side, pixel width 0.5 to 1.2 times the height,
// placed wholly inside the image. Whole-number parameters, as a user could set them.
inline std::vector<DemoObject> random_objects(cv::Size size, int count, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<DemoObject> objects;
  const double side = std::min(size.width, size.height);
  while (static_cast<int>(objects.size()) < count) {
    const double lambda =
        std::round(1000.0 * std::exp(std::log(0.6) + unit(random) * std::log(3.0 / 0.6))) / 1000.0;
    const double rotation = std::floor(unit(random) * 360.0);
    const double extent = side * (0.1 + 0.7 * unit(random));
    const double aspect = 0.5 + 0.7 * unit(random);
    const double height = std::round(aspect <= 1.0 ? extent : extent / aspect);
    const double pixel_width = height * aspect;
    const double width = std::round(width_for_pixel_width(lambda, height, pixel_width));
    const double x = std::round(size.width * (0.2 + 0.6 * unit(random)));
    const double y = std::round(size.height * (0.2 + 0.6 * unit(random)));
    const DemoObject object{lambda, width, height, rotation, x, y};
    // Drawn again unless the object lies wholly inside, clear of the image's outer frame.
    bool clear = true;
    for (const cv::Point2d& p : demo_object_outline(object))
      clear = clear && p.x >= 4 && p.y >= 4 && p.x <= size.width - 5 && p.y <= size.height - 5;
    if (clear) objects.push_back(object);
  }
  return objects;
}

inline cv::Mat benchmark_photo(cv::Size size, const DemoObject& object, bool noisy, unsigned seed) {
  cv::Mat photo = render_demo_photo(size, object, fit_test_look(noisy, seed));
  if (!noisy) return photo;
  std::vector<uchar> bytes;
  cv::imencode(".jpg", photo, bytes, {cv::IMWRITE_JPEG_QUALITY, 75});
  return cv::imdecode(bytes, cv::IMREAD_COLOR);
}

// The state at the start of a session on `photo`, as the fitting windows set it up
// (prepare_fit): outline and distance map, width 6W, height 3H/4, translation (W/2, H/2), lambda
// 1.1, rotation 325, the given threshold and cut-offs (none by default).
inline void session_start(FitState& state, const cv::Mat& photo, int threshold = 131,
                          int cut_off_top = 0, int cut_off_bottom = 0) {
  SessionStart start;
  start.threshold = threshold;
  start.cut_offs = {cut_off_top, cut_off_bottom};
  state = prepare_fit(photo, start);
}

// The object's lambda as seen from a fit with this rotation: a W-curve turned round is the
// W-curve with 1/lambda, so a fit whose top is the object's bottom is judged against 1/lambda.
inline double lambda_as_fitted(const DemoObject& object, double fitted_rotation) {
  return degrees_between(fitted_rotation, object.rotation_deg) > 90.0 ? 1.0 / object.lambda
                                                                      : object.lambda;
}
