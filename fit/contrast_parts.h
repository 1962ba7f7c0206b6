// Whether the parts of an outline either side of a step in its contrast describe the same egg.
//
// Where the contrast across an outline steps, the outline may run along two things: an egg and its
// cast shadow, or a second object, taken in as one object. It may as well run along one egg whose
// shell stands out unevenly: a shell lit through from behind glows brighter in some places than
// others, a stand or a lit card beside it changes the ground. The two cases differ in what
// matters for the measurement: fitted alone, the part that stands out more and the part that
// stands out less give the same egg when both lie on the egg's edge, and different ones when one
// of them is the edge of something else.
//
// Computing core: opencv_core and opencv_imgproc only.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "fit/model.h"

namespace meravel {

// A part's egg differs from the whole outline's when its length or breadth differs by more than
// this fraction and by more than kStartsDisagreeErrors (plausibility.h) of the part fit's standard
// errors: a difference within the few per cent a measurement must hold cannot make it wrong, and
// one within a part's own errors says nothing.
inline constexpr double kContrastPartsDisagreeFraction = 0.03;

// The parts must each hold at least this fraction of the outline's points to be fitted alone: a
// shorter stretch hardly constrains an egg (and pulls a robust fit of the whole little).
inline constexpr double kContrastPartMinimumFraction = 0.15;

struct ContrastParts {
  // The largest step of the contrast as contrast_step_along_outline (plausibility.h) finds it.
  double step = 0.0;
  // The points of `outline` on the side of the step's levels that stands out more, and less (the
  // contrast smoothed over 15 points against the level halfway between the step's two medians).
  std::vector<cv::Point> stronger, weaker;
  // Whether a part (holding enough points) fitted alone gives an egg whose length or breadth
  // differs from the whole outline's fit as kContrastPartsDisagreeFraction says. False when no
  // part can be fitted.
  bool disagree = false;
};

// The outline `outline` (a closed pixel chain) of an object in `image` (CV_8UC1, or CV_8UC3 BGR
// turned grey) split at its largest contrast step, and its parts' eggs compared with the whole
// outline's; `model` (in the same image coordinates) starts the fits. The parts are fitted only
// where the step exceeds `least_step` (their points are then empty below it).
ContrastParts contrast_parts(const cv::Mat& image, const std::vector<cv::Point>& outline,
                             const ModelParameters& model, double least_step);

}  // namespace meravel
