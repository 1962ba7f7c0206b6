#include "fit/auto_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <vector>

#include "fit/auto_fit_detail.h"
#include "fit/geometry.h"

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The photograph's size bounds every parameter as its trackbar does.
bool inside(const ModelParameters& p, cv::Size image_size) {
  return p.lambda_milli >= 1 && p.lambda_milli <= 6000 && p.width >= 1 &&
         p.width <= 20 * image_size.width && p.height >= 4 && p.height <= image_size.height &&
         p.translation_x >= 0 && p.translation_x <= image_size.width && p.translation_y >= 0 &&
         p.translation_y <= image_size.height;
}

// The deviation energy over whole-number parameters, each point scored once.
class WholeEnergy {
 public:
  WholeEnergy(const FitTarget& target, const CutOffs& cut_offs, EvaluationBuffers& work,
              std::ostream& errors)
      : target_(target), cut_offs_(cut_offs), work_(work), errors_(errors) {}
  double operator()(const ModelParameters& p) {
    auto known = scores_.find(p);
    if (known != scores_.end()) return known->second;
    double energy = evaluate_model(target_, cut_offs_, parameter_vector(p), work_, errors_);
    if (std::isnan(energy)) energy = kInfinity;
    scores_.emplace(p, energy);
    return energy;
  }
  int evaluations() const { return static_cast<int>(scores_.size()); }

 private:
  const FitTarget& target_;
  const CutOffs cut_offs_;
  EvaluationBuffers& work_;
  std::ostream& errors_;
  std::map<ModelParameters, double> scores_;
};

int round_to_int(double value) { return static_cast<int>(std::lround(value)); }

ModelParameters to_whole(const auto_fit_detail::Placement& q) {
  ModelParameters p;
  p.lambda_milli = round_to_int(q.lambda * 1000.0);
  p.width = round_to_int(width_for_pixel_width(q.lambda, q.height, q.pixel_width));
  p.height = round_to_int(q.height);
  p.rotation = wrapped_degrees(std::lround(q.rotation_degrees));
  p.translation_x = round_to_int(q.center_x);
  p.translation_y = round_to_int(q.center_y);
  return p;
}

// Pixel width of the continuous model behind whole-number parameters; a height move that keeps
// it changes the shape without making the model wider or narrower.
double implied_pixel_width(const ModelParameters& p) {
  return pixel_width_for_width(p.lambda_milli / 1000.0, p.height, p.width);
}

int width_keeping(const ModelParameters& p, double pixel_width) {
  return round_to_int(width_for_pixel_width(p.lambda_milli / 1000.0, p.height, pixel_width));
}

// Best-move pattern search over whole numbers on the deviation energy itself, lambda held. The
// height moves come in two kinds, with the width held and with the pixel width held, because the
// two are coupled through the model's width relation. Steps start at 1 % of the height (2 to 8
// pixels; the width's step moves the model's side as far), translation steps at half that, and
// halve when a round brings nothing; the search ends when a round at the smallest steps brings no
// improvement. `best` is the energy of `current` on entry and of the result on return.
ModelParameters polish(ModelParameters current, double& best, WholeEnergy& energy,
                       cv::Size image_size) {
  int step_height = std::clamp(current.height / 100, 2, 8);
  int step_width = std::max(
      1, round_to_int(step_height * current.width / std::max(1.0, implied_pixel_width(current))));
  int step_shift = std::clamp(current.height / 200, 1, 4);
  for (;;) {
    const double pixel_width = implied_pixel_width(current);
    std::vector<ModelParameters> moves;
    for (int sign : {1, -1}) {
      ModelParameters m = current;
      m.width += sign * step_width;
      moves.push_back(m);
      m = current;
      m.height += sign * step_height;
      moves.push_back(m);
      m.width = width_keeping(m, pixel_width);
      moves.push_back(m);
      m = current;
      m.rotation = wrapped_degrees(static_cast<long>(m.rotation) + sign);
      moves.push_back(m);
      for (int ModelParameters::*shifted :
           {&ModelParameters::translation_x, &ModelParameters::translation_y}) {
        m = current;
        m.*shifted += sign * step_shift;
        moves.push_back(m);
      }
    }
    // The first of equally low energies wins, and only a strictly lower one is taken.
    const ModelParameters* chosen = nullptr;
    for (const ModelParameters& m : moves) {
      if (m == current || !inside(m, image_size)) continue;
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

AutoFitResult auto_fit(const FitTarget& target, const CutOffs& cut_offs, int reference_rotation,
                       EvaluationBuffers& work, std::ostream& errors) {
  using namespace auto_fit_detail;
  AutoFitResult result;
  if (target.outline_contour.size() < 8 || target.distance_image.empty()) return result;
  const cv::Size image_size = target.distance_image.size();

  // The refined placements, best first on the stand-in. Its lowest point lies on the object's
  // true edge, so it tells the symmetry axis of an object near an ellipse from the axis across,
  // where the deviation energy, ragged by the model's truncations, often cannot: only the best
  // placement that can be scored is polished.
  std::vector<Placement> starts = refined_starts(target, cut_offs, reference_rotation);
  WholeEnergy energy(target, cut_offs, work, errors);
  ModelParameters best_point;
  double best = kInfinity;
  for (Placement start : starts) {
    // A model that reaches the image's outer frame cannot be scored (its halves do not trace
    // through), as happens for an object cut by the edge: shrink such a start until it fits.
    for (int attempt = 0; attempt < 30 && !(best < kInfinity); ++attempt) {
      const ModelParameters p = to_whole(start);
      const double e = inside(p, image_size) ? energy(p) : kInfinity;
      if (e < kInfinity) {
        best = e;
        best_point = polish(p, best, energy, image_size);
      }
      start.height *= 0.95;
      start.pixel_width *= 0.95;
    }
    if (best < kInfinity) break;
  }
  result.evaluations = energy.evaluations();
  if (!(best < kInfinity)) return result;

  result.found = true;
  result.model = best_point;
  result.energy = best;
  return result;
}

AutoFitResult refine_fit(const FitTarget& target, const CutOffs& cut_offs,
                         const ModelParameters& start, EvaluationBuffers& work,
                         std::ostream& errors) {
  AutoFitResult result;
  result.model = start;
  if (target.outline_contour.empty() || target.distance_image.empty()) return result;
  const cv::Size image_size = target.distance_image.size();
  if (!inside(start, image_size)) return result;
  WholeEnergy energy(target, cut_offs, work, errors);
  double best = energy(start);
  if (best < kInfinity) {
    result.found = true;
    result.model = polish(start, best, energy, image_size);
    result.energy = best;
  }
  result.evaluations = energy.evaluations();
  return result;
}
