#include "fit/model_top.h"

#include <cmath>

namespace meravel {

bool keeps_top(int rotation, int reference) {
  // Clockwise from the reference's top, 0..359.
  const long apart = ((static_cast<long>(rotation) - reference) % 360 + 360) % 360;
  return apart <= 90 || apart > 270;
}

auto_fit_detail::Placement turned_round(const auto_fit_detail::Placement& q) {
  auto_fit_detail::Placement turned = q;
  turned.lambda = 1.0 / q.lambda;
  turned.rotation_degrees = std::fmod(q.rotation_degrees + 180.0, 360.0);
  if (turned.rotation_degrees < 0.0) turned.rotation_degrees += 360.0;
  return turned;
}

auto_fit_detail::Placement quarter_turned(const auto_fit_detail::Placement& q) {
  auto_fit_detail::Placement turned = q;
  turned.height = q.pixel_width;
  turned.pixel_width = q.height;
  turned.rotation_degrees = std::fmod(q.rotation_degrees + 90.0, 360.0);
  if (turned.rotation_degrees < 0.0) turned.rotation_degrees += 360.0;
  return turned;
}

}  // namespace meravel
