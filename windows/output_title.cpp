#include "windows/output_title.h"

#include <cmath>
#include <iomanip>
#include <opencv2/highgui.hpp>
#include <optional>
#include <sstream>

#include "fit/egg_dimensions.h"
#include "fit/fit_warnings.h"
#include "windows/egg_view.h"
#include "windows/fit_windows.h"

namespace meravel {

namespace {

// " +/- e" with e to the value's precision; nothing when e is unknown.
std::string plus_minus(double error, int decimals) {
  if (!std::isfinite(error)) return "";
  std::ostringstream text;
  text << std::fixed << std::setprecision(decimals) << " +/- " << error;
  return text.str();
}

}  // namespace

std::string output_status_title(const FitState& state, const OutputTitle& shown) {
  std::ostringstream title;
  title << "Output: energy " << state.energy << " px, lambda " << state.model.lambda_milli / 1000.0;
  const bool known = state.model == shown.uncertain_model;
  if (known) title << plus_minus(shown.model_uncertainty.lambda_se, 3);
  const std::optional<EggDimensions> egg =
      egg_dimensions_of_model(state.model.lambda_milli, state.model.width, state.model.height);
  if (egg) {
    const double length_se =
        known ? shown.model_uncertainty.length_se_px : FitUncertainty::kUnknown;
    const double breadth_se =
        known ? shown.model_uncertainty.breadth_se_px : FitUncertainty::kUnknown;
    title << std::fixed << std::setprecision(1) << ", length " << egg->length
          << plus_minus(length_se, 1) << " px"
          << millimetres_text(egg->length, length_se, shown.px_per_mm, shown.px_per_mm_se)
          << ", breadth " << egg->breadth << plus_minus(breadth_se, 1) << " px"
          << millimetres_text(egg->breadth, breadth_se, shown.px_per_mm, shown.px_per_mm_se);
  }
  if (shown.egg_outline == state.target.outline_contour && !shown.egg_outline.empty()) {
    const std::string egg_text = egg_of_count_text(shown.egg_number, shown.egg_count);
    if (!egg_text.empty()) title << ", " << egg_text;
  }
  FitWarnings found =
      fit_warnings(state.target, state.model, state.cut_offs(), state.energy, kStartRotation);
  add_automatic_fit_evidence(shown, found, state.model);
  const std::string warnings = fit_warnings_text(found);
  if (!warnings.empty()) title << " - " << warnings;
  return title.str();
}

std::string millimetres_text(double length_px, double se_px, double px_per_mm,
                             double px_per_mm_se) {
  if (!(px_per_mm > 0.0) || !std::isfinite(length_px)) return "";
  const double length_mm = length_px / px_per_mm;
  std::ostringstream text;
  text << std::fixed << std::setprecision(2) << " (" << length_mm;
  if (std::isfinite(se_px)) {
    const double relative_scale = px_per_mm_se > 0.0 ? px_per_mm_se / px_per_mm : 0.0;
    text << plus_minus(std::hypot(se_px / px_per_mm, length_mm * relative_scale), 2);
  }
  text << " mm)";
  return text.str();
}

void set_output_uncertainty(OutputTitle& title, const ModelParameters& model,
                            const FitUncertainty& uncertainty, const FitEvidence& evidence) {
  title.uncertain_model = model;
  title.model_uncertainty = uncertainty;
  title.model_evidence = evidence;
}

FitUncertainty automatic_fit_uncertainty(const OutputTitle& title, const ModelParameters& model) {
  return model == title.uncertain_model ? title.model_uncertainty : FitUncertainty();
}

void add_automatic_fit_evidence(const OutputTitle& title, FitWarnings& warnings,
                                const ModelParameters& model) {
  if (model == title.uncertain_model) add_evidence_warnings(warnings, title.model_evidence);
}

void show_output_title(const FitState& state, const OutputTitle& shown) {
  const std::string title = !shown.prompt.empty() && state.clicks.armed()
                                ? "Output: " + shown.prompt
                                : output_status_title(state, shown) +
                                      (shown.scale_note.empty() ? "" : " - " + shown.scale_note);
  try {
    cv::setWindowTitle(kOutputWindow, title);
  } catch (const cv::Exception&) {
    // no image window exists at all
  }
}

}  // namespace meravel
