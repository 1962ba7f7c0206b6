#include "fit/auto_fit.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <map>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "fit/auto_fit_detail.h"
#include "fit/curve_least_squares.h"
#include "fit/cut_edge.h"
#include "fit/fit_W.h"
#include "fit/geometry.h"
#include "fit/height_maximum.h"
#include "fit/model_top.h"
#include "fit/parameter_table.h"
#include "fit/subpixel_edges.h"

namespace meravel {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The photograph's size bounds every parameter as its trackbar does; the top stays on the
// reference rotation's side.
struct Bounds {
  cv::Size image_size;
  int height_maximum;
  int reference_rotation;
};

bool inside(const ModelParameters& p, const Bounds& b) {
  return p.lambda_milli >= 1 && p.lambda_milli <= kLambdaMilliMax && p.width >= 1 &&
         p.width <= kWidthMaxPerImageWidth * b.image_size.width && p.height >= 4 &&
         p.height <= b.height_maximum && p.translation_x >= 0 &&
         p.translation_x <= b.image_size.width && p.translation_y >= 0 &&
         p.translation_y <= b.image_size.height && keeps_top(p.rotation, b.reference_rotation);
}

// The nearest whole numbers within the bounds' ranges.
ModelParameters clamped(ModelParameters p, const Bounds& b) {
  p.lambda_milli = std::clamp(p.lambda_milli, 1, kLambdaMilliMax);
  p.width = std::clamp(p.width, 1, kWidthMaxPerImageWidth * b.image_size.width);
  p.height = std::clamp(p.height, 4, std::max(4, b.height_maximum));
  p.translation_x = std::clamp(p.translation_x, 0, b.image_size.width);
  p.translation_y = std::clamp(p.translation_y, 0, b.image_size.height);
  return p;
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
                       const Bounds& bounds) {
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

// The fit to the edge, with its standard errors and the spread of the fits from other starts.
struct EdgeFit {
  auto_fit_detail::Placement placement;
  CurveFit fit;  // converged false: placement is the stand-in's
  double log_lambda_spread = kNaN, width_spread_px = kNaN, height_spread_px = kNaN;
  int starts = 0;
};

// The same edge fitted again from four starts around `fit` (lambda a quarter larger and smaller,
// the rotation 10 degrees either way, the size 7 % larger across and smaller along and the other
// way round, the centre moved by 3 % of the size): the largest differences of the converged ones
// from `fit`. Fits that agree only with themselves show a flat or ragged valley.
void add_restart_spread(const std::vector<EdgePoint>& edges, double top, double bottom,
                        EdgeFit& result) {
  const auto_fit_detail::Placement& q = result.fit.placement;
  const double shift = 0.03 * std::max(q.height, q.pixel_width);
  std::vector<auto_fit_detail::Placement> starts(4, q);
  starts[0].lambda *= 1.25, starts[0].rotation_degrees += 10.0, starts[0].center_x += shift;
  starts[1].lambda /= 1.25, starts[1].rotation_degrees -= 10.0, starts[1].center_y += shift;
  starts[2].pixel_width *= 1.07, starts[2].height *= 0.93, starts[2].center_x -= shift;
  starts[3].pixel_width *= 0.93, starts[3].height *= 1.07, starts[3].center_y -= shift;
  result.log_lambda_spread = result.width_spread_px = result.height_spread_px = 0.0;
  for (const auto_fit_detail::Placement& start : starts) {
    const CurveFit again = fit_curve_to_edges(edges, start, top, bottom);
    if (!again.converged) continue;
    ++result.starts;
    const auto_fit_detail::Placement& p = again.placement;
    result.log_lambda_spread =
        std::max(result.log_lambda_spread, std::fabs(std::log(p.lambda / q.lambda)));
    result.width_spread_px =
        std::max(result.width_spread_px, std::fabs(p.pixel_width - q.pixel_width));
    result.height_spread_px = std::max(result.height_spread_px, std::fabs(p.height - q.height));
  }
}

// The stand-in's placements refined by a least-squares fit to the outline's sub-pixel edges in
// `photo`; the one that fits the edges best, or the stand-in's best where no fit does better.
EdgeFit fit_to_edges(const cv::Mat& photo, int threshold, const std::vector<cv::Point>& outline,
                     const CutOffs& cut_offs, const std::vector<auto_fit_detail::Placement>& starts,
                     double egg_tolerance_px, const std::vector<cv::Point>& cut) {
  const std::vector<EdgePoint> edges =
      edges_off_cut(subpixel_edges(photo, outline, threshold), cut);
  const double top = cut_offs.top / 100.0, bottom = cut_offs.bottom / 100.0;
  EdgeFit result;
  result.placement = starts.front();
  result.fit = best_curve_fit(edges, starts, top, bottom);
  if (!(result.fit.score < HUGE_VAL)) {
    result.fit.converged = false;
    return result;
  }
  // With lambda 1 the model is an ellipse, and the same ellipse turned by a quarter turn with its
  // height and breadth swapped is the same outline: a fit of a near-round egg may come out
  // broader than high, its length across the egg. Eggs are measured along their long axis, so
  // such a fit is fitted again from the quarter-turned placement and that one taken where it is
  // longer than broad and fits the edge as well: a score at most 10 % or 0.002 px^2 above (an
  // RMS distance from 0.02 to under 0.05 px on a clean edge). Any other shape turned so fits far
  // worse.
  // An object known to be an egg (the automatic segmentation chose it so) is measured along its
  // long axis even where the edge is no clean egg (a stand hides the bottom, light leaks round
  // the shell) and the broad fit fits it a little better: the turned fit is taken within
  // `egg_tolerance_px` of RMS distance more.
  const CurveFit& fit = result.fit;
  if (fit.placement.height < fit.placement.pixel_width) {
    const CurveFit turned = fit_curve_to_edges(edges, quarter_turned(fit.placement), top, bottom);
    const double worse = std::sqrt(turned.score) - std::sqrt(fit.score);
    if ((turned.score <= std::max(1.1 * fit.score, fit.score + 0.002) ||
         worse <= egg_tolerance_px) &&
        turned.placement.height >= turned.placement.pixel_width)
      result.fit = turned;
  }
  result.placement = result.fit.placement;
  if (result.fit.converged) {
    add_restart_spread(edges, top, bottom, result);
    // The residuals' correlation up to 60 points leaves out errors of the edge that run along
    // longer stretches of it; the jackknife over stretches of the outline takes them in.
    const std::array<double, 6>& jackknife = result.fit.jackknife_error;
    for (int a = 0; a < 6; ++a) {
      if (std::isfinite(jackknife[a])) result.fit.standard_error[a] = jackknife[a];
    }
  }
  return result;
}

// The uncertainty of the saved whole-number values `saved` that came from the edge fit `edge`
// (turned round when `turned`): the fit's standard errors, the rounding to whole numbers (a
// uniform error of one step has the variance step^2 / 12) and the saved values' distance from the
// continuous fit, added in quadrature.
FitUncertainty uncertainty_of(const EdgeFit& edge, const ModelParameters& saved) {
  FitUncertainty u;
  if (!edge.fit.converged) return u;
  const std::array<double, 6>& se = edge.fit.standard_error;
  const auto_fit_detail::Placement& q = edge.fit.placement;
  const double lambda = saved.lambda_milli / 1000.0;
  const double breadth = implied_pixel_width(saved);
  const double width_step = saved.width > 0 ? breadth / saved.width : 0.0;
  // Turned round, the saved lambda is 1/lambda: log lambda's error is the same either way.
  const double log_lambda_distance =
      std::fabs(std::fabs(std::log(lambda)) - std::fabs(std::log(q.lambda)));
  const auto combined = [](double a, double b, double c) {
    return std::sqrt(a * a + b * b + c * c);
  };
  u.lambda_se = lambda * combined(se[0], 0.001 / lambda / std::sqrt(12.0), log_lambda_distance);
  u.length_se_px = combined(se[2], 1.0 / std::sqrt(12.0), saved.height - q.height);
  u.breadth_se_px = combined(se[1], width_step / std::sqrt(12.0), breadth - q.pixel_width);
  if (edge.starts > 0) {
    u.lambda_spread = lambda * edge.log_lambda_spread;
    u.length_spread_px = edge.height_spread_px;
    u.breadth_spread_px = edge.width_spread_px;
    u.starts = edge.starts;
  }
  return u;
}

}  // namespace

AutoFitResult auto_fit(const FitTarget& target, const cv::Mat& photo, int threshold,
                       const CutOffs& cut_offs, int reference_rotation, EvaluationBuffers& work,
                       std::ostream& errors, double egg_tolerance_px) {
  using namespace auto_fit_detail;
  AutoFitResult result;
  if (target.outline_contour.size() < 8 || target.distance_image.empty()) return result;
  const cv::Size image_size = target.distance_image.size();
  const Bounds bounds{image_size, height_maximum(image_size.width, image_size.height),
                      reference_rotation};

  // The stand-in's refined placements find the symmetry axis and come close; lambda and the
  // placement are then fitted to the object's edge located to a fraction of a pixel, on what is
  // visible of it (the edge along the image's frame is left out), robustly against anything
  // touching it.
  const std::vector<Placement> starts = refined_starts(target, cut_offs, reference_rotation);
  if (starts.empty()) return result;
  const EdgeFit edge = fit_to_edges(photo, threshold, target.outline_contour, cut_offs, starts,
                                    egg_tolerance_px, target.cut);
  const Placement& fitted = edge.placement;

  // The top on the reference's side, then the five values other than lambda polished on the
  // deviation energy itself. A model that reaches the image's outer frame cannot be scored (its
  // halves do not trace through), as for an object cut by the image's edge: the polish then
  // takes any scorable model within its first steps, and otherwise the fit stays as it is, with
  // the energy +inf.
  ModelParameters start = clamped(to_whole(fitted), bounds);
  if (!keeps_top(start.rotation, reference_rotation)) {
    start = clamped(to_whole(turned_round(fitted)), bounds);
  }
  WholeEnergy energy(target, cut_offs, work, errors);
  double best = energy(start);
  const ModelParameters best_point = polish(start, best, energy, bounds);
  result.evaluations = energy.evaluations();

  result.found = true;
  result.model = best_point;
  result.energy = best;
  result.edge_fit_converged = edge.fit.converged;
  result.uncertainty = uncertainty_of(edge, best_point);
  return result;
}

AutoFitResult auto_fit(FitState& state, std::ostream& errors, double egg_tolerance_px) {
  cv::Mat photo = state.source_image;
  if (state.polarity == ObjectPolarity::kDarkOnLight && !photo.empty()) {
    cv::Mat grey;
    if (photo.channels() == 3) {
      cv::cvtColor(photo, grey, cv::COLOR_BGR2GRAY);
    } else {
      grey = photo;
    }
    cv::bitwise_not(grey, photo);
  }
  return auto_fit(state.target, photo, state.threshold, state.cut_offs(), state.model.rotation,
                  state.work, errors, egg_tolerance_px);
}

AutoFitResult refine_fit(const FitTarget& target, const CutOffs& cut_offs,
                         const ModelParameters& start, EvaluationBuffers& work,
                         std::ostream& errors) {
  AutoFitResult result;
  result.model = start;
  if (target.outline_contour.empty() || target.distance_image.empty()) return result;
  const cv::Size image_size = target.distance_image.size();
  const Bounds bounds{image_size, height_maximum(image_size.width, image_size.height),
                      start.rotation};
  if (!inside(start, bounds)) return result;
  WholeEnergy energy(target, cut_offs, work, errors);
  double best = energy(start);
  if (best < kInfinity) {
    result.found = true;
    result.model = polish(start, best, energy, bounds);
    result.energy = best;
  }
  result.evaluations = energy.evaluations();
  return result;
}

}  // namespace meravel
