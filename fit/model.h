// The W-curve model's values and its generation: the six whole numbers the trackbars hold, the
// cut-offs, the optimiser's continuous point, and the two halves generated from them.
//
// Computing core: opencv_core only, no window.
#pragma once

#include <array>
#include <opencv2/core.hpp>
#include <ostream>
#include <tuple>
#include <vector>

namespace meravel {

// The six model values as whole numbers, as the trackbars hold them. W x H is the size of the
// image the model lies on (the photograph, cropped to its region of interest).
struct ModelParameters {
  int lambda_milli = 0;   // lambda x 1000, the shape exponent in thousandths, 0..6000
  int width = 0;          // width factor: the model's horizontal scale is lambda * width, 0..20W
  int height = 0;         // model height in pixels, 0..the diagonal of W x H, rounded up
  int rotation = 0;       // degrees: 0 points down, 90 left, 180 up, 270 right; 0..360
  int translation_x = 0;  // image x of the model's centre, 0..W
  int translation_y = 0;  // image y of the model's centre, 0..H
};

inline auto as_tuple(const ModelParameters& m) {
  return std::tie(m.lambda_milli, m.width, m.height, m.rotation, m.translation_x, m.translation_y);
}
inline bool operator==(const ModelParameters& a, const ModelParameters& b) {
  return as_tuple(a) == as_tuple(b);
}
inline bool operator!=(const ModelParameters& a, const ModelParameters& b) { return !(a == b); }
// In parameter order, for ordered containers.
inline bool operator<(const ModelParameters& a, const ModelParameters& b) {
  return as_tuple(a) < as_tuple(b);
}
std::ostream& operator<<(std::ostream& out, const ModelParameters& m);

// Per cent of the model height left out at its top and at its bottom, 0..49 each.
struct CutOffs {
  int top = 0;
  int bottom = 0;
};

// A point of the optimiser's search: the six model values as doubles, always in this order (the
// search moves them by fractions; only rotation stays whole).
using ParameterVector = std::array<double, 6>;
enum ParameterIndex {
  kLambdaMilli = 0,
  kWidth = 1,
  kHeight = 2,
  kRotation = 3,
  kTranslationX = 4,
  kTranslationY = 5,
};

// The model's values as a search point.
ParameterVector parameter_vector(const ModelParameters& model);

// A search point as whole model values, each truncated toward zero (1234.9 -> 1234, -0.5 -> 0)
// and saturated to the int range.
ModelParameters truncated_model(const ParameterVector& point);

// What a generation tells besides the halves.
struct WCurveExtent {
  bool produced = false;       // some sample passed the cut-off band; both halves hold points
  int pixel_width = 0;         // twice the largest offset of any sample (saturated), when produced
  bool widened = false;        // some sample's offset exceeded 0 (false for lambda 0)
  double peak_abscissa = 0.0;  // when widened: t of the first sample that reached that offset
};

// Generates the two halves of the W-curve, each ordered from the model's top to its bottom, into
// left_out and right_out (cleared first): 800 samples of t from -20 by steps of 0.05, offset
// trunc(a / D) and depth trunc((h^2 / 2) e^t / D) with D = (h/2) e^t + e^(-lambda t), kept within
// the cut-off band, rotated (mirrored before rotating) and moved to the translation. Every
// conversion truncates toward zero; a sample whose coordinates do not fit 32 bits is dropped.
// When no sample passes the band, `errors` receives an empty line and "Your parameters did not
// produce any w-curve points!" and both halves are empty (an unscorable model).
WCurveExtent generate_w_curve(double lambda, double horizontal_scale, double height,
                              double rotation_degrees, double translation_x, double translation_y,
                              const CutOffs& cut_offs, std::vector<cv::Point>& left_out,
                              std::vector<cv::Point>& right_out, std::ostream& errors);

// The same for the point p = (lambda x 1000, width, height, rotation, tx, ty): lambda = p[0] /
// 1000 and the horizontal scale lambda * p[1], as the refresh and the optimiser generate it.
WCurveExtent generate_w_curve(const ParameterVector& p, const CutOffs& cut_offs,
                              std::vector<cv::Point>& left_out, std::vector<cv::Point>& right_out,
                              std::ostream& errors);

}  // namespace meravel
