// Whether a fit can be an egg's measurement: checks on the fitted values, the object's outline and
// the photograph that a low energy does not make. A model can fit an outline well and still be
// wrong: its long axis lying across the egg, a fragment or a straw taken for the egg, two objects
// taken as one, an edge too faint to locate.
//
// Every threshold is named here with the reason for its value. Computing core: opencv_core and
// opencv_imgproc only.
#pragma once

#include <cmath>
#include <opencv2/core.hpp>
#include <vector>

#include "fit/fit_uncertainty.h"
#include "fit/fit_warnings.h"
#include "fit/model.h"

namespace meravel {

// Length and breadth below this many pixels: whole-pixel rounding of the saved height alone
// (±0.5 px) is then 2.5 % of the size, close to the few per cent a measurement must hold, and an
// outline that small is more often a fragment, a speck or a straw than an egg.
inline constexpr double kMinimumSizePx = 20.0;

// The range of lambda (either way up: lambda and 1/lambda) that real eggs have. The widest point
// of the model lies at the fraction p = lambda / (1 + lambda) of its length; across bird eggs,
// from near-spherical owl eggs to the most pointed shorebird and auk eggs, the widest point lies
// within about 35 to 65 % of the length. 0.4 and 2.5 put it at 29 and 71 %, a margin beyond the
// most extreme eggs; the trackbar's ends (0.001 and 6) lie far outside.
inline constexpr double kEggLambdaLow = 0.4;
inline constexpr double kEggLambdaHigh = 2.5;

// The model's area and the object's area (its outline's pixels) differ by more than this fraction:
// the model then covers something else than the object (part of it, or more than it). An outline
// traced on pixels differs from the true edge by at most about half a pixel all round: 4 % of the
// area of an object 50 px across, 2 % at 100 px; 8 % leaves that room.
inline constexpr double kAreaMismatchFraction = 0.08;

// Solidity, the object's area over the area of its convex hull, below this: an egg's outline is
// convex (a pixel outline of a convex object keeps a solidity above 0.97 from 30 px on), so a
// lower one is two objects touching, an object with its shadow or a fragment.
inline constexpr double kMinimumSolidity = 0.95;

// Grey-level difference between the object (a band just inside its outline) and the ground (a
// band just outside) below this: with JPEG noise of 3 to 6 levels, the halfway level between
// them is then found only to about a pixel, and such an outline is often the ground's own texture.
inline constexpr double kMinimumContrastGrey = 20.0;

// The contrast across the outline (object minus ground, read 4 px either side along the normal)
// steps by more than this fraction of its median between two neighbouring stretches of the
// outline: the outline runs along two different things, as where an object's cast shadow or a
// second object lies above the threshold and is taken in. Light falling from one side changes the
// contrast smoothly along the outline, by a few levels over 15 px, not in a step; the medians over
// 15 px stretches leave specks on the shell out. A step alone is no flag: a shell lit through from
// behind glows unevenly and a stand or a lit card beside the egg changes the ground, in steps as
// large as a shadow's (0.3 to 1.5 of the median on right fits of candled eggs); the flag needs the
// outline's parts either side of the step to give eggs both smaller than the whole's as well
// (contrast_parts.h), as two things taken in as one do.
inline constexpr double kContrastStepFraction = 0.3;

// The runner-up candidate of the object choice scored at least this fraction of the chosen one's
// score (higher is better): the choice was close, another object may be the one to measure.
inline constexpr double kRunnerUpCloseRatio = 0.9;

// The fits from different starts disagree when some value (lambda, length, breadth) differs
// between them by more than this many of its standard errors, and by more than kStartsDisagree-
// Fraction of the value (below that the disagreement does not matter for a measurement).
inline constexpr double kStartsDisagreeErrors = 2.0;
inline constexpr double kStartsDisagreeFraction = 0.01;

// What the checks found about one fit.
struct Plausibility {
  bool length_below_breadth = false;  // the long axis lies across the model's axis
  bool too_small = false;             // length or breadth below kMinimumSizePx
  bool lambda_not_egg_like = false;   // lambda (or 1/lambda) outside kEggLambdaLow..High
  bool area_mismatch = false;         // model and object areas differ by kAreaMismatchFraction
  bool not_convex = false;            // solidity below kMinimumSolidity
};

// The checks of the model (with its own dimensions) against the object's `outline` (a closed
// pixel chain in the same image coordinates). An empty outline checks the model alone.
Plausibility check_plausibility(const ModelParameters& model,
                                const std::vector<cv::Point>& outline);

// The area of the continuous model in px^2 (the closed curve of the model values, no cut-offs):
// length * breadth * B(p+1, q+1) / (p^p q^q), p = lambda / (1 + lambda), q = 1 - p. 0 for a model
// without extent.
double model_area_px2(const ModelParameters& model);

// The object's area in px^2 from its pixel outline: the polygon through the boundary pixels'
// centres plus the half pixel outside it all round (half the perimeter).
double outline_area_px2(const std::vector<cv::Point>& outline);

// The object's area over the area of its convex hull, 0..1; 0 for fewer than three points.
double solidity(const std::vector<cv::Point>& outline);

// The difference of the mean grey levels (0..255) of a band 2 to 5 px inside `outline` and a band
// 2 to 5 px outside it in `image` (CV_8UC1, or CV_8UC3 BGR turned grey), object minus ground; NaN
// when a band holds no pixel.
double object_ground_contrast(const cv::Mat& image, const std::vector<cv::Point>& outline);

// The outline pixels over which the contrast along an outline is steadied (a median): specks on
// the shell are left out.
inline constexpr int kContrastStretch = 15;

// The contrast across `outline` (a closed pixel chain) in `image` (CV_8UC1, or CV_8UC3 BGR turned
// grey) at each of its points: the grey level 4 px inside less the one 4 px outside, along the
// normal of the chord over 3 points either side. Empty for an empty image or an outline of fewer
// than 6 * kContrastStretch points.
std::vector<double> contrast_along_outline(const cv::Mat& image,
                                           const std::vector<cv::Point>& outline);

// The largest step of a closed profile `contrast` (contrast_along_outline) between two
// neighbouring stretches of kContrastStretch points (their medians).
struct ContrastStep {
  double fraction = 0.0;  // the step as a fraction of the median contrast; 0 where none is found
  int at = -1;            // the first point of the stretch after the step; -1 where none
  double before = 0.0, after = 0.0;  // the two stretches' medians
};
ContrastStep largest_contrast_step(const std::vector<double>& contrast);

// The largest step of the contrast across `outline` (a closed pixel chain) in `image` between two
// neighbouring stretches of 15 outline pixels (their medians), as a fraction of the median
// contrast over the whole outline; 0 for an outline too short or without contrast.
double contrast_step_along_outline(const cv::Mat& image, const std::vector<cv::Point>& outline);

// Whether values from different starts disagree: a difference `spread` against the standard
// error `error` of a value `value`, as kStartsDisagreeErrors and kStartsDisagreeFraction say.
// False when any of them is not known (NaN).
bool disagrees(double spread, double error, double value);

// Whether the fits from other starts disagree with the fit of `model` by more than their errors
// (disagrees, for lambda, the length and the breadth of the model's values).
bool starts_disagree(const FitUncertainty& uncertainty, const ModelParameters& model);

// The evidence of an automatic fit of `model` to the object of `outline` in `image` (the image the
// fit was made on): the object's contrast with the ground and whether other starts disagreed.
FitEvidence fit_evidence(const cv::Mat& image, const std::vector<cv::Point>& outline,
                         const ModelParameters& model, const FitUncertainty& uncertainty);

}  // namespace meravel
