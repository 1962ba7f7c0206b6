// Warnings about a fit that may be wrong although it looks fitted: checked on the fit's values
// alone, so that the session, a batch run and the details record tell the same.
//
// Computing core: opencv_core only, no window. None of them stops a measurement from being taken.
#pragma once

#include <cmath>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "fit/fit_target.h"
#include "fit/model.h"
#include "fit/parameter_table.h"

namespace meravel {

// A deviation energy above this many pixels is a poor fit.
inline constexpr double kWarningEnergyPx = 3.0;
// A scale this fraction or more away from the series' median of read scales is doubtful.
inline constexpr double kScaleMedianTolerance = 0.02;

struct FitWarnings {
  // Some outline pixel lies on the image's two outermost rows or columns: the object is cut by
  // the border, or part of the background was taken for the object.
  bool outline_touches_frame = false;
  // The outline runs round the whole image just inside its frame: the background was taken for
  // the object, as happens for a dark object on a light ground.
  bool outline_is_image_frame = false;
  // The energy is above kWarningEnergyPx, or the model cannot be scored at all.
  bool energy_too_high = false;
  // Some point of the model lies on the image's outermost pixel frame or beyond it.
  bool model_reaches_border = false;
  // The model's top end points more than 90 degrees away from the reference rotation's top.
  bool top_far_from_reference = false;
  // Whether the fit can be an egg's measurement (plausibility.h, where the thresholds are):
  bool length_below_breadth = false;  // the model is broader than long: its axis lies across
  bool too_small = false;             // length or breadth below kMinimumSizePx
  bool lambda_not_egg_like = false;   // lambda outside the range of real eggs
  bool area_mismatch = false;         // the model's and the object's areas differ
  bool not_convex = false;            // the object's solidity is low (two objects, a shadow)
  // Told by evidence beyond the values and the outline (add_evidence_warnings):
  bool starts_disagree = false;  // fits from different starts differ by more than their errors
  bool runner_up_close = false;  // another candidate object scored close to the chosen one
  bool low_contrast = false;     // the object hardly differs from the ground
  bool contrast_steps = false;   // the outline runs along two things (a shadow taken in?)
  // Doubts about a scale read from the photograph, set by whoever read it (not by fit_warnings):
  // the ruler's tick spacing changes along it; the marker (or disc) is seen at a steep angle; the
  // scale is more than kScaleMedianTolerance off the median of the series' read scales.
  bool scale_spacing_varies = false;
  bool scale_steep_angle = false;
  bool scale_off_series_median = false;
  // One of the eggs of a clutch that touches another: the two were cut apart where they meet, so
  // that part of the outline is no edge of the photograph.
  bool egg_touching = false;

  bool any() const {
    return outline_touches_frame || outline_is_image_frame || energy_too_high ||
           model_reaches_border || top_far_from_reference || length_below_breadth || too_small ||
           lambda_not_egg_like || area_mismatch || not_convex || starts_disagree ||
           runner_up_close || low_contrast || contrast_steps || scale_spacing_varies ||
           scale_steep_angle || scale_off_series_median || egg_touching;
  }
};

// How much a warning says about the fit: it may be wrong and wants a look (kCaution), or it
// measured something else than the object (kError: the background was taken for it). The report
// counts a recorded measurement with an error's column set as a failed fit.
enum class WarningSeverity { kCaution, kError };

// What tells the warnings that the values and the outline alone cannot: NaN where not known.
struct FitEvidence {
  // object_ground_contrast (plausibility.h) of the object's outline in the photograph fitted.
  double contrast_grey = std::nan("");
  // The object choice's runner-up candidate's score over the chosen one's (higher is better):
  // filled where candidates are compared; NaN where there was no choice.
  double runner_up_score_ratio = std::nan("");
  // contrast_step_along_outline (plausibility.h): 0 where not known.
  double contrast_step = 0.0;
  // Whether the outline's parts either side of that step, each fitted alone, both give an egg
  // shorter (or both narrower) than the whole outline's (contrast_parts.h): two things taken in as
  // one. True where not known, so that the step alone tells.
  bool contrast_parts_disagree = true;
  // Whether fits from different starts disagreed by more than their errors (fit_uncertainty.h).
  bool starts_disagree = false;
};

// Sets the warnings that `evidence` tells (low contrast, a close runner-up, starts that disagree).
void add_evidence_warnings(FitWarnings& warnings, const FitEvidence& evidence);

// Where a warning's column comes in the details file: among the fit's warnings (after
// scale_source), appended after every other column (a warning added once the file had more
// columns after those, so that an older file's header stays a prefix of the new one), or nowhere.
enum class WarningColumnPlace { kWithFitWarnings, kAtEnd, kNone };

// One kind of warning, with every name it goes by: its flag, its column of the details file
// (1 when it held, else 0), the words of the Output window's title, the phrase a batch run
// prints and flags the fit with, its severity, the warning that, when it holds too, says it
// already (its words are then left out), and where its column comes.
struct FitWarningKind {
  bool FitWarnings::*flag;
  const char* column;  // null for a warning without a column (kNone)
  const char* message;
  const char* batch_text;
  WarningSeverity severity;
  bool FitWarnings::*told_by;  // null for none
  const char* short_name;      // a few words for a review sheet's tile
  WarningColumnPlace place = WarningColumnPlace::kWithFitWarnings;
};
// Every kind, in the order of the title's words and the batch flags.
const std::vector<FitWarningKind>& fit_warning_kinds();

// The kinds whose warning holds in `warnings`, less those another one holding already tells.
std::vector<const FitWarningKind*> warnings_to_tell(const FitWarnings& warnings);

// Whether some point of the model with `cut_offs` lies on the outermost pixel frame of an image
// of `image_size` or beyond it.
bool model_reaches_border(const ModelParameters& model, const CutOffs& cut_offs,
                          cv::Size image_size);

// The warnings of the model with `cut_offs` on `target` (its outline and image size), the model
// scored `energy`, against the rotation whose top counts as the expected top (kStartRotation in
// a session and a batch run).
FitWarnings fit_warnings(const FitTarget& target, const ModelParameters& model,
                         const CutOffs& cut_offs, double energy, int reference_rotation);

// "Warning: " and the messages of the warnings set, joined by "; " and ended by "."; empty when
// none is set. When the outline is the image frame, that message stands for the outline touching
// the frame too.
std::string fit_warnings_text(const FitWarnings& warnings);

}  // namespace meravel
