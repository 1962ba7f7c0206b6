#include "fit/contrast_parts.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "fit/curve_least_squares.h"
#include "fit/geometry.h"
#include "fit/plausibility.h"

namespace meravel {

namespace {

double median_of(std::vector<double> values) {
  const size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + middle, values.end());
  return values[middle];
}

auto_fit_detail::Placement placement_of(const ModelParameters& model) {
  auto_fit_detail::Placement q;
  q.lambda = model.lambda_milli / 1000.0;
  q.height = model.height;
  q.pixel_width = pixel_width_for_width(q.lambda, model.height, model.width);
  q.rotation_degrees = model.rotation;
  q.center_x = model.translation_x;
  q.center_y = model.translation_y;
  return q;
}

std::vector<EdgePoint> edge_points(const std::vector<cv::Point>& points) {
  std::vector<EdgePoint> edges;
  edges.reserve(points.size());
  for (const cv::Point& p : points) edges.push_back({cv::Point2d(p), {0.0, 0.0}});
  return edges;
}

// Whether a part's value is smaller than the whole's by more than kContrastPartsDisagreeFraction
// of it and kStartsDisagreeErrors of the part fit's standard error `part_error`.
bool smaller(double part, double whole, double part_error) {
  const double difference = whole - part;
  return difference > kContrastPartsDisagreeFraction * whole &&
         difference > kStartsDisagreeErrors * part_error;
}

}  // namespace

ContrastParts contrast_parts(const cv::Mat& image, const std::vector<cv::Point>& outline,
                             const ModelParameters& model, double least_step) {
  ContrastParts parts;
  const std::vector<double> contrast = contrast_along_outline(image, outline);
  const ContrastStep step = largest_contrast_step(contrast);
  parts.step = step.fraction;
  if (!(step.fraction > least_step)) return parts;
  // Which way the object stands out: the stronger part is the one farther from the ground.
  const double sign = median_of(contrast) >= 0.0 ? 1.0 : -1.0;
  const double halfway = 0.5 * (step.before + step.after);
  const int n = static_cast<int>(outline.size());
  const int half = kContrastStretch / 2;
  for (int i = 0; i < n; ++i) {
    std::vector<double> around;
    for (int k = -half; k <= half; ++k) around.push_back(contrast[(i + k + n) % n]);
    (sign * (median_of(around) - halfway) >= 0.0 ? parts.stronger : parts.weaker)
        .push_back(outline[i]);
  }
  // Both the whole and the parts are fitted to the same pixel outline, so that the comparison
  // holds the outline's own offsets alike.
  const auto_fit_detail::Placement start = placement_of(model);
  const CurveFit whole = fit_curve_to_edges(edge_points(outline), start, 0.0, 0.0);
  if (!whole.converged) return parts;
  const size_t least_points = static_cast<size_t>(std::ceil(kContrastPartMinimumFraction * n));
  // Per part: whether its egg is shorter, and narrower, than the whole outline's.
  std::array<bool, 2> shorter{}, narrower{};
  int fitted = 0;
  for (const std::vector<cv::Point>* part : {&parts.stronger, &parts.weaker}) {
    if (part->size() < least_points) return parts;
    const CurveFit alone = fit_curve_to_edges(edge_points(*part), whole.placement, 0.0, 0.0);
    if (!alone.converged) return parts;
    const std::array<double, 6>& se = alone.standard_error;
    shorter[fitted] = smaller(alone.placement.height, whole.placement.height, se[2]);
    narrower[fitted] = smaller(alone.placement.pixel_width, whole.placement.pixel_width, se[1]);
    ++fitted;
  }
  parts.disagree = (shorter[0] && shorter[1]) || (narrower[0] && narrower[1]);
  return parts;
}

}  // namespace meravel
