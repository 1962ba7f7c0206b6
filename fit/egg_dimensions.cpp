#include "fit/egg_dimensions.h"

#include <boost/math/quadrature/sinh_sinh.hpp>
#include <cmath>

#include "fit/geometry.h"

namespace meravel {

namespace {

bool positive(double value) { return std::isfinite(value) && value > 0; }

// The rule reports a sum that does not converge to a finite value as such instead of throwing;
// egg_dimensions turns it into "no dimensions".
using NoThrowPolicy = boost::math::policies::policy<
    boost::math::policies::domain_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<boost::math::policies::ignore_error>>;

// The surface area 2 pi ∫ x ds.
//
// Measured from the widest point, s = t - t*, with e^((1 + lambda) t*) = 2 lambda / h, the curve
// is x = X0 / d(s), y = h lambda e^s / d(s), d(s) = lambda e^s + e^(-lambda s), X0 = a e^(lambda
// t*) = (1 + lambda) * half the breadth. The integrand is smooth, largest near s = 0 and falls off
// like e^(-2s) on one side and e^(2 lambda s) on the other, which suits the sinh-sinh rule over the
// whole line. Each side is written with the exponential that stays at most 1 (r below), so that
// no term overflows however far out the rule samples.
double surface_area(double lambda, double height, double x0) {
  const auto integrand = [=](double s) {
    double e = 0, r = 0, d = 0;
    if (s >= 0) {  // everything divided by e^s
      e = std::exp(-s);
      r = std::exp(-(1 + lambda) * s);
      d = lambda + r;
    } else {  // everything multiplied by e^(lambda s)
      e = std::exp(lambda * s);
      r = std::exp((1 + lambda) * s);
      d = 1 + lambda * r;
    }
    const double x = x0 * e / d;
    const double dx_ds = x0 * lambda * (1 - r) * e / (d * d);
    const double dy_ds = height * lambda * (1 + lambda) * r / (d * d);
    return 2 * kPi * x * std::hypot(dx_ds, dy_ds);
  };
  // Its abscissae and weights are computed once and shared by every call.
  static boost::math::quadrature::sinh_sinh<double, NoThrowPolicy> rule;
  return rule.integrate(integrand, 1e-13);
}

}  // namespace

std::optional<EggDimensions> egg_dimensions(double lambda, double horizontal_scale,
                                            double height_px) {
  if (!positive(lambda) || !positive(horizontal_scale) || !positive(height_px)) return {};
  const double h = height_px;
  const double p = lambda / (1 + lambda);
  const double q = 1 / (1 + lambda);
  const double k = horizontal_scale * std::pow(2 / h, p);
  const double half_breadth = k * std::pow(p, p) * std::pow(q, q);

  EggDimensions egg;
  egg.length = h;
  egg.breadth = 2 * half_breadth;
  egg.breadth_position = p;
  egg.elongation = egg.length / egg.breadth;
  // B(2p + 1, 2q + 1) = Γ(2p + 1) Γ(2q + 1) / Γ(4), since 2p + 2q = 2.
  egg.volume = kPi * h * k * k * std::tgamma(2 * p + 1) * std::tgamma(2 * q + 1) / 6;
  egg.surface = surface_area(lambda, h, (1 + lambda) * half_breadth);
  if (!std::isfinite(egg.breadth) || !std::isfinite(egg.volume) || !std::isfinite(egg.surface) ||
      !(egg.breadth > 0)) {
    return {};
  }
  return egg;
}

std::optional<EggDimensions> egg_dimensions_of_model(int lambda_milli, int width, int height) {
  const double lambda = lambda_milli / 1000.0;
  return egg_dimensions(lambda, lambda * width, height);
}

EggDimensions egg_dimensions_in_mm(const EggDimensions& px, double px_per_mm) {
  EggDimensions mm = px;
  mm.length = px.length / px_per_mm;
  mm.breadth = px.breadth / px_per_mm;
  mm.volume = px.volume / (px_per_mm * px_per_mm * px_per_mm);
  mm.surface = px.surface / (px_per_mm * px_per_mm);
  return mm;
}

}  // namespace meravel
