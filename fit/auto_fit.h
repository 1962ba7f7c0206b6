// Automatic fit: all six W-curve parameters from the current outline in one call.
//
// Part of the computing core: no window is opened. The caller (the session's key a, or a batch
// run) takes the result; the session writes it back through the trackbars and refreshes.
#pragma once

#include <ostream>

#include "fit/fit_target.h"
#include "fit/geometry.h"

struct AutoFitResult {
  bool found = false;  // false when there is no outline or no start could be scored
  // The fitted values, whole numbers within the trackbar ranges for the target's W x H:
  // lambda_milli 1..6000, width 1..20W, height 1..H, rotation 0..359, translation 0..W / 0..H.
  ModelParameters model;
  double energy = 0.0;  // deviation energy of exactly these values (evaluate_model)
  int evaluations = 0;  // deviation energies computed on the way
};

// Fits the W-curve to target.outline_contour, reading the target's distance map and image size
// (W x H) and the cut-offs, every deviation energy computed in `work` (the no-points message of a
// candidate without points goes to `errors`).
//
// The outline's moments give its long axis; six axis directions 30 degrees apart from it are
// tried (the moments fix the symmetry axis only for a clearly elongated outline). A W-curve with
// lambda seen upside down is exactly the W-curve with 1/lambda (same outline), so the outline
// alone cannot tell the model's top from its bottom: the top is taken at the end of each axis
// that lies within 90 degrees of reference_rotation (the session passes the current Rotation,
// 325 at its start, so objects photographed top up are measured as such; key m sets the top
// explicitly). Along every axis and for a ladder of lambdas the model is placed like the resets
// do (centre, height and pixel width from the outline's extent along and across the axis); the
// best placements of the two most promising axes (of more on an outline near a circle) are
// refined on a smooth stand-in of the energy: the continuous model's chords sampled on the
// distance map, read where the outline's pixel centres lie for a model on the object's true
// edge; lambda then from the stand-in's profile over lambda, the other five values minimised at
// each point (auto_fit_detail.h).
//
// Lambda and the axis are taken from that refinement. The deviation energy itself is a poor judge
// of either: over whole-number parameters its valley along lambda is flat and made ragged by the
// model's truncations, so its lowest point wanders by several per cent on objects of 50 to 100
// pixels, and for an object near an ellipse it often prefers the model turned by 90 degrees. The
// other five parameters of the stand-in's best placement are then fitted on the deviation energy
// (a whole-number pattern search, until a full round at the smallest steps brings no
// improvement), lambda held.
AutoFitResult auto_fit(const FitTarget& target, const CutOffs& cut_offs, int reference_rotation,
                       EvaluationBuffers& work, std::ostream& errors);

// The refinement the automatic fit ends with, from `start`: the other five values fitted on the
// deviation energy by the same whole-number pattern search, lambda held. found is false when
// `start` lies outside the trackbar ranges or cannot be scored; model is then `start`.
AutoFitResult refine_fit(const FitTarget& target, const CutOffs& cut_offs,
                         const ModelParameters& start, EvaluationBuffers& work,
                         std::ostream& errors);
