#include "batch/quality_flags.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <sstream>

const char kFarAboveMedianWarning[] = "energy far above the series' median";

std::vector<std::string> fit_warnings(const FitTarget& target, const ModelParameters& model,
                                      const CutOffs& cut_offs, double energy) {
  std::vector<std::string> warnings;
  const int w = target.image_size.width;
  const int h = target.image_size.height;
  if (!target.outline_contour.empty()) {
    const cv::Rect box = cv::boundingRect(target.outline_contour);
    // The outermost pixel frame counts as background, so an outline lies at 1 .. W-2 at most.
    const bool spans_width = box.x <= 1 && box.x + box.width >= w - 1;
    const bool spans_height = box.y <= 1 && box.y + box.height >= h - 1;
    if (spans_width && spans_height) {
      warnings.push_back("the outline is the image frame");
    } else if (box.x <= 1 || box.y <= 1 || box.x + box.width >= w - 1 ||
               box.y + box.height >= h - 1) {
      warnings.push_back("the outline touches the frame");
    }
  }
  if (!(energy <= kEnergyWarningLimit)) {
    std::ostringstream text;
    text << "energy above " << kEnergyWarningLimit << " px";
    warnings.push_back(text.str());
  }
  std::vector<cv::Point> left;
  std::vector<cv::Point> right;
  std::ostringstream ignored;
  generate_w_curve(parameter_vector(model), cut_offs, left, right, ignored);
  const auto outside = [w, h](const cv::Point& p) {
    return p.x <= 0 || p.y <= 0 || p.x >= w - 1 || p.y >= h - 1;
  };
  if (std::any_of(left.begin(), left.end(), outside) ||
      std::any_of(right.begin(), right.end(), outside)) {
    warnings.push_back("the model reaches the border");
  }
  return warnings;
}

double median_energy(std::vector<double> energies) {
  energies.erase(
      std::remove_if(energies.begin(), energies.end(), [](double e) { return !std::isfinite(e); }),
      energies.end());
  if (energies.empty()) return 0.0;
  const size_t middle = (energies.size() - 1) / 2;
  std::nth_element(energies.begin(), energies.begin() + middle, energies.end());
  return energies[middle];
}

bool far_above_median(double energy, double median) {
  if (!std::isfinite(energy)) return false;  // already above the limit
  return energy > kMedianWarningFactor * median && energy >= median + kMedianWarningMargin;
}
