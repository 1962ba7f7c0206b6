#include "fit/top_end.h"

#include <cmath>

#include "fit/geometry.h"

namespace meravel {

namespace {

// The unit vector from the model's centre towards its top end.
cv::Point2d towards_top(const ModelParameters& m) {
  const double theta = radians_from_degrees(m.rotation);
  return {std::sin(theta), -std::cos(theta)};
}

}  // namespace

cv::Point2d model_top_end(const ModelParameters& m) {
  return cv::Point2d(m.translation_x, m.translation_y) + towards_top(m) * (m.height / 2.0);
}

cv::Point2d model_bottom_end(const ModelParameters& m) {
  return cv::Point2d(m.translation_x, m.translation_y) - towards_top(m) * (m.height / 2.0);
}

ModelParameters flipped_model(const ModelParameters& m) {
  ModelParameters flipped = m;
  flipped.rotation = wrapped_degrees(static_cast<long>(m.rotation) + 180);
  if (m.lambda_milli <= 0 || m.height <= 0) return flipped;
  const double lambda = m.lambda_milli / 1000.0;
  flipped.lambda_milli = static_cast<int>(std::lround(1e6 / m.lambda_milli));
  if (flipped.lambda_milli < 1) flipped.lambda_milli = 1;
  const double pixel_width = pixel_width_for_width(lambda, m.height, m.width);
  flipped.width = static_cast<int>(
      std::lround(width_for_pixel_width(flipped.lambda_milli / 1000.0, m.height, pixel_width)));
  return flipped;
}

}  // namespace meravel
