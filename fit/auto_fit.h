// Automatic fit: all six W-curve parameters from the current outline in one call.
//
// Part of the computing core: no window is opened. The caller (the session's key a) writes the
// result back through the trackbars and refreshes the view.
#pragma once

#include "fit/fit_W.h"

struct AutoFitResult {
  bool found = false;  // false when there is no outline to fit
  // The fitted parameters, whole numbers within the trackbar ranges for the photograph's W x H:
  // lambda_milli 1..6000, width 1..20W, height 1..the diagonal of W x H (height_maximum.h),
  // rotation 0..359, translation 0..W / 0..H.
  int lambda_milli = 0;
  int width = 0;
  int height = 0;
  int rotation = 0;
  int translation_x = 0;
  int translation_y = 0;
  double energy = 0.0;  // deviation energy of exactly these parameters (evaluate_parameters)
  int evaluations = 0;  // deviation energies computed on the way
};

// Fits the W-curve to state.outline_contour, reading state.distance_image (already computed for
// that outline), state.source_image (the photograph the outline was found in) with
// state.threshold, the cut-offs and the photograph size (the size of state.distance_image).
//
// The outline's moments give its long axis; six axis directions 30 degrees apart from it are
// tried (the moments fix the symmetry axis only for a clearly elongated outline). Along every
// axis and for a ladder of lambdas the model is placed like the resets do (centre, height and
// pixel width from the outline's extent along and across the axis); the best placements of the
// two most promising axes (of more on an outline near a circle) are refined on a smooth stand-in of
// the energy: the continuous model's chords sampled on the distance map, read where the outline's
// pixel centres lie for a model on the object's true edge (auto_fit_detail.h).
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
// within 90 degrees of the current state.rotation (model_top.h: a quarter turn clockwise counts
// as within, anticlockwise not), the fit turned round (1/lambda) where it is not; the session
// starts at 325, so objects photographed top up are measured as such, and key m sets the top
// explicitly. The fit's values are rounded to whole numbers within the trackbar ranges, and the
// five other than lambda then fitted on the deviation energy (a whole-number pattern search,
// until a full round at the smallest steps brings no improvement), lambda held and the top kept.
// A model that reaches the image's outer frame cannot be scored: for an object cut by the image's
// edge the pattern search takes a scorable model within its first steps where there is one, and
// otherwise the fit stays as it is, with the energy +inf.
//
// The returned energy is the deviation energy of exactly the returned parameters. Overwrites
// pixel_width, peak_abscissa and the energy's work data; the model parameter fields of `state`
// are left as they were.
AutoFitResult auto_fit(FitState& state);

// The width factor that makes the continuous model with this lambda (> 0) and height (> 0) as
// wide as pixel_width pixels: width = pixel_width * D_min / (2 lambda), where D_min is the
// minimum over t of (h/2) e^t + e^(-lambda t). Not truncated.
double width_for_pixel_width(double lambda, double height, double pixel_width);
