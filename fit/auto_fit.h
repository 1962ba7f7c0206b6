// Automatic fit: all six W-curve parameters from the current outline in one call.
//
// Part of the computing core: no window is opened. The caller (the session's key a, or a batch
// run) takes the result; the session writes it back through the trackbars and refreshes.
#pragma once

#include <iostream>
#include <ostream>

#include "fit/fit_target.h"
#include "fit/fit_uncertainty.h"
#include "fit/geometry.h"

namespace meravel {

struct AutoFitResult {
  bool found = false;  // false when there is no outline to fit
  // The fitted values, whole numbers within the trackbar ranges for the target's W x H:
  // lambda_milli 1..6000, width 1..20W, height 4..the diagonal of W x H (height_maximum.h),
  // rotation 0..359, translation 0..W / 0..H.
  ModelParameters model;
  double energy = 0.0;  // deviation energy of exactly these values (evaluate_model); +inf when
                        // no scorable model was found near the fit (an object cut by the edge)
  int evaluations = 0;  // deviation energies computed on the way
  // Of the saved values: unknown (NaN) where the edge fit did not converge.
  FitUncertainty uncertainty;
  // Whether the least-squares fit to the edge converged (false: the values come from the
  // stand-in's placement alone).
  bool edge_fit_converged = false;
};

// Fits the W-curve to target.outline_contour, reading the target's distance map and image size
// (W x H), `photo` (the image the outline was found in, the same W x H: CV_8UC1, or CV_8UC3 BGR)
// with the `threshold` that found it, and the cut-offs; every deviation energy is computed in
// `work` (the no-points message of a candidate without points goes to `errors`).
//
// The outline's moments give its long axis; six axis directions 30 degrees apart from it are
// tried (the moments fix the symmetry axis only for a clearly elongated outline). Along every
// axis and for a ladder of lambdas the model is placed like the resets do (centre, height and
// pixel width from the outline's extent along and across the axis); the best placements of the
// two most promising axes (of more on an outline near a circle) are refined on a smooth stand-in
// of the energy: the continuous model's chords sampled on the distance map, read where the
// outline's pixel centres lie for a model on the object's true edge (auto_fit_detail.h).
//
// Those placements, and the model along twelve directions with three lambdas, start a robust
// least-squares fit of the continuous model to the object's edge located to a fraction of a pixel
// (subpixel_edges.h, curve_least_squares.h): lambda, pixel width, height, rotation and centre from
// the signed distances of the edge points to the model, Tukey's loss leaving out points that
// belong to something else (a second object touching, a shadow), the edge along the image's frame
// left out so that an object cut by the image's edge is fitted on what is visible. The fit that
// fits the edge best gives lambda and the start of the rest. The deviation energy itself is a poor
// judge of lambda: over whole-number parameters its valley along lambda is flat and made ragged
// by the model's truncations, so its lowest point wanders by several per cent on objects of 50 to
// 100 pixels, and the outline's pixels fix lambda only to about 1 % on such objects.
//
// A W-curve with lambda turned round by 180 degrees is exactly the W-curve with 1/lambda (same
// outline), so the outline alone cannot tell the model's top from its bottom: the top is kept
// within 90 degrees of reference_rotation's top (model_top.h: a quarter turn clockwise counts as
// within, anticlockwise not), the fit turned round (1/lambda) where it is not; the session passes
// the current Rotation, 325 at its start, so objects photographed top up are measured as such, and
// key m sets the top explicitly. The fit's values are rounded to whole numbers within the trackbar
// ranges, and the five other than lambda then fitted on the deviation energy (a whole-number
// pattern search, until a full round at the smallest steps brings no improvement), lambda held and
// the top kept. A model that reaches the image's outer frame cannot be scored: for an object cut
// by the image's edge the pattern search takes a scorable model within its first steps where there
// is one, and otherwise the fit stays as it is, with the energy +inf.
// A fit broader than high is fitted again a quarter turned and taken so where it fits the edge as
// well; with `egg_tolerance_px` > 0 (an object known to be an egg) also where its RMS distance to
// the edge is at most that much more.
AutoFitResult auto_fit(const FitTarget& target, const cv::Mat& photo, int threshold,
                       const CutOffs& cut_offs, int reference_rotation, EvaluationBuffers& work,
                       std::ostream& errors, double egg_tolerance_px = 0.0);

struct FitState;

// Key a on the whole record: auto_fit of state's target, source_image (its grey levels inverted
// for a dark object on a light ground, so that the object is the light side as for the
// binarisation), threshold, cut-offs and current rotation, in state's work buffers, the no-points
// messages to `errors`.
AutoFitResult auto_fit(FitState& state, std::ostream& errors = std::cerr,
                       double egg_tolerance_px = 0.0);

// The refinement the automatic fit ends with, from `start`: the other five values fitted on the
// deviation energy by the same whole-number pattern search, lambda held and the top kept within 90
// degrees of start's. found is false when `start` lies outside the trackbar ranges or cannot be
// scored; model is then `start`.
AutoFitResult refine_fit(const FitTarget& target, const CutOffs& cut_offs,
                         const ModelParameters& start, EvaluationBuffers& work,
                         std::ostream& errors);

}  // namespace meravel
