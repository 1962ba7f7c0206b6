#include "windows/output_title.h"

#include <cmath>
#include <iomanip>
#include <opencv2/highgui.hpp>
#include <optional>
#include <sstream>

#include "fit/egg_dimensions.h"
#include "fit/fit_warnings.h"
#include "windows/fit_windows.h"

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
    title << std::fixed << std::setprecision(1) << ", length " << egg->length
          << (known ? plus_minus(shown.model_uncertainty.length_se_px, 1) : "") << " px, breadth "
          << egg->breadth << (known ? plus_minus(shown.model_uncertainty.breadth_se_px, 1) : "")
          << " px";
  }
  FitWarnings found =
      fit_warnings(state.target, state.model, state.cut_offs(), state.energy, kStartRotation);
  add_automatic_fit_evidence(shown, found, state.model);
  const std::string warnings = fit_warnings_text(found);
  if (!warnings.empty()) title << " - " << warnings;
  return title.str();
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
