// A smooth stand-in of the deviation energy for the automatic fit's coarse search, and the
// simplex that minimises it.
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "fit/auto_fit.h"
#include "fit/auto_fit_detail.h"
#include "fit/geometry.h"

namespace meravel {

namespace auto_fit_detail {
namespace {

// Bilinear distance at a real image point; off the image, the value at the nearest image point
// plus the way to it.
double distance_at(const cv::Mat& distance, double x, double y) {
  double cx = std::clamp(x, 0.0, distance.cols - 1.0);
  double cy = std::clamp(y, 0.0, distance.rows - 1.0);
  // Inside the image, the usual case, the way out is 0 and hypot's cost is saved.
  const double outside = (cx == x && cy == y) ? 0.0 : std::hypot(x - cx, y - cy);
  int x0 = std::min(static_cast<int>(cx), distance.cols - 2 < 0 ? 0 : distance.cols - 2);
  int y0 = std::min(static_cast<int>(cy), distance.rows - 2 < 0 ? 0 : distance.rows - 2);
  int x1 = std::min(x0 + 1, distance.cols - 1), y1 = std::min(y0 + 1, distance.rows - 1);
  double fx = cx - x0, fy = cy - y0;
  const float* row0 = distance.ptr<float>(y0);
  const float* row1 = distance.ptr<float>(y1);
  double top = row0[x0] + fx * (row0[x1] - row0[x0]);
  double bottom = row1[x0] + fx * (row1[x1] - row1[x0]);
  return top + fy * (bottom - top) + outside;
}

constexpr int kDimensions = 6;
// log lambda, pixel width, height, rotation, centre x, centre y
using Vertex = std::array<double, kDimensions>;

Placement to_placement(const Vertex& v) {
  Placement q;
  q.lambda = std::exp(v[0]);
  q.pixel_width = v[1];
  q.height = v[2];
  q.rotation_degrees = v[3];
  q.center_x = v[4];
  q.center_y = v[5];
  return q;
}

Vertex to_vertex(const Placement& q) {
  return {std::log(q.lambda), q.pixel_width, q.height, q.rotation_degrees, q.center_x, q.center_y};
}

}  // namespace

double chord_energy(const FitTarget& target, const CutOffs& cut_offs, const Placement& q) {
  const cv::Mat& distance = target.distance_image;
  if (!(q.lambda > 0.0) || !(q.height > 1.0) || !(q.pixel_width > 0.0) || distance.empty() ||
      !std::isfinite(q.center_x) || !std::isfinite(q.center_y))
    return HUGE_VAL;
  const double h = q.height;
  const double a = q.lambda * width_for_pixel_width(q.lambda, h, q.pixel_width);
  const double angle = radians_from_degrees(q.rotation_degrees);
  const double c = std::cos(angle), s = std::sin(angle);
  const double top = (cut_offs.top / 100.0) * h;
  const double bottom = (1.0 - cut_offs.bottom / 100.0) * h;

  // The model's samples (offset, depth), kept where the cut-offs keep them.
  double offsets[800], depths[800];
  int kept = 0;
  // e^t and e^(-lambda t) along t = -20, -19.95, ... by running products: the stand-in needs no
  // more than a few significant digits, and this saves three exponentials per sample.
  static const double grow = std::exp(0.05), first_e_t = std::exp(-20.0);
  const double shrink = std::exp(-0.05 * q.lambda);
  double e_t = first_e_t, e_lambda_t = std::exp(20.0 * q.lambda);
  for (int i = 0; i < 800; ++i, e_t *= grow, e_lambda_t *= shrink) {
    const double g = 1.0 / ((h / 2.0) * e_t + e_lambda_t);
    const double depth = (h * h / 2.0) * e_t * g;
    if (depth < top || depth > bottom) continue;
    offsets[kept] = a * g;
    depths[kept] = depth - h / 2.0;
    ++kept;
  }
  if (kept == 0) return HUGE_VAL;

  const double sample_spacing = std::max(1.0, std::max(h, q.pixel_width) / 400.0);
  double sum = 0.0, weight = 0.0;
  for (double side : {1.0, -1.0}) {
    for (int i = 1; i < kept; ++i) {
      // The chord in the model's frame, then in the image.
      const double from_x = side * offsets[i - 1], from_y = depths[i - 1];
      const double dx = side * offsets[i] - from_x, dy = depths[i] - from_y;
      const double x0 = q.center_x + from_x * c - from_y * s;
      const double y0 = q.center_y + from_x * s + from_y * c;
      const double image_dx = dx * c - dy * s, image_dy = dx * s + dy * c;
      // An 8-connected line covers max(|dx|, |dy|) pixels: weigh the chord by that. Sample it at
      // every pixel, or every few pixels on a large model, where the smooth map allows it.
      const double length = std::max(std::fabs(image_dx), std::fabs(image_dy));
      const int pieces = std::max(1, static_cast<int>(std::ceil(length / sample_spacing)));
      const double piece_weight = length / pieces;
      // The outline is the object's border pixels: their centres lie inside the true edge, by
      // up to max(|nx|, |ny|) along its normal n (the step to the outer neighbour), half that on
      // average. The chord is read that far inwards, so a model on the true edge scores best.
      double inset_x = 0.0, inset_y = 0.0;
      const double chord = std::hypot(image_dx, image_dy);
      if (chord > 0.0) {
        const double nx = -side * image_dy / chord, ny = side * image_dx / chord;
        const double inset = 0.5 * std::max(std::fabs(nx), std::fabs(ny));
        inset_x = inset * nx;
        inset_y = inset * ny;
      }
      for (int j = 0; j < pieces; ++j) {
        const double f = (j + 0.5) / pieces;
        const double d =
            distance_at(distance, x0 + f * image_dx + inset_x, y0 + f * image_dy + inset_y);
        sum += piece_weight * d * d;
      }
      weight += length;
    }
  }
  if (!(weight > 0.0)) return HUGE_VAL;
  return std::sqrt(sum / weight);
}

namespace {

// Restarted Nelder-Mead on chord_energy over the vertex coordinates listed in `free` (the others
// stay as in `start`); the first simplex's steps are `scale` times 10 % of lambda, 3 % of the
// pixel width and height, 3 degrees and 2 % of the model's size.
Placement nelder_mead(const FitTarget& target, const CutOffs& cut_offs, const Placement& start,
                      const std::vector<int>& free, double scale, int restarts, double tolerance,
                      int* evaluations) {
  const int n = static_cast<int>(free.size());
  auto f = [&](const Vertex& v) {
    ++*evaluations;
    return chord_energy(target, cut_offs, to_placement(v));
  };
  Vertex best = to_vertex(start);
  double best_energy = f(best);
  const double size = std::max(start.height, start.pixel_width);
  // Restarts with a fresh, smaller simplex until one brings (almost) nothing.
  for (int restart = 0; restart < restarts; ++restart) {
    const Vertex steps = {0.1 * scale,
                          0.03 * start.pixel_width * scale,
                          0.03 * start.height * scale,
                          3.0 * scale,
                          0.02 * size * scale,
                          0.02 * size * scale};
    std::vector<Vertex> simplex(n + 1, best);
    std::vector<double> energy(n + 1, best_energy);
    for (int k = 0; k < n; ++k) {
      simplex[k + 1][free[k]] += steps[free[k]];
      energy[k + 1] = f(simplex[k + 1]);
    }
    std::vector<int> order(n + 1);
    for (int iteration = 0; iteration < 200 * n; ++iteration) {
      for (int k = 0; k <= n; ++k) order[k] = k;
      std::sort(order.begin(), order.end(), [&](int a, int b) { return energy[a] < energy[b]; });
      const int lowest = order[0], highest = order[n], second = order[n - 1];
      if (energy[highest] - energy[lowest] < tolerance) break;
      Vertex centroid = best;
      for (int j : free) centroid[j] = 0.0;
      for (int k : order)
        if (k != highest)
          for (int j : free) centroid[j] += simplex[k][j] / n;
      auto along = [&](double factor) {
        Vertex v = centroid;
        for (int j : free) v[j] = centroid[j] + factor * (simplex[highest][j] - centroid[j]);
        return v;
      };
      auto replace_highest = [&](const Vertex& v, double e) {
        simplex[highest] = v;
        energy[highest] = e;
      };
      const Vertex reflected = along(-1.0);
      const double reflected_energy = f(reflected);
      if (reflected_energy < energy[lowest]) {
        const Vertex expanded = along(-2.0);
        const double expanded_energy = f(expanded);
        if (expanded_energy < reflected_energy)
          replace_highest(expanded, expanded_energy);
        else
          replace_highest(reflected, reflected_energy);
      } else if (reflected_energy < energy[second]) {
        replace_highest(reflected, reflected_energy);
      } else {
        const Vertex contracted = along(reflected_energy < energy[highest] ? -0.5 : 0.5);
        const double contracted_energy = f(contracted);
        if (contracted_energy < std::min(energy[highest], reflected_energy)) {
          replace_highest(contracted, contracted_energy);
        } else {
          for (int k : order) {
            if (k == lowest) continue;
            for (int j : free)
              simplex[k][j] = simplex[lowest][j] + 0.5 * (simplex[k][j] - simplex[lowest][j]);
            energy[k] = f(simplex[k]);
          }
        }
      }
    }
    const int lowest =
        static_cast<int>(std::min_element(energy.begin(), energy.end()) - energy.begin());
    const bool improved = energy[lowest] < best_energy - 1e-6;
    if (energy[lowest] < best_energy) {
      best = simplex[lowest];
      best_energy = energy[lowest];
    }
    if (!improved && restart > 0) break;
    scale *= 0.5;
  }
  return to_placement(best);
}

}  // namespace

Placement minimise_chord_energy(const FitTarget& target, const CutOffs& cut_offs,
                                const Placement& start, int* evaluations) {
  return nelder_mead(target, cut_offs, start, {0, 1, 2, 3, 4, 5}, 1.0, 6, 1e-7, evaluations);
}

Placement minimise_chord_energy_at_lambda(const FitTarget& target, const CutOffs& cut_offs,
                                          const Placement& start, double scale, int* evaluations) {
  return nelder_mead(target, cut_offs, start, {1, 2, 3, 4, 5}, scale, 2, 1e-5, evaluations);
}

}  // namespace auto_fit_detail

}  // namespace meravel
