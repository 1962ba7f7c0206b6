// The automatic fit's inner steps, shared by auto_fit.cpp, its start search and its tests.
#pragma once

#include <vector>

#include "fit/fit_target.h"

namespace auto_fit_detail {

// A model placement in continuous, decoupled terms: the width factor follows from lambda, the
// height and the pixel width (width_for_pixel_width).
struct Placement {
  double lambda = 1.0;
  double pixel_width = 0.0;
  double height = 0.0;
  double rotation_degrees = 0.0;  // model convention: 0 points down, 90 left
  double center_x = 0.0;
  double center_y = 0.0;
  int axis = 0;  // which axis it was placed along: 30 degrees times this from the long axis
};

// The outline's principal axes from the second moments of its points, as the model rotations
// (degrees in [0, 360)) whose top lies within 90 degrees of reference_rotation: the long axis
// first, then the short one.
std::vector<double> axis_rotations(const std::vector<cv::Point>& outline, int reference_rotation);

// Places the model along the rotation like the resets do: height and pixel width are the
// outline's extents along and across the axis, the centre the middle of both.
Placement place_along_axis(const std::vector<cv::Point>& outline, double rotation_degrees,
                           double lambda);

// Root mean square of the distance map along the continuous model's chords (the same 800 samples
// as the model, without truncation, honouring the cut-offs), each chord weighted by the number
// of pixels an 8-connected line covers on it; distances are read bilinearly, off the image the
// distance to the image is added. Each chord is read where the outline's pixel centres lie on
// average for an edge along it: half a pixel step inwards (0.5 max(|nx|, |ny|) along its inward
// normal n), so the lowest point is the model on the object's true edge. A smooth stand-in of the
// deviation energy; +inf for a model without samples.
double chord_energy(const FitTarget& target, const CutOffs& cut_offs, const Placement& q);

// Minimises chord_energy from `start` with a restarted Nelder-Mead simplex.
Placement minimise_chord_energy(const FitTarget& target, const CutOffs& cut_offs,
                                const Placement& start, int* evaluations);

// Minimises chord_energy over everything but lambda, which stays as in `start`; `scale` sizes the
// first simplex (1 for the same steps as minimise_chord_energy, less when `start` is close). Stops
// sooner than minimise_chord_energy (energies within 1e-5 px, at most two simplexes): it serves
// lambda's profile, whose points lie close together.
Placement minimise_chord_energy_at_lambda(const FitTarget& target, const CutOffs& cut_offs,
                                          const Placement& start, double scale, int* evaluations);

// Lambda from the stand-in's profile around `start` (a minimum of chord_energy): the other five
// values minimised at lambdas 0.5 % apart, at least six on either side of the lowest (the profile
// grows where its lowest point nears an end, four times at most), the lowest point of a
// least-squares parabola through the squared energies of those thirteen, and the other five
// minimised again there. Along lambda the stand-in's valley is flat on a small object and its
// floor ragged, so the simplex stops anywhere on it; the profile finds the valley's middle.
Placement refine_lambda(const FitTarget& target, const CutOffs& cut_offs, const Placement& start,
                        int* evaluations);

// The best few placements of the automatic fit, best first on chord_energy: six axes 30 degrees
// apart from the long axis on (top towards the reference rotation) times a ladder of lambdas, each
// placed along its axis; the best rung of each of the two most promising axes, and of every axis
// whose best rung comes within twice the best one's energy, refined on chord_energy, and lambda
// refined on its profile for those within 1.5 times the best refined one's energy.
std::vector<Placement> refined_starts(const FitTarget& target, const CutOffs& cut_offs,
                                      int reference_rotation);

}  // namespace auto_fit_detail
