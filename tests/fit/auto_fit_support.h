// Shared by the automatic fit's tests: generated photographs of known W-curve objects and the
// fit state the session's set-up leaves for them.
#pragma once

#include <cmath>
#include <iostream>
#include <opencv2/imgcodecs.hpp>
#include <vector>

#include "fit/auto_fit.h"
#include "fit/auto_fit_detail.h"
#include "fit/fit_W.h"
#include "fit/geometry.h"
#include "tools/demo_photo.h"

using namespace meravel;

namespace auto_fit_test {

// Degrees between two directions, 0..180.
inline double angle_between(double a, double b) { return degrees_between(a, b); }

// A light object on a dark background (fit_test_look): on a light background the largest contour
// would be the one just inside the image's frame.
inline DemoLook light_object(bool noisy, unsigned seed) { return fit_test_look(noisy, seed); }

// The fit state as the session's set-up leaves it for a photograph (no cut-offs unless given),
// with the rotation that tells key a which end is the top.
inline void prepare(FitState& state, const cv::Mat& photo, int rotation = 325, int threshold = 131,
                    CutOffs cut_offs = {0, 0}) {
  SessionStart start;
  start.threshold = threshold;
  start.cut_offs = cut_offs;
  prepare_fit(state, photo, start);
  state.model.rotation = rotation;
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
  const ParameterVector p = {o.lambda * 1000.0, o.width,    o.height,
                             o.rotation_deg,    o.center_x, o.center_y};
  return evaluate_parameters(state, p);
}

// The deviation energy of a fit's own values.
inline double energy_of(FitState& state, const AutoFitResult& r) {
  return evaluate_parameters(state, parameter_vector(r.model));
}

}  // namespace auto_fit_test
