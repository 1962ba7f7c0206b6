// Standard errors of the fit to an object's edge by the delete-a-block jackknife.
//
// The edge points along an outline are not independent: each is steadied over the outline pixels
// around it, and where the edge's location is off in a way that changes slowly along the outline
// (with its curvature, the blur, the light), neighbouring points are off alike over a long stretch.
// A covariance from the residuals' correlation up to some lag misses what runs longer. Leaving out
// one stretch of the outline at a time and fitting the rest again shows how much the values depend
// on what each stretch says, whatever the correlation within it (Kunsch 1989, for dependent data):
// with G stretches, the variance is (G - 1) / G times the sum of the squared differences of the G
// fits from their mean.
//
// The fit itself (CurveFit::jackknife_error, curve_least_squares.h) takes each fit without a
// stretch one Newton step from the optimum, which costs no more than the covariance; the function
// here runs each of them to its end, the plain form the one-step form is held against (the fits
// run to their end give errors about a fifth larger, their weights following the points left).
//
// Computing core: opencv_core only.
#pragma once

#include <array>
#include <vector>

#include "fit/auto_fit_detail.h"
#include "fit/subpixel_edges.h"

namespace meravel {

// The outline is cut into this many stretches: each spans an eighth of the outline, far longer
// than the 15 pixels an edge point is steadied over, and the eight fits leave seven degrees of
// freedom to the variance.
inline constexpr int kJackknifeBlocks = 8;

// The standard errors of log lambda, pixel width (px), height (px), rotation (radians) and centre
// x and y (px) of the fit of fit_curve_to_edges to `edges` (in their order along the outline) at
// `optimum`, by the delete-a-block jackknife over `blocks` stretches of consecutive points, each
// fit started at `optimum` with the same cut-offs. NaN for all when there are fewer than 12 points
// per block or a fit without a stretch does not converge.
std::array<double, 6> block_jackknife_errors(const std::vector<EdgePoint>& edges,
                                             const auto_fit_detail::Placement& optimum,
                                             double cut_off_top, double cut_off_bottom,
                                             int blocks = kJackknifeBlocks);

}  // namespace meravel
