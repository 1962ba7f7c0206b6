#include "fit/fit_warnings.h"

#include <algorithm>
#include <sstream>

#include "fit/geometry.h"

namespace {

// The outermost rows and columns that the distance map leaves out: the frame cleared before the
// outline is traced lies on row 0, so an outline cut by the border runs along row 1.
constexpr int kFrame = 2;

bool on_frame(const cv::Point& p, cv::Size size) {
  return p.x < kFrame || p.y < kFrame || p.x >= size.width - kFrame || p.y >= size.height - kFrame;
}

}  // namespace

const std::vector<FitWarningKind>& fit_warning_kinds() {
  // The energy's words name kWarningEnergyPx, the scale's median kScaleMedianTolerance.
  static const std::vector<FitWarningKind> kinds = {
      {&FitWarnings::outline_touches_frame, "warn_outline_touches_frame",
       "the outline touches the image frame (object cut by the border?)",
       "the outline touches the frame", WarningSeverity::kCaution,
       &FitWarnings::outline_is_image_frame},
      {&FitWarnings::outline_is_image_frame, "warn_outline_is_frame",
       "the outline is the frame of the image (a dark object on a light ground? try key n)",
       "the outline is the image frame", WarningSeverity::kError, nullptr},
      {&FitWarnings::energy_too_high, "warn_energy_high", "the energy is above 3 px",
       "energy above 3 px", WarningSeverity::kCaution, nullptr},
      {&FitWarnings::model_reaches_border, "warn_model_at_border",
       "the model reaches the image border", "the model reaches the border",
       WarningSeverity::kCaution, nullptr},
      {&FitWarnings::top_far_from_reference, "warn_top_far_from_rotation",
       "the top end is more than 90 degrees from the usual top (key f flips it)",
       "the top is more than 90 degrees from the start rotation's", WarningSeverity::kCaution,
       nullptr},
      {&FitWarnings::scale_spacing_varies, "warn_scale_spacing_varies",
       "the ruler's tick spacing changes along it (perspective or a bent ruler?)",
       "the ruler's tick spacing changes", WarningSeverity::kCaution, nullptr,
       WarningColumnPlace::kAtEnd},
      {&FitWarnings::scale_steep_angle, "warn_scale_steep_angle",
       "the scale's marker or disc is seen at a steep angle", "the scale is seen at a steep angle",
       WarningSeverity::kCaution, nullptr, WarningColumnPlace::kAtEnd},
      {&FitWarnings::scale_off_series_median, nullptr,
       "the scale is more than 2 % from the series' median",
       "the scale is more than 2 % from the series' median", WarningSeverity::kCaution, nullptr,
       WarningColumnPlace::kNone},
  };
  return kinds;
}

std::vector<const FitWarningKind*> warnings_to_tell(const FitWarnings& warnings) {
  std::vector<const FitWarningKind*> told;
  for (const FitWarningKind& kind : fit_warning_kinds()) {
    if (!(warnings.*kind.flag)) continue;
    if (kind.told_by && warnings.*kind.told_by) continue;
    told.push_back(&kind);
  }
  return told;
}

bool model_reaches_border(const ModelParameters& model, const CutOffs& cut_offs, cv::Size size) {
  std::vector<cv::Point> left;
  std::vector<cv::Point> right;
  std::ostringstream no_points;  // a model without points is told by the energy
  generate_w_curve(parameter_vector(model), cut_offs, left, right, no_points);
  for (const std::vector<cv::Point>* half : {&left, &right}) {
    for (const cv::Point& p : *half) {
      if (p.x <= 0 || p.y <= 0 || p.x >= size.width - 1 || p.y >= size.height - 1) return true;
    }
  }
  return false;
}

FitWarnings fit_warnings(const FitTarget& target, const ModelParameters& model,
                         const CutOffs& cut_offs, double energy, int reference_rotation) {
  FitWarnings warnings;
  const cv::Size size = target.image_size;
  const std::vector<cv::Point>& outline = target.outline_contour;
  if (!outline.empty() && !size.empty()) {
    int min_x = size.width, min_y = size.height, max_x = -1, max_y = -1;
    for (const cv::Point& p : outline) {
      if (on_frame(p, size)) warnings.outline_touches_frame = true;
      min_x = std::min(min_x, p.x);
      min_y = std::min(min_y, p.y);
      max_x = std::max(max_x, p.x);
      max_y = std::max(max_y, p.y);
    }
    warnings.outline_is_image_frame = min_x < kFrame && min_y < kFrame &&
                                      max_x >= size.width - kFrame && max_y >= size.height - kFrame;
  }
  warnings.energy_too_high = !(energy <= kWarningEnergyPx);

  warnings.model_reaches_border = model_reaches_border(model, cut_offs, size);
  warnings.top_far_from_reference = degrees_between(model.rotation, reference_rotation) > 90.0;
  return warnings;
}

std::string fit_warnings_text(const FitWarnings& warnings) {
  std::string text;
  for (const FitWarningKind* kind : warnings_to_tell(warnings)) {
    text += text.empty() ? "Warning: " : "; ";
    text += kind->message;
  }
  if (!text.empty()) text += ".";
  return text;
}
