#include "fit/plausibility.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

#include "fit/contrast_parts.h"
#include "fit/egg_dimensions.h"

namespace meravel {

double model_area_px2(const ModelParameters& model) {
  const std::optional<EggDimensions> egg =
      egg_dimensions_of_model(model.lambda_milli, model.width, model.height);
  if (!egg) return 0.0;
  const double lambda = model.lambda_milli / 1000.0;
  const double p = lambda / (1.0 + lambda), q = 1.0 - p;
  // The offset is K u^p (1-u)^q over the depth fraction u, the breadth 2 K p^p q^q at u = p.
  return egg->length * egg->breadth * std::beta(p + 1.0, q + 1.0) /
         std::exp(p * std::log(p) + q * std::log(q));
}

double outline_area_px2(const std::vector<cv::Point>& outline) {
  if (outline.size() < 3) return static_cast<double>(outline.size());
  return cv::contourArea(outline) + 0.5 * cv::arcLength(outline, true) + 1.0;
}

double solidity(const std::vector<cv::Point>& outline) {
  if (outline.size() < 3) return 0.0;
  std::vector<cv::Point> hull;
  cv::convexHull(outline, hull);
  const double hull_area = outline_area_px2(hull);
  return hull_area > 0.0 ? std::min(1.0, outline_area_px2(outline) / hull_area) : 0.0;
}

Plausibility check_plausibility(const ModelParameters& model,
                                const std::vector<cv::Point>& outline) {
  Plausibility found;
  const std::optional<EggDimensions> egg =
      egg_dimensions_of_model(model.lambda_milli, model.width, model.height);
  if (!egg) {
    found.too_small = true;
    return found;
  }
  found.length_below_breadth = egg->length < egg->breadth;
  found.too_small = std::min(egg->length, egg->breadth) < kMinimumSizePx;
  const double lambda = model.lambda_milli / 1000.0;
  found.lambda_not_egg_like =
      std::min(lambda, 1.0 / lambda) < std::min(kEggLambdaLow, 1.0 / kEggLambdaHigh);
  if (outline.size() >= 3) {
    const double object = outline_area_px2(outline);
    const double fitted = model_area_px2(model);
    found.area_mismatch = std::fabs(fitted - object) > kAreaMismatchFraction * object;
    found.not_convex = solidity(outline) < kMinimumSolidity;
  }
  return found;
}

double object_ground_contrast(const cv::Mat& image, const std::vector<cv::Point>& outline) {
  if (image.empty() || outline.size() < 3) return std::nan("");
  constexpr int kNear = 2, kFar = 5;
  const cv::Rect image_rect(0, 0, image.cols, image.rows);
  cv::Rect around = cv::boundingRect(outline);
  around = cv::Rect(around.x - kFar - 1, around.y - kFar - 1, around.width + 2 * kFar + 2,
                    around.height + 2 * kFar + 2) &
           image_rect;
  if (around.empty()) return std::nan("");
  cv::Mat grey;
  if (image.channels() == 3) {
    cv::cvtColor(image(around), grey, cv::COLOR_BGR2GRAY);
  } else {
    grey = image(around);
  }
  cv::Mat inside(around.size(), CV_8UC1, cv::Scalar(0));
  const std::vector<std::vector<cv::Point>> contours{outline};
  cv::drawContours(inside, contours, 0, cv::Scalar(255), cv::FILLED, cv::LINE_8, cv::noArray(),
                   INT_MAX, -around.tl());
  const auto grown = [&](int by, bool erode) {
    cv::Mat out;
    const cv::Mat disc =
        cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(2 * by + 1, 2 * by + 1));
    if (erode) {
      cv::erode(inside, out, disc, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, cv::Scalar(0));
    } else {
      cv::dilate(inside, out, disc);
    }
    return out;
  };
  const cv::Mat object_band = grown(kNear, true) & ~grown(kFar, true);
  const cv::Mat ground_band = grown(kFar, false) & ~grown(kNear, false);
  if (cv::countNonZero(object_band) == 0 || cv::countNonZero(ground_band) == 0) {
    return std::nan("");
  }
  return cv::mean(grey, object_band)[0] - cv::mean(grey, ground_band)[0];
}

namespace {

double median_of(std::vector<double> values) {
  if (values.empty()) return 0.0;
  const size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + middle, values.end());
  return values[middle];
}

}  // namespace

std::vector<double> contrast_along_outline(const cv::Mat& image,
                                           const std::vector<cv::Point>& outline) {
  constexpr int kTangent = 3;
  constexpr double kAcross = 4.0;
  const int n = static_cast<int>(outline.size());
  if (image.empty() || n < 6 * kContrastStretch) return {};
  cv::Mat grey;
  if (image.channels() == 3) {
    cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
  } else {
    grey = image;
  }
  // The outline's orientation tells which side of its tangent the object lies on.
  const double orientation = cv::contourArea(outline, true) > 0 ? 1.0 : -1.0;
  const auto level = [&](cv::Point2d p) {
    const int x = std::clamp(cvRound(p.x), 0, grey.cols - 1);
    const int y = std::clamp(cvRound(p.y), 0, grey.rows - 1);
    return static_cast<double>(grey.at<uchar>(y, x));
  };
  std::vector<double> contrast(n);
  for (int i = 0; i < n; ++i) {
    const cv::Point2d tangent = outline[(i + kTangent) % n] - outline[(i - kTangent + n) % n];
    const double length = std::hypot(tangent.x, tangent.y);
    if (length == 0.0) continue;
    // Image coordinates have y down: for a positively oriented chain the object lies to the right
    // of the direction of travel.
    const cv::Point2d inward = orientation * cv::Point2d(-tangent.y, tangent.x) / length;
    const cv::Point2d at(outline[i]);
    contrast[i] = level(at + kAcross * inward) - level(at - kAcross * inward);
  }
  return contrast;
}

ContrastStep largest_contrast_step(const std::vector<double>& contrast) {
  ContrastStep found;
  const int n = static_cast<int>(contrast.size());
  if (n < 6 * kContrastStretch) return found;
  const double typical = std::fabs(median_of(contrast));
  if (typical < 1.0) return found;
  double largest = -1.0;
  for (int i = 0; i < n; ++i) {
    std::vector<double> before, after;
    for (int k = 0; k < kContrastStretch; ++k) {
      before.push_back(contrast[(i - 1 - k + n) % n]);
      after.push_back(contrast[(i + k) % n]);
    }
    const double median_before = median_of(before), median_after = median_of(after);
    if (std::fabs(median_after - median_before) > largest) {
      largest = std::fabs(median_after - median_before);
      found.at = i;
      found.before = median_before;
      found.after = median_after;
    }
  }
  found.fraction = largest / typical;
  return found;
}

double contrast_step_along_outline(const cv::Mat& image, const std::vector<cv::Point>& outline) {
  return largest_contrast_step(contrast_along_outline(image, outline)).fraction;
}

bool disagrees(double spread, double error, double value) {
  if (!std::isfinite(spread) || !std::isfinite(error) || !std::isfinite(value)) return false;
  return spread > kStartsDisagreeErrors * error &&
         spread > kStartsDisagreeFraction * std::fabs(value);
}

bool starts_disagree(const FitUncertainty& u, const ModelParameters& model) {
  const std::optional<EggDimensions> egg =
      egg_dimensions_of_model(model.lambda_milli, model.width, model.height);
  return disagrees(u.lambda_spread, u.lambda_se, model.lambda_milli / 1000.0) ||
         (egg && (disagrees(u.length_spread_px, u.length_se_px, egg->length) ||
                  disagrees(u.breadth_spread_px, u.breadth_se_px, egg->breadth)));
}

FitEvidence fit_evidence(const cv::Mat& image, const std::vector<cv::Point>& outline,
                         const ModelParameters& model, const FitUncertainty& uncertainty) {
  FitEvidence evidence;
  evidence.contrast_grey = object_ground_contrast(image, outline);
  const ContrastParts parts = contrast_parts(image, outline, model, kContrastStepFraction);
  evidence.contrast_step = parts.step;
  evidence.contrast_parts_disagree = parts.disagree;
  evidence.starts_disagree = starts_disagree(uncertainty, model);
  return evidence;
}

}  // namespace meravel
