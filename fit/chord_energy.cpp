// A smooth stand-in of the deviation energy for the automatic fit's coarse search, and the
// simplex that minimises it.
#include <algorithm>
#include <array>
#include <cmath>

#include "fit/auto_fit.h"
#include "fit/auto_fit_detail.h"

namespace auto_fit_detail {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Bilinear distance at a real image point; off the image, the value at the nearest image point
// plus the way to it.
double distance_at(const cv::Mat& distance, double x, double y) {
  double cx = std::clamp(x, 0.0, distance.cols - 1.0);
  double cy = std::clamp(y, 0.0, distance.rows - 1.0);
  double outside = std::hypot(x - cx, y - cy);
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

using Vertex = std::array<double, 6>;  // log lambda, pixel width, height, rotation, centre x, y

Placement to_placement(const Vertex& v) { return {std::exp(v[0]), v[1], v[2], v[3], v[4], v[5]}; }

Vertex to_vertex(const Placement& q) {
  return {std::log(q.lambda), q.pixel_width, q.height, q.rotation_degrees, q.center_x, q.center_y};
}

}  // namespace

double chord_energy(const FitState& state, const Placement& q) {
  const cv::Mat& distance = state.distance_image;
  if (!(q.lambda > 0.0) || !(q.height > 1.0) || !(q.pixel_width > 0.0) || distance.empty() ||
      !std::isfinite(q.center_x) || !std::isfinite(q.center_y))
    return HUGE_VAL;
  const double h = q.height;
  const double a = q.lambda * width_for_pixel_width(q.lambda, h, q.pixel_width);
  const double angle = q.rotation_degrees * kPi / 180.0;
  const double c = std::cos(angle), s = std::sin(angle);
  const double top = (state.cut_off_top / 100.0) * h;
  const double bottom = (1.0 - state.cut_off_bottom / 100.0) * h;

  // The model's samples (offset, depth), kept where the cut-offs keep them.
  double offsets[800], depths[800];
  int kept = 0;
  double t = -20.0;
  for (int i = 0; i < 800; ++i, t += 0.05) {
    double g = 1.0 / ((h / 2.0) * std::exp(t) + std::exp(-q.lambda * t));
    double depth = (h * h / 2.0) * std::exp(t) * g;
    if (depth < top || depth > bottom) continue;
    offsets[kept] = a * g;
    depths[kept] = depth - h / 2.0;
    ++kept;
  }
  if (kept == 0) return HUGE_VAL;

  double sum = 0.0, weight = 0.0;
  for (double side : {1.0, -1.0}) {
    double previous_x = 0.0, previous_y = 0.0;
    for (int i = 0; i < kept; ++i) {
      double x = q.center_x + side * offsets[i] * c - depths[i] * s;
      double y = q.center_y + side * offsets[i] * s + depths[i] * c;
      if (i > 0) {
        // An 8-connected line covers max(|dx|, |dy|) pixels: sample the chord that densely.
        double dx = x - previous_x, dy = y - previous_y;
        double length = std::max(std::fabs(dx), std::fabs(dy));
        int pieces = std::max(1, static_cast<int>(std::ceil(length)));
        double piece_weight = length / pieces;
        for (int j = 0; j < pieces; ++j) {
          double f = (j + 0.5) / pieces;
          double d = distance_at(distance, previous_x + f * dx, previous_y + f * dy);
          sum += piece_weight * d * d;
        }
        weight += length;
      }
      previous_x = x;
      previous_y = y;
    }
  }
  if (!(weight > 0.0)) return HUGE_VAL;
  return std::sqrt(sum / weight);
}

Placement minimise_chord_energy(const FitState& state, const Placement& start, int* evaluations) {
  auto f = [&](const Vertex& v) {
    ++*evaluations;
    return chord_energy(state, to_placement(v));
  };
  Vertex best = to_vertex(start);
  double best_energy = f(best);
  double scale = 1.0;
  // Restarts with a fresh, smaller simplex until one brings (almost) nothing.
  for (int restart = 0; restart < 6; ++restart) {
    const double size = std::max(start.height, start.pixel_width);
    const Vertex steps = {0.1 * scale,
                          0.03 * start.pixel_width * scale,
                          0.03 * start.height * scale,
                          3.0 * scale,
                          0.02 * size * scale,
                          0.02 * size * scale};
    std::array<Vertex, 7> simplex;
    std::array<double, 7> energy;
    simplex[0] = best;
    energy[0] = best_energy;
    for (int k = 0; k < 6; ++k) {
      simplex[k + 1] = best;
      simplex[k + 1][k] += steps[k];
      energy[k + 1] = f(simplex[k + 1]);
    }
    for (int iteration = 0; iteration < 600; ++iteration) {
      std::array<int, 7> order = {0, 1, 2, 3, 4, 5, 6};
      std::sort(order.begin(), order.end(), [&](int a, int b) { return energy[a] < energy[b]; });
      const int lowest = order[0], highest = order[6], second = order[5];
      if (energy[highest] - energy[lowest] < 1e-7) break;
      Vertex centroid{};
      for (int k : order)
        if (k != highest)
          for (int j = 0; j < 6; ++j) centroid[j] += simplex[k][j] / 6.0;
      auto along = [&](double factor) {
        Vertex v;
        for (int j = 0; j < 6; ++j)
          v[j] = centroid[j] + factor * (simplex[highest][j] - centroid[j]);
        return v;
      };
      Vertex reflected = along(-1.0);
      double reflected_energy = f(reflected);
      if (reflected_energy < energy[lowest]) {
        Vertex expanded = along(-2.0);
        double expanded_energy = f(expanded);
        if (expanded_energy < reflected_energy) {
          simplex[highest] = expanded;
          energy[highest] = expanded_energy;
        } else {
          simplex[highest] = reflected;
          energy[highest] = reflected_energy;
        }
      } else if (reflected_energy < energy[second]) {
        simplex[highest] = reflected;
        energy[highest] = reflected_energy;
      } else {
        Vertex contracted = along(reflected_energy < energy[highest] ? -0.5 : 0.5);
        double contracted_energy = f(contracted);
        if (contracted_energy < std::min(energy[highest], reflected_energy)) {
          simplex[highest] = contracted;
          energy[highest] = contracted_energy;
        } else {
          for (int k : order) {
            if (k == lowest) continue;
            for (int j = 0; j < 6; ++j)
              simplex[k][j] = simplex[lowest][j] + 0.5 * (simplex[k][j] - simplex[lowest][j]);
            energy[k] = f(simplex[k]);
          }
        }
      }
    }
    int lowest = static_cast<int>(std::min_element(energy.begin(), energy.end()) - energy.begin());
    bool improved = energy[lowest] < best_energy - 1e-6;
    if (energy[lowest] < best_energy) {
      best = simplex[lowest];
      best_energy = energy[lowest];
    }
    if (!improved && restart > 0) break;
    scale *= 0.5;
  }
  return to_placement(best);
}

}  // namespace auto_fit_detail
