// An egg cut apart from one it touches ends along the cut, which is no edge of the photograph:
// the fit rests on the egg's own edge and only keeps the model from crossing the cut.
//
// Computing core: opencv_core and opencv_imgproc only, no window. Coordinates are pixels of the
// target's image.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "fit/fit_target.h"
#include "fit/subpixel_edges.h"

namespace meravel {

// The sub-pixel edge reads each outline pixel's grey levels as the median over 15 neighbouring
// outline pixels: within this distance of the cut they are partly the cut's.
constexpr double kCutMarginPx = 8.0;

// `edges` less those within kCutMarginPx of a point of `cut`; `edges` itself when `cut` is empty.
std::vector<EdgePoint> edges_off_cut(std::vector<EdgePoint> edges,
                                     const std::vector<cv::Point>& cut);

// Leaves the points `cut` of the target's outline out of the fit: they become target.cut, which
// the fit to the edge leaves out (edges_off_cut), and out of its distance map: inside the outline,
// where the nearest outline point lies on the cut, the map reads 0, so that a model there is
// neither pulled to the cut nor away from it; outside, the map keeps the distance to the cut,
// which a model that reaches into the neighbour still pays. The target is left as it is when
// `cut` is empty, holds the whole outline, or the target has no map.
void leave_cut_out(FitTarget& target, const std::vector<cv::Point>& cut);

}  // namespace meravel
