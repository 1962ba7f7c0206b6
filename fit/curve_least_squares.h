// A robust least-squares fit of the continuous W-curve to edge points.
//
// Computing core: opencv_core only.
//
// The model's halves, as the sample formula traces them, are in closed form the curve
//   depth y = h s,  offset x = (P/2) (s/p)^p ((1-s)/q)^q,  0 <= s <= 1,
// with p = lambda / (1 + lambda), q = 1 - p, P the pixel width (twice the largest offset, reached
// at s = p) and h the height: the sample formula's t runs through s = 1 / (1 + (2/h)
// e^-(1+lambda)t). Turned round by 180 degrees, s becomes 1 - s and p becomes q: the model with
// 1/lambda.
#pragma once

#include <array>
#include <cmath>
#include <limits>
#include <opencv2/core.hpp>
#include <vector>

#include "fit/auto_fit_detail.h"
#include "fit/subpixel_edges.h"

namespace meravel {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Where a point lies against the continuous model of a placement.
struct CurveDistance {
  double distance = 0.0;  // signed, px: positive outside the model, negative inside
  double s = 0.0;         // the nearest model point's depth as a fraction of the height, 0..1
};

// The signed distance from `point` (image coordinates) to the nearest point of the model placed
// by `q` (its closed loop, both halves; the cut-offs do not apply here).
CurveDistance distance_to_model(const auto_fit_detail::Placement& q, cv::Point2d point);

struct CurveFit {
  auto_fit_detail::Placement placement;
  // Mean over the edge points of min(d^2, 1 px^2), d the signed distance to the whole model
  // (cut-offs aside): a fit's score that a few far points cannot spoil. +inf without points.
  double score = HUGE_VAL;
  int inliers = 0;  // edge points within 1 px of the model and within the cut-off band
  bool converged = false;
  // Standard errors of log lambda, pixel width (px), height (px), rotation (radians), centre x and
  // y (px) at the optimum: the sandwich covariance of the robust fit's last weights and Jacobian,
  // with the residuals' correlation along the edge allowed for (neighbouring edge points share the
  // 15 outline pixels each is steadied over, so they are not independent). NaN where not
  // converged or with too few points.
  std::array<double, 6> standard_error{kNaN, kNaN, kNaN, kNaN, kNaN, kNaN};
  // The same values' standard errors by the delete-a-block jackknife over kJackknifeBlocks
  // stretches of consecutive edge points (block_jackknife.h), each fit without a stretch taken one
  // Newton step from the optimum: errors of the edge that run along stretches longer than the
  // correlation above allows for are in them. NaN where not converged or with too few points.
  std::array<double, 6> jackknife_error{kNaN, kNaN, kNaN, kNaN, kNaN, kNaN};
};

// The score of `q` on `edges` as CurveFit::score defines it.
double curve_fit_score(const std::vector<EdgePoint>& edges, const auto_fit_detail::Placement& q);

// Fits lambda, pixel width, height, rotation and centre to `edges` from `start`, minimising the
// sum over the edge points of a robust loss of their signed distances to the model: Cauchy's
// first, from wherever the start is (a far point's pull fades with its distance), then Tukey's
// biweight, under which a point more than about five times the residuals' spread (from their
// median absolute deviation) from the model has no weight at all, so a touching object or a
// shadow does not pull. The distances allow for the edge's blur: the halfway level of a blurred
// edge runs inside a convex bend by b^2 k / 2 (blur b, curvature k). Only edge points whose nearest
// model point lies within the cut-off band count (cut_off_top and cut_off_bottom are fractions of
// the height, 0..0.49), as the deviation energy reads the model only there; no step may move more
// than 30 % of the points out of it. Levenberg-Marquardt steps on the weighted normal equations
// (six unknowns). The start's top stays the top: the fit moves lambda and the rotation continuously
// and never turns the model round. `axis` is kept from `start`. When the fit cannot improve on
// the start (too few points, a degenerate model), the start is returned with converged false.
CurveFit fit_curve_to_edges(const std::vector<EdgePoint>& edges,
                            const auto_fit_detail::Placement& start, double cut_off_top,
                            double cut_off_bottom);

// The best fit (lowest score) to `edges` from the given starts and from the model placed along
// twelve directions 15 degrees apart with lambda 0.6, 1 and 1.7 (height and pixel width the edge
// points' extents along and across, the centre their middle): each fitted roughly to 150 of the
// edge points, the best three then to all. With fewer than 12 edge points, the first start
// unfitted (placement default and score +inf without starts).
CurveFit best_curve_fit(const std::vector<EdgePoint>& edges,
                        const std::vector<auto_fit_detail::Placement>& starts, double cut_off_top,
                        double cut_off_bottom);

}  // namespace meravel
