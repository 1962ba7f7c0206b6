// The title of the "Output" window: the state of the fit after every change (energy, lambda and
// any warning), or while a key's clicks are awaited, what to click. The window keeps its name.
#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "fit/fit_W.h"
#include "fit/fit_uncertainty.h"
#include "fit/fit_warnings.h"

namespace meravel {

// What the title shows besides the fit's own values.
struct OutputTitle {
  // Shown instead of the status while the clicks it asks for are awaited (the state's clicks
  // armed); an empty prompt shows the status.
  std::string prompt;
  // A note on the photograph's scale ("scale 11.8 px/mm from the ruler") shown after the status,
  // or none when empty.
  std::string scale_note;
  // The last automatic fit's values, their standard errors and the evidence of the fit
  // (contrast, other starts): told while the model keeps those values.
  ModelParameters uncertain_model;
  FitUncertainty model_uncertainty;
  FitEvidence model_evidence;
  // The photograph's scale for the lengths in millimetres: px_per_mm > 0 with its standard error
  // (0: not known); 0 for none.
  double px_per_mm = 0.0;
  double px_per_mm_se = 0.0;
  // Which of several eggs key e found is measured, egg_number of egg_count, told while the
  // state's outline is still that egg's (egg_outline); egg_count below 2 tells nothing.
  int egg_number = 0;
  int egg_count = 0;
  std::vector<cv::Point> egg_outline;
};

// "Output: energy E px, lambda L, length H px, breadth B px" (the egg of the model values, to a
// tenth of a pixel; with " +/- e" after lambda, length and breadth while the values are those of
// the last automatic fit, whose standard errors set_output_uncertainty gave), each of length and
// breadth followed by its millimetres in brackets while the title has a scale (millimetres_text),
// then ", egg 2 of 5" while one of several eggs key e found is measured, and the warnings' text
// (fit_warnings_text) appended after " - " when there is any, for the state's shown values against
// the start rotation.
std::string output_status_title(const FitState& state, const OutputTitle& title);

// " (52.31 +/- 0.08 mm)": a length of `length_px` with standard error `se_px` (NaN: not known, and
// the error is left out) in millimetres at `px_per_mm`, to a hundredth; the error adds the scale's
// relative error `px_per_mm_se` / `px_per_mm` of the length in quadrature, as the details file
// does. Empty without a scale (px_per_mm <= 0).
std::string millimetres_text(double length_px, double se_px, double px_per_mm, double px_per_mm_se);

// The automatic fit's values, their standard errors and the evidence of the fit (contrast, other
// starts), for the title and the accepted result while the model keeps those values.
void set_output_uncertainty(OutputTitle& title, const ModelParameters& model,
                            const FitUncertainty& uncertainty, const FitEvidence& evidence);

// The standard errors set_output_uncertainty gave when `model` is still those values; unknown
// otherwise.
FitUncertainty automatic_fit_uncertainty(const OutputTitle& title, const ModelParameters& model);

// Adds the warnings of the automatic fit's evidence when `model` is still its values.
void add_automatic_fit_evidence(const OutputTitle& title, FitWarnings& warnings,
                                const ModelParameters& model);

// Sets the "Output" window's title: the prompt while the state's clicks are awaited, the status
// otherwise. Does nothing when the window does not exist.
void show_output_title(const FitState& state, const OutputTitle& title);

}  // namespace meravel
