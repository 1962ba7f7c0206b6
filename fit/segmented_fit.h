// The automatic segmentation's choice taken into a fit.
//
// Computing core: no window.
#pragma once

#include "fit/fit_W.h"
#include "fit/segmentation.h"

namespace meravel {

// Makes the chosen candidate of `segmentation` (found on the state's source_image) the state's
// outline: outline_contour, the four outline box fields, and the threshold and polarity that
// separate it from the ground, which key a's sub-pixel edges read. With no candidate chosen the
// outline is emptied and the rest kept. The distance map is not rebuilt
// (compute_outline_distance does that).
void take_segmented_outline(FitState& state, const Segmentation& segmentation);

}  // namespace meravel
