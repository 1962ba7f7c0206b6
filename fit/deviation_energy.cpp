// The deviation energy: each half is rasterised and traced back into a dense chain of pixels that
// runs from the half's first point to its last; along both chains the distance to the nearest
// outline pixel is read from the outline's distance map. The energy is the root mean square of
// those distances in pixels, rounded to six decimals; +inf marks a model that cannot be traced.
#include <algorithm>
#include <cmath>
#include <functional>
#include <iomanip>
#include <limits>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "fit/distance_transform.h"
#include "fit/fit_internal.h"

namespace meravel {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Walks `chain` cyclically from the position after `first` until it meets `last`, appending the
// distances read to `samples`. A missing start makes the sum +inf (the walk then begins at 0); a
// walk that never meets `last` within one round discards its samples and makes the sum +inf.
// `distance_at(position)` is the distance at chain[position].
template <typename DistanceAt>
void walk_half(const DistanceAt& distance_at, const std::vector<cv::Point>& chain, cv::Point first,
               cv::Point last, bool is_left, double& sum, double& max,
               std::vector<double>& samples) {
  const size_t n = chain.size();
  size_t position = 0;
  const auto start = std::find(chain.begin(), chain.end(), first);
  if (start != chain.end()) {
    position = (static_cast<size_t>(start - chain.begin()) + 1) % n;
    if (is_left) sum = 0;
  } else {
    sum = kInfinity;
  }
  for (size_t taken = 0; taken < n; ++taken) {
    const cv::Point p = chain[position];
    const double d = distance_at(position);
    if (d > max) max = d;
    samples.push_back(d);
    sum += d * d;
    if (p == last) return;
    position = position + 1 == n ? 0 : position + 1;
  }
  samples.clear();
  sum = kInfinity;
}

}  // namespace

void draw_deviation_view(const DeviationProfile& profile, int w, int h, cv::Mat& image) {
  if (w <= 0 || h <= 0) return;
  image.create(h, w, CV_8UC3);
  image.setTo(cv::Scalar(0, 0, 0));
  const cv::Scalar red(0, 0, 255);
  const cv::Scalar yellow(0, 255, 255);
  // Every coordinate is truncated toward zero.
  auto at = [](double x, double y) { return cv::Point(static_cast<int>(x), static_cast<int>(y)); };
  cv::line(image, at(0.05 * w, 0.9 * h), at(0.95 * w, 0.9 * h), red, 1, cv::LINE_8);
  cv::line(image, at(0.5 * w, 0.1 * h), at(0.5 * w, 0.9 * h), red, 1, cv::LINE_8);

  const double max = profile.deviation_max;
  if (max > 0) {
    // The largest sample reaches the top of the axis; each half spreads over 45 % of the width.
    const double ys = 0.8 * h / max;
    if (!profile.left_samples.empty()) {
      const double xl = 0.45 * w / profile.left_samples.size();
      for (size_t i = 0; i < profile.left_samples.size(); ++i) {
        const double d = profile.left_samples[i];
        cv::circle(image, at(0.5 * w - i * xl, 0.9 * h - ys * d), 0, yellow, 1, cv::LINE_8);
      }
    }
    if (!profile.right_samples.empty()) {
      const double xr = 0.45 * w / profile.right_samples.size();
      for (size_t i = 0; i < profile.right_samples.size(); ++i) {
        const double d = profile.right_samples[i];
        cv::circle(image, at(0.5 * w + i * xr, 0.9 * h - ys * d), 0, yellow, 1, cv::LINE_8);
      }
    }
  }

  // Always a decimal point, whatever the process's locale.
  std::ostringstream label;
  label.imbue(std::locale::classic());
  label << "max: " << std::fixed << std::setprecision(2) << max;
  cv::putText(image, label.str(), at(0.5 * w + 8, 0.1 * h + 10), cv::FONT_HERSHEY_PLAIN, 1.0, red,
              1, cv::LINE_8);
}

namespace {

// The energy of the halves once traced: `distances()` gives the readers of the distances along the
// left and the right chain.
template <typename Distances>
double energy_of_chains(const std::vector<cv::Point>& outline, cv::Size image_size,
                        const std::vector<cv::Point>& contour_w_left,
                        const std::vector<cv::Point>& contour_w_right, EvaluationBuffers& work,
                        DeviationProfile& profile, bool* traced, const Distances& distances) {
  if (traced) *traced = false;
  if (contour_w_left.empty() || contour_w_right.empty() || outline.empty()) return kInfinity;
  // The halves may be the curve storages themselves, which the tracing overwrites.
  const cv::Point left_first = contour_w_left.front();
  const cv::Point left_last = contour_w_left.back();
  const cv::Point right_first = contour_w_right.front();
  const cv::Point right_last = contour_w_right.back();

  if (!trace_half(work, contour_w_left, image_size, work.left_curve_storage)) return kInfinity;
  if (!trace_half(work, contour_w_right, image_size, work.right_curve_storage)) return kInfinity;
  if (traced) *traced = true;

  const auto [left_at, right_at] = distances(work.left_curve_storage, work.right_curve_storage);
  double sum = 0;
  double max = 0;
  profile.left_samples.clear();
  profile.right_samples.clear();
  walk_half(left_at, work.left_curve_storage, left_first, left_last, true, sum, max,
            profile.left_samples);
  walk_half(right_at, work.right_curve_storage, right_first, right_last, false, sum, max,
            profile.right_samples);
  profile.deviation_max = max;

  if (sum > std::numeric_limits<double>::max()) return kInfinity;
  const double n = static_cast<double>(profile.left_samples.size() + profile.right_samples.size());
  return std::round(std::sqrt(sum / n) * 1000000) / 1000000;
}

// Reads the map at the pixels of a chain.
struct MapReader {
  const cv::Mat* distance;
  const std::vector<cv::Point>* chain;
  float operator()(std::size_t position) const {
    const cv::Point p = (*chain)[position];
    return distance->at<float>(p.y, p.x);
  }
};

}  // namespace

double deviation_energy(const FitTarget& target, const std::vector<cv::Point>& contour_w_left,
                        const std::vector<cv::Point>& contour_w_right, EvaluationBuffers& work,
                        DeviationProfile& profile, bool* traced) {
  if (target.distance_image.size() != target.image_size) {
    if (traced) *traced = false;
    return kInfinity;
  }
  const cv::Mat& map = target.distance_image;
  return energy_of_chains(
      target.outline_contour, target.image_size, contour_w_left, contour_w_right, work, profile,
      traced, [&map](const std::vector<cv::Point>& left, const std::vector<cv::Point>& right) {
        return std::make_pair(MapReader{&map, &left}, MapReader{&map, &right});
      });
}

double deviation_energy_before_map(const std::vector<cv::Point>& outline, cv::Size image_size,
                                   const std::vector<cv::Point>& contour_w_left,
                                   const std::vector<cv::Point>& contour_w_right,
                                   EvaluationBuffers& work, DeviationProfile& profile, bool* traced,
                                   const std::function<const cv::Mat&()>& map, long long budget) {
  std::vector<float> left_distances;
  std::vector<float> right_distances;
  const cv::Mat* waited = nullptr;
  return energy_of_chains(
      outline, image_size, contour_w_left, contour_w_right, work, profile, traced,
      [&](const std::vector<cv::Point>& left, const std::vector<cv::Point>& right) {
        const std::vector<cv::Point> zeros = outline_map_zeros(outline, image_size);
        const bool read = chamfer_distances_at(zeros, left, left_distances, budget) &&
                          chamfer_distances_at(zeros, right, right_distances, budget);

        if (!read) waited = &map();
        const auto reader = [&](const std::vector<float>& values,
                                const std::vector<cv::Point>& chain) {
          return [&values, &chain, waited](std::size_t position) {
            return waited ? MapReader{waited, &chain}(position) : values[position];
          };
        };
        return std::make_pair(reader(left_distances, left), reader(right_distances, right));
      });
}

double evaluate_model(const FitTarget& target, const CutOffs& cut_offs, const ParameterVector& p,
                      EvaluationBuffers& work, std::ostream& errors, WCurveExtent* extent) {
  const WCurveExtent generated =
      generate_w_curve(p, cut_offs, work.evaluation_left, work.evaluation_right, errors);
  if (extent) *extent = generated;
  if (!generated.produced) return kInfinity;
  return deviation_energy(target, work.evaluation_left, work.evaluation_right, work,
                          work.evaluation_profile);
}

}  // namespace meravel
