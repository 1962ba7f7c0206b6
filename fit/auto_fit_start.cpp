// Where the automatic fit starts: the outline's axes, the resets' placement along them, and a
// ladder of lambdas refined on the smooth stand-in of the energy.
#include <algorithm>
#include <cmath>
#include <map>
#include <opencv2/core.hpp>
#include <utility>

#include "fit/auto_fit.h"
#include "fit/auto_fit_detail.h"
#include "fit/geometry.h"

namespace meravel {

namespace auto_fit_detail {
namespace {

constexpr int kAxes = 6;  // axis directions tried, 30 degrees apart

// The model rotation whose top-to-bottom direction (-sin r, cos r) is the image direction
// (dx, dy), turned round when that puts the top more than 90 degrees from the reference.
double rotation_towards(double dx, double dy, int reference_rotation) {
  double rotation = wrapped_degrees(degrees_from_radians(std::atan2(-dx, dy)));
  if (degrees_between(rotation, reference_rotation) > 90.0)
    rotation = wrapped_degrees(rotation + 180.0);
  return rotation;
}

struct Scored {
  double energy;
  int axis;
  Placement placement;
};

}  // namespace

std::vector<double> axis_rotations(const std::vector<cv::Point>& outline, int reference_rotation) {
  double mean_x = 0.0, mean_y = 0.0;
  for (const cv::Point& p : outline) {
    mean_x += p.x;
    mean_y += p.y;
  }
  mean_x /= outline.size();
  mean_y /= outline.size();
  double xx = 0.0, yy = 0.0, xy = 0.0;
  for (const cv::Point& p : outline) {
    double dx = p.x - mean_x, dy = p.y - mean_y;
    xx += dx * dx;
    yy += dy * dy;
    xy += dx * dy;
  }
  // A symmetric outline has its symmetry axis among the principal axes of its points.
  double long_axis = 0.5 * std::atan2(2.0 * xy, xx - yy);
  double short_axis = long_axis + 0.5 * kPi;
  return {rotation_towards(std::cos(long_axis), std::sin(long_axis), reference_rotation),
          rotation_towards(std::cos(short_axis), std::sin(short_axis), reference_rotation)};
}

Placement place_along_axis(const std::vector<cv::Point>& outline, double rotation_degrees,
                           double lambda) {
  return placed_on_extents(outline, rotation_degrees, lambda,
                           [](const cv::Point& p) { return cv::Point2d(p.x, p.y); });
}

Placement refine_lambda(const FitTarget& target, const CutOffs& cut_offs, const Placement& start,
                        int* evaluations) {
  constexpr double kStep = 0.005;  // log lambda between profile points
  constexpr int kReach = 6;        // points on each side of the lowest that the parabola takes
  constexpr int kShifts = 4;       // times the profile may grow when its lowest point nears an end
  constexpr double kScale = 0.1;   // neighbouring points lie close: a small first simplex
  // Profile point k is at lambda = start.lambda * exp(k kStep); each is minimised from its
  // neighbour's placement nearer the start, so the profile follows one valley.
  std::map<int, std::pair<double, Placement>> profile;
  auto point = [&](int k, const Placement& from) {
    Placement q = from;
    q.lambda = start.lambda * std::exp(k * kStep);
    q = minimise_chord_energy_at_lambda(target, cut_offs, q, kScale, evaluations);
    profile[k] = {chord_energy(target, cut_offs, q), q};
  };
  point(0, start);
  for (int k = 1; k <= kReach; ++k) {
    point(k, profile[k - 1].second);
    point(-k, profile[-k + 1].second);
  }
  int lowest = 0;
  for (int shift = 0;; ++shift) {
    for (const auto& [k, value] : profile)
      if (value.first < profile[lowest].first) lowest = k;
    const int first = profile.begin()->first, last = profile.rbegin()->first;
    if (shift == kShifts || (lowest - first >= kReach - 1 && last - lowest >= kReach - 1)) break;
    if (lowest - first < kReach - 1)
      for (int k = first - 1; k >= lowest - kReach; --k) point(k, profile[k + 1].second);
    else
      for (int k = last + 1; k <= lowest + kReach; ++k) point(k, profile[k - 1].second);
  }
  // On a small object the profile is ragged (the simplex settles in slightly different rotations
  // from point to point), so its lowest point wanders; a least-squares parabola through the
  // squared energies of the points round it (a sum of squares is nearly quadratic near its
  // minimum) finds the valley's middle. u = k - lowest.
  double sums[5] = {0, 0, 0, 0, 0}, rhs[3] = {0, 0, 0};
  int low_u = 0, high_u = 0;
  for (int u = -kReach; u <= kReach; ++u) {
    auto it = profile.find(lowest + u);
    if (it == profile.end() || !std::isfinite(it->second.first)) continue;
    low_u = std::min(low_u, u);
    high_u = std::max(high_u, u);
    const double e2 = it->second.first * it->second.first;
    double power = 1.0;
    for (int j = 0; j < 5; ++j, power *= u) sums[j] += power;
    rhs[0] += e2;
    rhs[1] += u * e2;
    rhs[2] += u * u * e2;
  }
  const cv::Matx33d normal(sums[0], sums[1], sums[2], sums[1], sums[2], sums[3], sums[2], sums[3],
                           sums[4]);
  cv::Vec3d c;
  double vertex = 0.0;
  if (cv::solve(normal, cv::Vec3d(rhs[0], rhs[1], rhs[2]), c) && c[2] > 0.0)
    vertex = std::clamp(-c[1] / (2.0 * c[2]), double(low_u), double(high_u));
  const int nearest = lowest + static_cast<int>(std::lround(vertex));
  Placement q = profile.count(nearest) ? profile[nearest].second : profile[lowest].second;
  q.lambda = start.lambda * std::exp((lowest + vertex) * kStep);
  return minimise_chord_energy_at_lambda(target, cut_offs, q, kScale, evaluations);
}

std::vector<Placement> refined_starts(const FitTarget& target, const CutOffs& cut_offs,
                                      int reference_rotation) {
  const std::vector<cv::Point>& outline = target.outline_contour;
  // The long axis, then every 30 degrees round to the short axis (index 3) and beyond: the
  // moments fix the symmetry axis only when the outline is clearly longer one way than the other.
  const double long_axis = axis_rotations(outline, reference_rotation)[0];
  std::vector<double> rotations;
  for (int k = 0; k < kAxes; ++k) {
    double rotation = wrapped_degrees(long_axis + 30.0 * k);
    if (degrees_between(rotation, reference_rotation) > 90.0)
      rotation = wrapped_degrees(rotation + 180.0);
    rotations.push_back(rotation);
  }
  std::vector<Scored> best_rungs(kAxes, Scored{HUGE_VAL, 0, Placement()});
  for (int axis = 0; axis < kAxes; ++axis) {
    for (double lambda = 0.2; lambda < 6.0; lambda *= 1.2) {
      Placement q = place_along_axis(outline, rotations[axis], lambda);
      q.axis = axis;
      const double energy = chord_energy(target, cut_offs, q);
      if (energy < best_rungs[axis].energy) best_rungs[axis] = {energy, axis, q};
    }
  }
  std::stable_sort(best_rungs.begin(), best_rungs.end(),
                   [](const Scored& a, const Scored& b) { return a.energy < b.energy; });
  // The best rungs of the two most promising axes are refined: for a clearly elongated outline
  // these are the long and the short axis (the symmetry axis of wide objects). So is every other
  // axis whose best rung comes within twice the best one's energy: on an outline near a circle
  // the placements along the axes score alike, and the symmetry axis can be any of them.
  std::vector<Scored> refined;
  int evaluations = 0;
  for (int k = 0; k < kAxes && best_rungs[k].energy < HUGE_VAL &&
                  (k < 2 || best_rungs[k].energy <= 2.0 * best_rungs[0].energy);
       ++k) {
    const Placement q =
        minimise_chord_energy(target, cut_offs, best_rungs[k].placement, &evaluations);
    refined.push_back({chord_energy(target, cut_offs, q), best_rungs[k].axis, q});
  }
  // Lambda's profile costs some thousand stand-in energies: only placements that can compete
  // get one (an object near an ellipse fits almost as well turned by 90 degrees).
  const auto by_energy = [](const Scored& a, const Scored& b) { return a.energy < b.energy; };
  std::stable_sort(refined.begin(), refined.end(), by_energy);
  const double competitive = refined.empty() ? 0.0 : 1.5 * refined.front().energy;
  for (Scored& s : refined) {
    if (!(s.energy < HUGE_VAL && s.energy <= competitive)) continue;
    s.placement = refine_lambda(target, cut_offs, s.placement, &evaluations);
    s.energy = chord_energy(target, cut_offs, s.placement);
  }
  std::stable_sort(refined.begin(), refined.end(), by_energy);
  std::vector<Placement> starts;
  for (const Scored& s : refined) starts.push_back(s.placement);
  return starts;
}

}  // namespace auto_fit_detail

}  // namespace meravel
