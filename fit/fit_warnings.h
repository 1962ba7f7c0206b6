// Warnings about a fit that may be wrong although it looks fitted: checked on the fit's values
// alone, so that the session, a batch run and the details record tell the same.
//
// Computing core: opencv_core only, no window. None of them stops a measurement from being taken.
#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "fit/fit_target.h"
#include "fit/model.h"

// The rotation every measurement starts from: the model's top up and a little to the left.
inline constexpr int kStartRotation = 325;
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
  // Doubts about a scale read from the photograph, set by whoever read it (not by fit_warnings):
  // the ruler's tick spacing changes along it; the marker (or disc) is seen at a steep angle; the
  // scale is more than kScaleMedianTolerance off the median of the series' read scales.
  bool scale_spacing_varies = false;
  bool scale_steep_angle = false;
  bool scale_off_series_median = false;

  bool any() const {
    return outline_touches_frame || outline_is_image_frame || energy_too_high ||
           model_reaches_border || top_far_from_reference || scale_spacing_varies ||
           scale_steep_angle || scale_off_series_median;
  }
};

// One kind of warning: its flag, a short name for a column, and the words shown to the user.
struct FitWarningKind {
  bool FitWarnings::*flag;
  const char* column;
  const char* message;
};
// Every kind, in the order the messages are shown.
const std::vector<FitWarningKind>& fit_warning_kinds();

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
