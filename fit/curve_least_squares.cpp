// Robust least squares of the continuous model on edge points. Six unknowns: the weighted normal
// equations are a 6 x 6 system, solved with cv::solve.
#include "fit/curve_least_squares.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "fit/block_jackknife.h"
#include "fit/geometry.h"
#include "fit/settled_iterates.h"

namespace meravel {

namespace {

using auto_fit_detail::Placement;

// The tuning constants of the two robust losses that give 95 % asymptotic efficiency on normal
// residuals (Holland and Welsch 1977), in units of the residuals' scale.
constexpr double kCauchyTuning95 = 2.385;
constexpr double kTukeyBisquareTuning95 = 4.685;
constexpr double kEnds = 1e-15;  // s stays this far inside (0, 1), where f' is finite

// The model in its own frame: x to the right half, y down the axis from the centre.
struct Shape {
  double p, q;        // lambda / (1 + lambda), 1 - p
  double log_norm;    // -p ln p - q ln q, so that f(p) = 1
  double half_width;  // P / 2
  double height;

  explicit Shape(const Placement& m)
      : p(m.lambda / (1.0 + m.lambda)),
        q(1.0 - p),
        log_norm(-p * std::log(p) - q * std::log(q)),
        half_width(0.5 * m.pixel_width),
        height(m.height) {}

  // f(s) = (s/p)^p ((1-s)/q)^q and the first two derivatives of ln f.
  void at(double s, double* f, double* l1, double* l2) const {
    *f = std::exp(p * std::log(s) + q * std::log(1.0 - s) + log_norm);
    *l1 = p / s - q / (1.0 - s);
    *l2 = -p / (s * s) - q / ((1.0 - s) * (1.0 - s));
  }
};

// The nearest point of the right half to (u, v), u >= 0, by Newton's method on the squared
// distance from `s`; where that is not convex, a Gauss-Newton step.
double nearest_s(const Shape& m, double u, double v, double s) {
  s = std::clamp(s, kEnds, 1.0 - kEnds);
  for (int iteration = 0; iteration < 30; ++iteration) {
    double f, l1, l2;
    m.at(s, &f, &l1, &l2);
    const double x = m.half_width * f, dx = x * l1, ddx = x * (l1 * l1 + l2);
    const double ex = x - u, ey = m.height * (s - 0.5) - v;
    const double slope = ex * dx + ey * m.height;
    const double gauss_newton = dx * dx + m.height * m.height;
    const double curvature = gauss_newton + ex * ddx;
    double step = -slope / (curvature > 0.0 ? curvature : gauss_newton);
    step = std::clamp(step, -0.25, 0.25);
    double next = s + step;
    if (next <= kEnds) next = 0.5 * s;
    if (next >= 1.0 - kEnds) next = 0.5 * (s + 1.0);
    const double moved = std::fabs(next - s);
    s = next;
    if (moved < 1e-13) break;
  }
  return s;
}

// The start of the search when nothing is known: the best of a few depths, dense near the ends.
double first_s(const Shape& m, double u, double v) {
  constexpr int kCount = 40;
  double best = 0.5, best_distance = HUGE_VAL;
  for (int k = 0; k < kCount; ++k) {
    const double angle = 0.5 * kPi * (k + 0.5) / kCount;
    const double s = std::sin(angle) * std::sin(angle);
    double f, l1, l2;
    m.at(s, &f, &l1, &l2);
    const double d = std::hypot(m.half_width * f - u, m.height * (s - 0.5) - v);
    if (d < best_distance) {
      best_distance = d;
      best = s;
    }
  }
  return nearest_s(m, u, v, best);
}

// One edge point against a placement: signed distance, depth of the nearest model point, and
// the distance's derivatives by log lambda, pixel width, height, rotation (radians), centre.
struct Residual {
  double distance = 0.0;
  double s = 0.5;
  std::array<double, 6> gradient{};
};

struct Frame {
  Shape shape;
  double cos_r, sin_r, cx, cy;
  double blur;  // of the edge, px
  explicit Frame(const Placement& q, double edge_blur = 0.0)
      : shape(q),
        cos_r(std::cos(q.rotation_degrees * kPi / 180.0)),
        sin_r(std::sin(q.rotation_degrees * kPi / 180.0)),
        cx(q.center_x),
        cy(q.center_y),
        blur(edge_blur) {}
};

// `s` is where the search for the nearest model point starts; negative for none.
Residual residual(const Frame& frame, cv::Point2d point, double s) {
  const Shape& m = frame.shape;
  const double dx = point.x - frame.cx, dy = point.y - frame.cy;
  // Image = centre + R (x, y), R the rotation: model coordinates by R's transpose.
  const double x = dx * frame.cos_r + dy * frame.sin_r;
  const double y = -dx * frame.sin_r + dy * frame.cos_r;
  const double side = x < 0.0 ? -1.0 : 1.0;  // the halves mirror each other
  const double u = std::fabs(x);
  Residual r;
  r.s = s < 0.0 ? first_s(m, u, y) : nearest_s(m, u, y, s);
  double f, l1, l2;
  m.at(r.s, &f, &l1, &l2);
  const double model_x = m.half_width * f, model_y = m.height * (r.s - 0.5);
  // Outward normal of the right half: the tangent (x', h) turned clockwise.
  const double tangent_x = model_x * l1, tangent_y = m.height;
  const double length = std::hypot(tangent_x, tangent_y);
  const double nu = tangent_y / length, nv = -tangent_x / length;
  r.distance = nu * (u - model_x) + nv * (y - model_y);
  // A blurred edge's halfway level runs inside a convex bend: by b^2 k / 2 for a Gaussian blur b
  // and the curvature k, to first order; no more than half the blur where the bend is sharp.
  if (frame.blur > 0.0) {
    const double ddx = model_x * (l1 * l1 + l2);
    const double curvature = -m.height * ddx / (length * length * length);
    r.distance +=
        std::clamp(0.5 * frame.blur * frame.blur * curvature, -0.5 * frame.blur, 0.5 * frame.blur);
  }
  // d(distance) = -n . d(model point): the nearest point's own move is along the tangent.
  const double log_ratio = std::log(r.s * m.q / ((1.0 - r.s) * m.p));
  r.gradient[0] = -nu * model_x * m.p * m.q * log_ratio;
  r.gradient[1] = -nu * 0.5 * f;
  r.gradient[2] = -nv * (r.s - 0.5);
  r.gradient[3] = side * (nu * model_y - nv * model_x);
  // The normal in the image: R (side nu, nv).
  const double normal_x = side * nu * frame.cos_r - nv * frame.sin_r;
  const double normal_y = side * nu * frame.sin_r + nv * frame.cos_r;
  r.gradient[4] = -normal_x;
  r.gradient[5] = -normal_y;
  return r;
}

bool within_band(double s, double cut_off_top, double cut_off_bottom) {
  return s >= cut_off_top && s <= 1.0 - cut_off_bottom;
}

using Vector = std::array<double, 6>;  // log lambda, pixel width, height, rotation (rad), centre

Vector to_vector(const Placement& q) {
  return {std::log(q.lambda), q.pixel_width, q.height, q.rotation_degrees * kPi / 180.0,
          q.center_x,         q.center_y};
}

Placement to_placement(const Vector& v, int axis) {
  Placement q;
  q.lambda = std::exp(v[0]);
  q.pixel_width = v[1];
  q.height = v[2];
  q.rotation_degrees = v[3] * 180.0 / kPi;
  q.center_x = v[4];
  q.center_y = v[5];
  q.axis = axis;
  return q;
}

bool plausible(const Placement& q) {
  return q.lambda > 0.01 && q.lambda < 100.0 && q.pixel_width > 2.0 && q.height > 2.0 &&
         std::isfinite(q.center_x) && std::isfinite(q.center_y) &&
         std::isfinite(q.rotation_degrees);
}

enum class Loss { kCauchy, kTukey };

// Weight and loss of a residual under the loss with scale `c`.
void robust(Loss loss, double c, double r, double* weight, double* rho) {
  const double a = std::fabs(r);
  if (loss == Loss::kCauchy) {
    const double u = (r / c) * (r / c);
    *weight = 1.0 / (1.0 + u);
    *rho = 0.5 * c * c * std::log1p(u);
    return;
  }
  if (a >= c) {
    *weight = 0.0;
    *rho = c * c / 6.0;
    return;
  }
  const double t = 1.0 - (r / c) * (r / c);
  *weight = t * t;
  *rho = c * c / 6.0 * (1.0 - t * t * t);
}

// The residuals of every edge point at `v`, the nearest points' depths carried from `s`.
struct Evaluation {
  std::vector<Residual> residuals;
  std::vector<char> counted;  // nearest model point within the cut-off band
};

void evaluate(const std::vector<EdgePoint>& edges, const Vector& v, const std::vector<double>& s,
              double blur, double cut_off_top, double cut_off_bottom, Evaluation& out) {
  const Frame frame(to_placement(v, 0), blur);
  out.residuals.resize(edges.size());
  out.counted.resize(edges.size());
  for (size_t i = 0; i < edges.size(); ++i) {
    out.residuals[i] = residual(frame, edges[i].position, s.empty() ? -1.0 : s[i]);
    out.counted[i] = within_band(out.residuals[i].s, cut_off_top, cut_off_bottom);
  }
}

double robust_cost(const Evaluation& e, Loss loss, double c) {
  double cost = 0.0;
  for (size_t i = 0; i < e.residuals.size(); ++i) {
    if (!e.counted[i]) continue;
    double weight, rho;
    robust(loss, c, e.residuals[i].distance, &weight, &rho);
    cost += rho;
  }
  return cost;
}

// 1.4826 times the median absolute residual: the spread of the residuals, were they normal.
double spread(const Evaluation& e) {
  std::vector<double> magnitudes;
  for (size_t i = 0; i < e.residuals.size(); ++i)
    if (e.counted[i]) magnitudes.push_back(std::fabs(e.residuals[i].distance));
  if (magnitudes.empty()) return 0.0;
  const size_t middle = magnitudes.size() / 2;
  std::nth_element(magnitudes.begin(), magnitudes.begin() + middle, magnitudes.end());
  return 1.4826 * magnitudes[middle];
}

// The edge's blur: the median of the edge points' own estimates.
double median_blur(const std::vector<EdgePoint>& edges) {
  std::vector<double> blurs;
  for (const EdgePoint& e : edges)
    if (e.blur > 0.0 && std::isfinite(e.blur)) blurs.push_back(e.blur);
  if (blurs.empty()) return 0.0;
  const size_t middle = blurs.size() / 2;
  std::nth_element(blurs.begin(), blurs.begin() + middle, blurs.end());
  return blurs[middle];
}

std::vector<double> depths(const Evaluation& e) {
  std::vector<double> s(e.residuals.size());
  for (size_t i = 0; i < s.size(); ++i) s[i] = e.residuals[i].s;
  return s;
}

// The standard errors of the six unknowns at the optimum `e`, under Tukey's loss of scale `c`:
// the sandwich N^-1 S N^-1 with N = J^T W J and S the covariance of the weighted scores
// w_i r_i g_i summed with their neighbours' along the edge (Newey and West's estimate, Bartlett's
// weights 1 - k / (K + 1) up to K = 60 lags, fewer on a short edge). Neighbouring edge points share
// the outline pixels each is steadied over and the blur, and a shape the model cannot quite follow
// leaves residuals that run along the edge: both are correlations that the plain sigma^2 N^-1 would
// ignore.
std::array<double, 6> standard_errors(const Evaluation& e, double c) {
  std::array<double, 6> errors;
  errors.fill(kNaN);
  cv::Matx<double, 6, 6> normal = cv::Matx<double, 6, 6>::zeros();
  std::vector<cv::Vec<double, 6>> scores;
  for (size_t i = 0; i < e.residuals.size(); ++i) {
    if (!e.counted[i]) continue;
    const Residual& r = e.residuals[i];
    double weight, rho;
    robust(Loss::kTukey, c, r.distance, &weight, &rho);
    if (weight <= 0.0) continue;
    cv::Vec<double, 6> score;
    for (int a = 0; a < 6; ++a) {
      score[a] = weight * r.distance * r.gradient[a];
      for (int b = 0; b < 6; ++b) normal(a, b) += weight * r.gradient[a] * r.gradient[b];
    }
    scores.push_back(score);
  }
  const size_t n = scores.size();
  if (n < 24) return errors;
  const size_t kLags = std::min<size_t>(60, n / 4);
  cv::Matx<double, 6, 6> inverse;
  if (cv::invert(normal, inverse, cv::DECOMP_SVD) == 0.0) return errors;
  cv::Matx<double, 6, 6> meat = cv::Matx<double, 6, 6>::zeros();
  for (size_t k = 0; k <= kLags; ++k) {
    const double bartlett = 1.0 - k / (kLags + 1.0);
    cv::Matx<double, 6, 6> lagged = cv::Matx<double, 6, 6>::zeros();
    for (size_t i = k; i < n; ++i) lagged += scores[i] * scores[i - k].t();
    meat += k == 0 ? lagged : bartlett * (lagged + lagged.t());
  }
  const cv::Matx<double, 6, 6> covariance = inverse * meat * inverse * (n / (n - 6.0));
  for (int a = 0; a < 6; ++a) errors[a] = std::sqrt(std::max(0.0, covariance(a, a)));
  return errors;
}

// The delete-a-block jackknife's standard errors (block_jackknife.h) with each fit without a
// stretch taken one Newton step from the optimum `e` instead of to its end: at the optimum the
// weighted scores w_i r_i g_i sum to zero, so leaving out the stretch b moves the values by
// (N - N_b)^-1 S_b, N and N_b the sums of w_i g_i g_i^T over all points and over the stretch's,
// S_b the sum of the stretch's scores. The weights stay those of Tukey's loss of scale `c` at the
// optimum. The stretches are of consecutive edge points, `blocks` of them.
std::array<double, 6> one_step_jackknife_errors(const Evaluation& e, double c, int blocks) {
  std::array<double, 6> errors;
  errors.fill(kNaN);
  const size_t n = e.residuals.size();
  if (blocks < 2 || n < 12 * static_cast<size_t>(blocks)) return errors;
  using Matrix = cv::Matx<double, 6, 6>;
  using Column = cv::Matx<double, 6, 1>;
  Matrix normal = Matrix::zeros();
  std::vector<Matrix> block_normal(blocks, Matrix::zeros());
  std::vector<Column> block_score(blocks, Column::zeros());
  for (size_t i = 0; i < n; ++i) {
    if (!e.counted[i]) continue;
    const Residual& r = e.residuals[i];
    double weight, rho;
    robust(Loss::kTukey, c, r.distance, &weight, &rho);
    if (weight <= 0.0) continue;
    const size_t block = i * blocks / n;
    const Column g(r.gradient.data());
    const Matrix outer = weight * g * g.t();
    normal += outer;
    block_normal[block] += outer;
    block_score[block] += weight * r.distance * g;
  }
  std::vector<Column> moves;
  Column mean = Column::zeros();
  for (int block = 0; block < blocks; ++block) {
    Column move;
    if (!cv::solve(normal - block_normal[block], block_score[block], move, cv::DECOMP_SVD))
      return errors;
    moves.push_back(move);
    mean += move * (1.0 / blocks);
  }
  for (int a = 0; a < 6; ++a) {
    double sum = 0.0;
    for (const Column& move : moves) sum += (move(a) - mean(a)) * (move(a) - mean(a));
    errors[a] = std::sqrt((blocks - 1.0) / blocks * sum);
  }
  return errors;
}

}  // namespace

CurveDistance distance_to_model(const Placement& q, cv::Point2d point) {
  CurveDistance d;
  if (!plausible(q)) return {HUGE_VAL, 0.0};
  const Residual r = residual(Frame(q), point, -1.0);
  d.distance = r.distance;
  d.s = r.s;
  return d;
}

double curve_fit_score(const std::vector<EdgePoint>& edges, const Placement& q) {
  if (!plausible(q) || edges.empty()) return HUGE_VAL;
  const Frame frame(q, median_blur(edges));
  double sum = 0.0;
  for (const EdgePoint& edge : edges) {
    const double d = residual(frame, edge.position, -1.0).distance;
    sum += std::min(d * d, 1.0);
  }
  return sum / edges.size();
}

CurveFit fit_curve_to_edges(const std::vector<EdgePoint>& edges, const Placement& start,
                            double cut_off_top, double cut_off_bottom) {
  CurveFit fit;
  fit.placement = start;
  if (edges.size() < 12 || !plausible(start)) {
    fit.score = curve_fit_score(edges, start);
    return fit;
  }
  Vector v = to_vector(start);
  const double blur = median_blur(edges);
  Evaluation current, trial;
  evaluate(edges, v, {}, blur, cut_off_top, cut_off_bottom, current);
  // A model may not escape its points by moving them into the cut-off band: a tiny or extreme
  // model would fit the few points left.
  const int least_counted =
      static_cast<int>(0.7 * std::count(current.counted.begin(), current.counted.end(), char(1)));
  double damping = 1e-3;
  // Cauchy's loss first brings a start that is some pixels off into the valley, the pull of far
  // points fading with their distance; Tukey's then drops them altogether.
  constexpr int kIterations = 40;
  std::vector<Vector> tukey_iterates;  // after each of Tukey's steps
  bool tukey_capped = false;
  for (const Loss loss : {Loss::kCauchy, Loss::kTukey}) {
    const double factor = loss == Loss::kCauchy ? kCauchyTuning95 : kTukeyBisquareTuning95;
    for (int iteration = 0; iteration < kIterations; ++iteration) {
      // The scale follows the residuals, but never below what sub-pixel edges can deliver.
      const double c = factor * std::max(spread(current), 0.05);
      cv::Matx<double, 6, 6> normal = cv::Matx<double, 6, 6>::zeros();
      cv::Matx<double, 6, 1> gradient = cv::Matx<double, 6, 1>::zeros();
      int counted = 0;
      for (size_t i = 0; i < edges.size(); ++i) {
        if (!current.counted[i]) continue;
        const Residual& r = current.residuals[i];
        double weight, rho;
        robust(loss, c, r.distance, &weight, &rho);
        if (weight <= 0.0) continue;
        ++counted;
        for (int a = 0; a < 6; ++a) {
          gradient(a) += weight * r.gradient[a] * r.distance;
          for (int b = a; b < 6; ++b) normal(a, b) += weight * r.gradient[a] * r.gradient[b];
        }
      }
      if (counted < 12) break;
      for (int a = 0; a < 6; ++a)
        for (int b = 0; b < a; ++b) normal(a, b) = normal(b, a);
      const double cost = robust_cost(current, loss, c);
      const std::vector<double> s = depths(current);
      bool accepted = false;
      Vector step{};
      for (int attempt = 0; attempt < 10 && !accepted; ++attempt) {
        cv::Matx<double, 6, 6> damped = normal;
        for (int a = 0; a < 6; ++a) damped(a, a) += damping * normal(a, a) + 1e-12;
        cv::Matx<double, 6, 1> delta;
        if (!cv::solve(damped, -gradient, delta, cv::DECOMP_CHOLESKY) &&
            !cv::solve(damped, -gradient, delta, cv::DECOMP_SVD))
          break;
        Vector moved = v;
        for (int a = 0; a < 6; ++a) {
          step[a] = delta(a);
          moved[a] += delta(a);
        }
        if (plausible(to_placement(moved, start.axis))) {
          evaluate(edges, moved, s, blur, cut_off_top, cut_off_bottom, trial);
          const int trial_counted =
              static_cast<int>(std::count(trial.counted.begin(), trial.counted.end(), char(1)));
          if (trial_counted >= least_counted && robust_cost(trial, loss, c) < cost) {
            v = moved;
            std::swap(current, trial);
            damping = std::max(damping / 3.0, 1e-9);
            accepted = true;
            continue;
          }
        }
        damping *= 4.0;
      }
      // No step lowers the cost any more: a minimum.
      if (!accepted) {
        fit.converged = loss == Loss::kTukey;
        break;
      }
      if (loss == Loss::kTukey) {
        tukey_iterates.push_back(v);
        tukey_capped = iteration + 1 == kIterations;
      }
      // Steps below a thousandth of a pixel, a millionth of lambda and of a radian: converged.
      const double size = std::max(v[1], v[2]);
      if (std::fabs(step[0]) < 1e-6 && std::fabs(step[3]) < 1e-6 &&
          std::max({std::fabs(step[1]), std::fabs(step[2]), std::fabs(step[4]),
                    std::fabs(step[5])}) < 1e-3 &&
          size > 0.0) {
        fit.converged = loss == Loss::kTukey;
        break;
      }
    }
  }
  // Tukey's steps ran to their cap without the steps above falling small: where the last iterates
  // cycle within a tenth of the fit's errors, it has settled all the same, and the better of the
  // last two is the fit.
  if (!fit.converged && tukey_capped &&
      iterates_settled(
          tukey_iterates,
          standard_errors(current, kTukeyBisquareTuning95 * std::max(spread(current), 0.05)))) {
    const Vector& before = tukey_iterates[tukey_iterates.size() - 2];
    if (curve_fit_score(edges, to_placement(before, start.axis)) <
        curve_fit_score(edges, to_placement(v, start.axis))) {
      v = before;
      evaluate(edges, v, depths(current), blur, cut_off_top, cut_off_bottom, current);
    }
    fit.converged = true;
  }
  fit.placement = to_placement(v, start.axis);
  fit.score = curve_fit_score(edges, fit.placement);
  if (fit.converged) {
    const double c = kTukeyBisquareTuning95 * std::max(spread(current), 0.05);
    fit.standard_error = standard_errors(current, c);
    fit.jackknife_error = one_step_jackknife_errors(current, c, kJackknifeBlocks);
  }
  for (size_t i = 0; i < edges.size(); ++i)
    fit.inliers += current.counted[i] && std::fabs(current.residuals[i].distance) < 1.0;
  return fit;
}

namespace {

// A placement along the rotation from the edge points' extents along and across the axis.
Placement placed_on_edges(const std::vector<EdgePoint>& edges, double rotation_degrees,
                          double lambda) {
  return auto_fit_detail::placed_on_extents(edges, rotation_degrees, lambda,
                                            [](const EdgePoint& e) { return e.position; });
}

}  // namespace

CurveFit best_curve_fit(const std::vector<EdgePoint>& edges, const std::vector<Placement>& starts,
                        double cut_off_top, double cut_off_bottom) {
  CurveFit best;
  if (!starts.empty()) {
    best.placement = starts.front();
    best.score = curve_fit_score(edges, best.placement);
  }
  if (edges.size() < 12) return best;
  // Every start, and the model along twelve directions 15 degrees apart with three lambdas (with
  // 1/lambda that covers the other six directions), fitted to a few evenly spread edge points...
  constexpr size_t kFewPoints = 150;
  std::vector<EdgePoint> few;
  const size_t stride = (edges.size() + kFewPoints - 1) / kFewPoints;
  for (size_t i = 0; i < edges.size(); i += stride) few.push_back(edges[i]);
  std::vector<Placement> candidates = starts;
  for (int direction = 0; direction < 12; ++direction)
    for (double lambda : {0.6, 1.0, 1.7})
      candidates.push_back(placed_on_edges(edges, 15.0 * direction, lambda));
  std::vector<CurveFit> rough;
  for (const Placement& candidate : candidates)
    rough.push_back(fit_curve_to_edges(few, candidate, cut_off_top, cut_off_bottom));
  std::stable_sort(rough.begin(), rough.end(),
                   [](const CurveFit& a, const CurveFit& b) { return a.score < b.score; });
  // ...and the best three of those fitted to them all.
  for (size_t k = 0; k < std::min<size_t>(3, rough.size()); ++k) {
    const CurveFit fit = fit_curve_to_edges(edges, rough[k].placement, cut_off_top, cut_off_bottom);
    if (fit.score < best.score) best = fit;
  }
  return best;
}

}  // namespace meravel
