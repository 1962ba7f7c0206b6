// Shared by the automatic fit's tests: generated photographs of known W-curve objects and the
// fit state the fitting windows leave for them.
#pragma once

#include <cmath>
#include <opencv2/imgcodecs.hpp>
#include <vector>

#include "fit/auto_fit.h"
#include "fit/auto_fit_detail.h"
#include "fit/fit_W.h"
#include "tools/demo_photo.h"

namespace auto_fit_test {

// Degrees between two directions, 0..180.
inline double angle_between(double a, double b) {
  double d = std::fmod(std::fabs(a - b), 360.0);
  return std::min(d, 360.0 - d);
}

// A light object on a dark background. The outermost pixel frame counts as background, so on a
// light background the largest contour is the one just inside the frame, longer than any convex
// object's; a light object makes the object's own border the outline.
inline DemoLook light_object(bool noisy, unsigned seed) {
  DemoLook look;
  look.background_level = 60.0;
  look.object_level = 200.0;
  look.noise_sigma = noisy ? 6.0 : 0.0;
  look.blur_sigma = noisy ? 1.0 : 0.0;
  look.noise_seed = seed;
  return look;
}

// The fit state as the fitting windows leave it for a photograph: outline and distance map.
inline void prepare(FitState& state, const cv::Mat& photo, int rotation = 325) {
  state.source_image = photo;
  state.threshold = 131;
  state.rotation = rotation;
  state.deviation_width = 600;
  state.deviation_height = 100;
  state.deviation_image.create(100, 600, CV_8UC3);
  state.outline_contour = find_outline(state, photo);
  compute_outline_distance(state);
}

inline cv::Mat jpeg_round_trip(const cv::Mat& photo, int quality) {
  std::vector<uchar> bytes;
  cv::imencode(".jpg", photo, bytes, {cv::IMWRITE_JPEG_QUALITY, quality});
  return cv::imdecode(bytes, cv::IMREAD_COLOR);
}

// An object given by its pixel width instead of its width factor (rounded to a whole trackbar
// value, so that the truth is a setting the user could make).
inline DemoObject object(double lambda, double height, double pixel_width, double rotation,
                         double x, double y) {
  return {lambda, std::round(width_for_pixel_width(lambda, height, pixel_width)),
          height, rotation,
          x,      y};
}

// The continuous placement of the object as rendered.
inline auto_fit_detail::Placement placement_of(const DemoObject& o) {
  auto_fit_detail::Placement placement;
  placement.lambda = o.lambda;
  placement.height = o.height;
  placement.pixel_width = o.width / width_for_pixel_width(o.lambda, o.height, 1.0);
  placement.rotation_degrees = o.rotation_deg;
  placement.center_x = o.center_x;
  placement.center_y = o.center_y;
  return placement;
}

// The deviation energy at the object's own parameters.
inline double energy_at(FitState& state, const DemoObject& o) {
  const double p[6] = {o.lambda * 1000.0, o.width,    o.height,
                       o.rotation_deg,    o.center_x, o.center_y};
  return evaluate_parameters(state, p);
}

}  // namespace auto_fit_test
