#include "fit/auto_fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <vector>

#include "fit/auto_fit_detail.h"
#include "fit/curve_least_squares.h"
#include "fit/height_maximum.h"
#include "fit/model_top.h"
#include "fit/subpixel_edges.h"

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The photograph's size bounds every parameter as its trackbar does; the top stays on the
// reference rotation's side.
struct Bounds {
  int image_width;
  int image_height;
  int height_maximum;
  int reference_rotation;
};

using Whole = std::array<int, 6>;  // lambda_milli, width, height, rotation, translation x, y

// Wraps a degree value into 0..359.
int wrap_degrees(long value) {
  long wrapped = value % 360;
  return static_cast<int>(wrapped < 0 ? wrapped + 360 : wrapped);
}

bool inside(const Whole& p, const Bounds& b) {
  return p[0] >= 1 && p[0] <= 6000 && p[1] >= 1 && p[1] <= 20 * b.image_width && p[2] >= 4 &&
         p[2] <= b.height_maximum && p[4] >= 0 && p[4] <= b.image_width && p[5] >= 0 &&
         p[5] <= b.image_height && keeps_top(p[3], b.reference_rotation);
}

// The nearest whole numbers within the bounds' ranges.
Whole clamped(Whole p, const Bounds& b) {
  p[0] = std::clamp(p[0], 1, 6000);
  p[1] = std::clamp(p[1], 1, 20 * b.image_width);
  p[2] = std::clamp(p[2], 4, std::max(4, b.height_maximum));
  p[4] = std::clamp(p[4], 0, b.image_width);
  p[5] = std::clamp(p[5], 0, b.image_height);
  return p;
}

// The deviation energy over whole-number parameters, each point scored once.
class WholeEnergy {
 public:
  explicit WholeEnergy(FitState& state) : state_(state) {}
  double operator()(const Whole& p) {
    auto known = scores_.find(p);
    if (known != scores_.end()) return known->second;
    const double parameters[6] = {double(p[0]), double(p[1]), double(p[2]),
                                  double(p[3]), double(p[4]), double(p[5])};
    double energy = evaluate_parameters(state_, parameters);
    if (std::isnan(energy)) energy = kInfinity;
    scores_.emplace(p, energy);
    return energy;
  }
  int evaluations() const { return static_cast<int>(scores_.size()); }

 private:
  FitState& state_;
  std::map<Whole, double> scores_;
};

int round_to_int(double value) { return static_cast<int>(std::lround(value)); }

Whole to_whole(const auto_fit_detail::Placement& q) {
  double width = width_for_pixel_width(q.lambda, q.height, q.pixel_width);
  return {round_to_int(q.lambda * 1000.0), round_to_int(width),
          round_to_int(q.height),          wrap_degrees(std::lround(q.rotation_degrees)),
          round_to_int(q.center_x),        round_to_int(q.center_y)};
}

// Pixel width of the continuous model behind whole-number parameters; a height move that keeps
// it changes the shape without making the model wider or narrower.
double implied_pixel_width(const Whole& p) {
  return p[1] / width_for_pixel_width(p[0] / 1000.0, p[2], 1.0);
}

int width_keeping(const Whole& p, double pixel_width) {
  return round_to_int(width_for_pixel_width(p[0] / 1000.0, p[2], pixel_width));
}

// Best-move pattern search over whole numbers on the deviation energy itself, lambda held. The
// height moves come in two kinds, with the width held and with the pixel width held, because the
// two are coupled through the model's width relation. Steps start at 1 % of the height (2 to 8
// pixels; the width's step moves the model's side as far), translation steps at half that, and
// halve when a round brings nothing; the search
// ends when a round at the smallest steps brings no improvement. `best` is the energy of
// `current` on entry and of the result on return.
Whole polish(Whole current, double& best, WholeEnergy& energy, const Bounds& bounds) {
  int step_height = std::clamp(current[2] / 100, 2, 8);
  int step_width = std::max(
      1, round_to_int(step_height * current[1] / std::max(1.0, implied_pixel_width(current))));
  int step_shift = std::clamp(current[2] / 200, 1, 4);
  for (;;) {
    const double pixel_width = implied_pixel_width(current);
    std::vector<Whole> moves;
    for (int sign : {1, -1}) {
      Whole m = current;
      m[1] += sign * step_width;
      moves.push_back(m);
      m = current;
      m[2] += sign * step_height;
      moves.push_back(m);
      m[1] = width_keeping(m, pixel_width);
      moves.push_back(m);
      m = current;
      m[3] = wrap_degrees(m[3] + sign);
      moves.push_back(m);
      for (int k : {4, 5}) {
        m = current;
        m[k] += sign * step_shift;
        moves.push_back(m);
      }
    }
    // The first of equally low energies wins, and only a strictly lower one is taken.
    const Whole* chosen = nullptr;
    for (const Whole& m : moves) {
      if (m == current || !inside(m, bounds)) continue;
      const double e = energy(m);
      if (e < best) {
        best = e;
        chosen = &m;
      }
    }
    if (chosen) {
      current = *chosen;
      continue;
    }
    if (step_width == 1 && step_height == 1 && step_shift == 1) return current;
    step_width = std::max(1, step_width / 2);
    step_height = std::max(1, step_height / 2);
    step_shift = std::max(1, step_shift / 2);
  }
}

}  // namespace

double width_for_pixel_width(double lambda, double height, double pixel_width) {
  // D(t) = (h/2) e^t + e^(-lambda t) is smallest where (h/2) e^t = lambda e^(-lambda t).
  double t = std::log(2.0 * lambda / height) / (1.0 + lambda);
  double d_min = 0.5 * height * std::exp(t) + std::exp(-lambda * t);
  return pixel_width * d_min / (2.0 * lambda);
}

namespace {

// The stand-in's placements refined by a least-squares fit to the outline's sub-pixel edges;
// the one that fits the edges best, or the stand-in's best where no fit does better.
auto_fit_detail::Placement fit_to_edges(const FitState& state,
                                        const std::vector<auto_fit_detail::Placement>& starts) {
  const std::vector<EdgePoint> edges =
      subpixel_edges(state.source_image, state.outline_contour, state.threshold);
  const CurveFit fit =
      best_curve_fit(edges, starts, state.cut_off_top / 100.0, state.cut_off_bottom / 100.0);
  return fit.score < HUGE_VAL ? fit.placement : starts.front();
}

}  // namespace

AutoFitResult auto_fit(FitState& state) {
  using namespace auto_fit_detail;
  AutoFitResult result;
  if (state.outline_contour.size() < 8 || state.distance_image.empty()) return result;
  const int image_width = state.distance_image.cols, image_height = state.distance_image.rows;
  const Bounds bounds{image_width, image_height, height_maximum(image_width, image_height),
                      state.rotation};

  // The stand-in's refined placements find the symmetry axis and come close; lambda and the
  // placement are then fitted to the object's edge located to a fraction of a pixel, on what is
  // visible of it (the edge along the image's frame is left out), robustly against anything
  // touching it.
  const std::vector<Placement> starts =
      refined_starts(state, state.outline_contour, state.rotation);
  if (starts.empty()) return result;
  const Placement fitted = fit_to_edges(state, starts);

  // The top on the reference's side, then the five values other than lambda polished on the
  // deviation energy itself. A model that reaches the image's outer frame cannot be scored (its
  // halves do not trace through), as for an object cut by the image's edge: the polish then
  // takes any scorable model within its first steps, and otherwise the fit stays as it is, with
  // the energy +inf.
  Whole start = clamped(to_whole(fitted), bounds);
  if (!keeps_top(start[3], state.rotation)) start = clamped(to_whole(turned_round(fitted)), bounds);
  WholeEnergy energy(state);
  double best = energy(start);
  const Whole best_point = polish(start, best, energy, bounds);

  result.found = true;
  result.lambda_milli = best_point[0];
  result.width = best_point[1];
  result.height = best_point[2];
  result.rotation = best_point[3];
  result.translation_x = best_point[4];
  result.translation_y = best_point[5];
  result.energy = best;
  result.evaluations = energy.evaluations();
  return result;
}
