// Which end of the model is its top. A W-curve with lambda turned round by 180 degrees is exactly
// the W-curve with 1/lambda, so an outline alone cannot tell top from bottom; the automatic fit
// keeps the top on the side of the current rotation's.
#pragma once

#include "fit/auto_fit_detail.h"

namespace meravel {

// Whether a model at `rotation` keeps its top within 90 degrees of the top of a model at
// `reference` (both whole degrees, any value; 0 has the top up, 90 to the right, 180 down, 270 to
// the left). At exactly 90 degrees apart the top a quarter turn clockwise from the reference's
// (rotation = reference + 90) is kept, the one a quarter turn anticlockwise is not.
bool keeps_top(int rotation, int reference);

// The same model turned round: rotation + 180 (in 0..360), lambda 1/lambda; pixel width, height
// and centre stay.
auto_fit_detail::Placement turned_round(const auto_fit_detail::Placement& q);

// The model turned by a quarter turn clockwise (rotation + 90, in 0..360) with its height and
// pixel width swapped; lambda and centre stay. For lambda 1 (an ellipse) the same outline.
auto_fit_detail::Placement quarter_turned(const auto_fit_detail::Placement& q);

}  // namespace meravel
