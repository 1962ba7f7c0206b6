// The automatic fit's inner steps, shared by auto_fit.cpp, its start search and its tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "fit/fit_target.h"
#include "fit/geometry.h"

namespace meravel {

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

// The model placed along the rotation from the extents of `points` along and across its axis:
// height and pixel width the extents, the centre the middle of both. position(point) gives a
// point's image position (cv::Point2d).
template <class Point, class Position>
Placement placed_on_extents(const std::vector<Point>& points, double rotation_degrees,
                            double lambda, Position position) {
  const double angle = radians_from_degrees(rotation_degrees);
  // Unit vectors of the model: its top-to-bottom axis and the direction of its right half.
  const double axis_x = -std::sin(angle), axis_y = std::cos(angle);
  const double across_x = std::cos(angle), across_y = std::sin(angle);
  double along_min = HUGE_VAL, along_max = -HUGE_VAL, across_min = HUGE_VAL, across_max = -HUGE_VAL;
  for (const Point& point : points) {
    const cv::Point2d p = position(point);
    const double along = p.x * axis_x + p.y * axis_y;
    const double across = p.x * across_x + p.y * across_y;
    along_min = std::min(along_min, along);
    along_max = std::max(along_max, along);
    across_min = std::min(across_min, across);
    across_max = std::max(across_max, across);
  }
  const double along_mid = 0.5 * (along_min + along_max);
  const double across_mid = 0.5 * (across_min + across_max);
  Placement q;
  q.lambda = lambda;
  q.height = along_max - along_min;
  q.pixel_width = across_max - across_min;
  q.rotation_degrees = rotation_degrees;
  q.center_x = along_mid * axis_x + across_mid * across_x;
  q.center_y = along_mid * axis_y + across_mid * across_y;
  return q;
}

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

}  // namespace meravel
