// What key c found, drawn over the photograph for the "Scale" window: a ruler's ticks, a
// marker's outline and corners, a disc's ellipse.
#pragma once

#include <opencv2/core.hpp>

#include "fit/session_contract.h"

namespace meravel {

// The part of `photograph` (CV_8UC3, the whole upright photograph the scale was read from) round
// what `scale` found, with a margin of a tenth of its size (at least 20 px), reduced to at most
// `max_width` pixels wide, with what was found drawn in green over it:
// - ruler: each tick as a short line across the ruler (the ruler_direction), a millimetre long on
//   each side of the tick's centre, and a line along the ruler from the first tick to the last;
// - marker: the quadrilateral of its four corners, a ring at each and a filled dot at the first;
// - disc: its fitted ellipse and a cross at its centre;
// - any other scale with marks: a small ring at each mark.
// Empty when nothing was found to draw or the part lies outside the photograph.
cv::Mat found_scale_view(const cv::Mat& photograph, const SessionScale& scale, int max_width = 800);

}  // namespace meravel
