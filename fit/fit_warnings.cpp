#include "fit/fit_warnings.h"

#include <algorithm>
#include <sstream>

#include "fit/geometry.h"
#include "fit/plausibility.h"

namespace meravel {

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
       &FitWarnings::outline_is_image_frame, "touches frame"},
      {&FitWarnings::outline_is_image_frame, "warn_outline_is_frame",
       "the outline is the frame of the image (a dark object on a light ground? try key n)",
       "the outline is the image frame", WarningSeverity::kError, nullptr, "outline is frame"},
      {&FitWarnings::energy_too_high, "warn_energy_high", "the energy is above 3 px",
       "energy above 3 px", WarningSeverity::kCaution, nullptr, "energy high"},
      {&FitWarnings::model_reaches_border, "warn_model_at_border",
       "the model reaches the image border", "the model reaches the border",
       WarningSeverity::kCaution, nullptr, "model at border"},
      {&FitWarnings::top_far_from_reference, "warn_top_far_from_rotation",
       "the top end is more than 90 degrees from the usual top (key f flips it)",
       "the top is more than 90 degrees from the start rotation's", WarningSeverity::kCaution,
       nullptr, "top turned"},
      // The plausibility of an egg (fit/plausibility.h holds the thresholds and their reasons).
      {&FitWarnings::length_below_breadth, "warn_length_below_breadth",
       "the model is broader than long (its axis across the object?)", "length < breadth",
       WarningSeverity::kCaution, nullptr, "length < breadth", WarningColumnPlace::kAtEnd},
      {&FitWarnings::too_small, "warn_too_small", "the object is very small (under 20 px)",
       "too small", WarningSeverity::kCaution, nullptr, "too small", WarningColumnPlace::kAtEnd},
      {&FitWarnings::lambda_not_egg_like, "warn_lambda_not_egg_like",
       "lambda is outside the range of real eggs (0.4 to 2.5)", "lambda not egg-like",
       WarningSeverity::kCaution, nullptr, "lambda not egg-like", WarningColumnPlace::kAtEnd},
      {&FitWarnings::area_mismatch, "warn_area_mismatch",
       "the model's area differs from the object's by more than 8 %", "area mismatch",
       WarningSeverity::kCaution, nullptr, "area mismatch", WarningColumnPlace::kAtEnd},
      {&FitWarnings::not_convex, "warn_not_convex",
       "the object is not convex (two objects, a shadow, a fragment?)", "not convex",
       WarningSeverity::kCaution, nullptr, "not convex", WarningColumnPlace::kAtEnd},
      {&FitWarnings::starts_disagree, "warn_starts_disagree",
       "fits from different starts disagree by more than their errors", "starts disagree",
       WarningSeverity::kCaution, nullptr, "starts disagree", WarningColumnPlace::kAtEnd},
      {&FitWarnings::runner_up_close, "warn_runner_up_close",
       "another object scored close to the one measured", "runner-up close",
       WarningSeverity::kCaution, nullptr, "runner-up close", WarningColumnPlace::kAtEnd},
      {&FitWarnings::low_contrast, "warn_low_contrast",
       "the object hardly stands out from the ground", "low contrast", WarningSeverity::kCaution,
       nullptr, "low contrast", WarningColumnPlace::kAtEnd},
      {&FitWarnings::contrast_steps, "warn_contrast_steps",
       "the contrast steps along the outline (a shadow or a second object taken in?)",
       "contrast steps", WarningSeverity::kCaution, nullptr, "contrast steps",
       WarningColumnPlace::kAtEnd},
      {&FitWarnings::scale_spacing_varies, "warn_scale_spacing_varies",
       "the ruler's tick spacing changes along it (perspective or a bent ruler?)",
       "the ruler's tick spacing changes", WarningSeverity::kCaution, nullptr,
       "tick spacing varies", WarningColumnPlace::kAtEnd},
      {&FitWarnings::scale_steep_angle, "warn_scale_steep_angle",
       "the scale's marker or disc is seen at a steep angle", "the scale is seen at a steep angle",
       WarningSeverity::kCaution, nullptr, "scale at an angle", WarningColumnPlace::kAtEnd},
      {&FitWarnings::scale_off_series_median, nullptr,
       "the scale is more than 2 % from the series' median",
       "the scale is more than 2 % from the series' median", WarningSeverity::kCaution, nullptr,
       "scale off median", WarningColumnPlace::kNone},
      {&FitWarnings::egg_touching, "warn_egg_touching",
       "the egg touches another: the outline was cut where they meet", "touches another egg",
       WarningSeverity::kCaution, nullptr, "touching", WarningColumnPlace::kAtEnd},
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
  // An outline that is the image's frame is the ground, not an object: its shape tells nothing.
  const Plausibility plausible = check_plausibility(
      model, warnings.outline_is_image_frame ? std::vector<cv::Point>() : outline);
  warnings.length_below_breadth = plausible.length_below_breadth;
  warnings.too_small = plausible.too_small;
  warnings.lambda_not_egg_like = plausible.lambda_not_egg_like;
  // An object cut by the border shows less than its area: that is said by the touch already.
  warnings.area_mismatch = plausible.area_mismatch && !warnings.outline_touches_frame;
  warnings.not_convex = plausible.not_convex;
  return warnings;
}

void add_evidence_warnings(FitWarnings& warnings, const FitEvidence& evidence) {
  warnings.low_contrast = std::fabs(evidence.contrast_grey) < kMinimumContrastGrey;
  warnings.runner_up_close = evidence.runner_up_score_ratio >= kRunnerUpCloseRatio;
  warnings.starts_disagree = evidence.starts_disagree;
  warnings.contrast_steps =
      evidence.contrast_step > kContrastStepFraction && evidence.contrast_parts_disagree;
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

}  // namespace meravel
