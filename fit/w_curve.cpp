// The W-curve model: two mirrored halves of integer image points, from the model's top to its
// bottom, sampled at 800 values of the curve parameter t.
//
// For each t:  D = (h/2)·e^t + e^(−λt),  offset x = trunc(a/D),  depth y = trunc((h²/2)·e^t/D).
// y rises from 0 to h, and x bulges out where D is smallest, at depth h·λ/(1+λ).
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>

#include "fit/geometry.h"
#include "fit/model.h"

namespace meravel {

namespace {

constexpr int kSampleCount = 800;

// t runs from −20 by repeated addition of 0.05, so it drifts from −20 + 0.05·i by the rounding of
// each addition; e^t depends on t alone and is computed once per process.
struct CurveAbscissae {
  std::array<double, kSampleCount> t;
  std::array<double, kSampleCount> exp_t;
  CurveAbscissae() {
    double value = -20.0;
    for (int i = 0; i < kSampleCount; ++i) {
      t[i] = value;
      exp_t[i] = std::exp(value);
      value += 0.05;
    }
  }
};

const CurveAbscissae& curve_abscissae() {
  static const CurveAbscissae abscissae;
  return abscissae;
}

// trunc(a) + trunc(b) as a 32-bit coordinate, false when either term or the sum does not fit (such
// a coordinate lies far outside any image and its sample is dropped).
bool coordinate(double translation, double term, int* result) {
  int base = 0;
  int offset = 0;
  if (!trunc_to_int(translation, &base) || !trunc_to_int(term, &offset)) return false;
  const std::int64_t sum = static_cast<std::int64_t>(base) + offset;
  if (sum < INT_MIN || sum > INT_MAX) return false;
  *result = static_cast<int>(sum);
  return true;
}

}  // namespace

WCurveExtent generate_w_curve(double lambda, double horizontal_scale, double height,
                              double rotation_degrees, double translation_x, double translation_y,
                              const CutOffs& cut_offs, std::vector<cv::Point>& left_out,
                              std::vector<cv::Point>& right_out, std::ostream& errors) {
  WCurveExtent extent;
  left_out.clear();
  right_out.clear();
  const CurveAbscissae& abscissae = curve_abscissae();
  const double theta = radians_from_degrees(rotation_degrees);
  const double cos_theta = std::cos(theta);
  const double sin_theta = std::sin(theta);
  const double a = horizontal_scale;
  const double h = height;
  // The band is compared in floating point, so a depth exactly on a limit is kept.
  const double top_limit = (cut_offs.top / 100.0) * h;
  const double bottom_limit = (1 - cut_offs.bottom / 100.0) * h;

  int best = 0;
  for (int i = 0; i < kSampleCount; ++i) {
    const double t = abscissae.t[i];
    const double exp_t = abscissae.exp_t[i];
    const double d = (h / 2) * exp_t + std::exp(-lambda * t);
    const double g = 1 / d;
    const double x_real = a * g;
    // The widest offset is tracked over every sample, before the band, saturating at the 32-bit
    // range; a sample whose offset does not fit gives no point.
    int x = 0;
    const bool x_fits = trunc_to_int(x_real, &x);
    const int x_for_best = x_fits ? x : (x_real > 0 ? INT_MAX : 0);
    if (x_for_best > best) {
      best = x_for_best;
      extent.widened = true;
      extent.peak_abscissa = t;
    }
    int y = 0;
    if (!x_fits || !trunc_to_int((h * h / 2) * exp_t * g, &y)) continue;
    if (y < top_limit || y > bottom_limit) continue;
    int yc = 0;
    if (!trunc_to_int(y - h / 2, &yc)) continue;
    const double xd = x;
    const double ycd = yc;
    cv::Point right;
    cv::Point left;
    if (!coordinate(translation_x, xd * cos_theta - ycd * sin_theta, &right.x) ||
        !coordinate(translation_y, xd * sin_theta + ycd * cos_theta, &right.y) ||
        !coordinate(translation_x, -xd * cos_theta - ycd * sin_theta, &left.x) ||
        !coordinate(translation_y, -xd * sin_theta + ycd * cos_theta, &left.y)) {
      continue;
    }
    right_out.push_back(right);
    left_out.push_back(left);
  }

  if (left_out.empty()) {
    errors << std::endl << "Your parameters did not produce any w-curve points!" << std::endl;
    return extent;
  }
  extent.produced = true;
  extent.pixel_width = best > INT_MAX / 2 ? INT_MAX : 2 * best;
  return extent;
}

WCurveExtent generate_w_curve(const ParameterVector& p, const CutOffs& cut_offs,
                              std::vector<cv::Point>& left_out, std::vector<cv::Point>& right_out,
                              std::ostream& errors) {
  const double lambda = p[kLambdaMilli] / 1000;
  return generate_w_curve(lambda, lambda * p[kWidth], p[kHeight], p[kRotation], p[kTranslationX],
                          p[kTranslationY], cut_offs, left_out, right_out, errors);
}

ParameterVector parameter_vector(const ModelParameters& m) {
  return {static_cast<double>(m.lambda_milli),  static_cast<double>(m.width),
          static_cast<double>(m.height),        static_cast<double>(m.rotation),
          static_cast<double>(m.translation_x), static_cast<double>(m.translation_y)};
}

ModelParameters truncated_model(const ParameterVector& p) {
  ModelParameters m;
  m.lambda_milli = saturating_trunc(p[kLambdaMilli]);
  m.width = saturating_trunc(p[kWidth]);
  m.height = saturating_trunc(p[kHeight]);
  m.rotation = saturating_trunc(p[kRotation]);
  m.translation_x = saturating_trunc(p[kTranslationX]);
  m.translation_y = saturating_trunc(p[kTranslationY]);
  return m;
}

std::ostream& operator<<(std::ostream& out, const ModelParameters& m) {
  return out << "lambda*1000 " << m.lambda_milli << ", width " << m.width << ", height " << m.height
             << ", rotation " << m.rotation << ", translation (" << m.translation_x << ", "
             << m.translation_y << ")";
}

}  // namespace meravel
