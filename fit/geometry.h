// The small maths shared by the engine, the tools, the benchmarks and the tests: pi and angles,
// truncation to the engine's 32-bit integers, and the W-curve's widest point.
//
// Everything here is plain IEEE double arithmetic written once, so that every user gets the same
// bits: the model truncates many doubles toward zero, and one rounding more or less flips a pixel.
#pragma once

#include <algorithm>
#include <climits>
#include <cmath>

namespace meravel {

inline constexpr double kPi = 3.14159265358979323846;

// degrees * pi / 180 and radians * 180 / pi, in that order of operations.
inline double radians_from_degrees(double degrees) { return degrees * kPi / 180; }
inline double degrees_from_radians(double radians) { return radians * 180 / kPi; }

// A whole number of degrees wrapped into 0..359.
inline int wrapped_degrees(long degrees) {
  const long wrapped = degrees % 360;
  return static_cast<int>(wrapped < 0 ? wrapped + 360 : wrapped);
}

// Degrees wrapped into [0, 360).
inline double wrapped_degrees(double degrees) {
  const double wrapped = std::fmod(degrees, 360.0);
  return wrapped < 0.0 ? wrapped + 360.0 : wrapped;
}

// The angle between two directions given in degrees, 0..180.
inline double degrees_between(double a, double b) {
  const double difference = wrapped_degrees(a - b);
  return std::min(difference, 360.0 - difference);
}

// Truncation toward zero, saturated to the 32-bit range; NaN gives 0.
inline int saturating_trunc(double value) {
  if (std::isnan(value)) return 0;
  if (value <= -2147483648.0) return INT_MIN;
  if (value >= 2147483647.0) return INT_MAX;
  return static_cast<int>(value);
}

// Truncation toward zero into a 32-bit integer; false, with *result untouched, when the value is
// not a number or does not fit.
inline bool trunc_to_int(double value, int* result) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return false;
  *result = static_cast<int>(value);
  return true;
}

// The W-curve's widest point. With D(t) = (h/2) e^t + e^(-lambda t) the model's offset from its
// axis is a / D(t) (a = lambda * width); D is smallest where (h/2) e^t = lambda e^(-lambda t), at
// depth h lambda / (1 + lambda) below the top. Lambda and height must be > 0. Not truncated: the
// continuous model, of which the engine's whole-pixel model falls short by under a pixel a side.

// The smallest D(t).
inline double widest_point_denominator(double lambda, double height) {
  const double t = std::log(2.0 * lambda / height) / (1.0 + lambda);
  return 0.5 * height * std::exp(t) + std::exp(-lambda * t);
}

// The width factor that makes the model `pixel_width` pixels wide: pixel_width * D_min / (2
// lambda).
inline double width_for_pixel_width(double lambda, double height, double pixel_width) {
  return pixel_width * widest_point_denominator(lambda, height) / (2.0 * lambda);
}

// The pixel width of the model with this width factor: the inverse of width_for_pixel_width.
inline double pixel_width_for_width(double lambda, double height, double width) {
  return width / width_for_pixel_width(lambda, height, 1.0);
}

}  // namespace meravel
