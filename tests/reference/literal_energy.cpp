#include "reference/literal_energy.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <limits>
#include <opencv2/imgproc.hpp>

#include "fit/geometry.h"

using namespace meravel;

bool literal_generate_w_curve(FitState& state, double lambda, double a, double h,
                              double rotation_degrees, double tx, double ty,
                              std::vector<cv::Point>& left, std::vector<cv::Point>& right) {
  left.clear();
  right.clear();
  const double theta = rotation_degrees * kPi / 180;
  int best = 0;
  double t = -20;
  for (int i = 0; i < 800; ++i, t += 0.05) {
    double D = (h / 2) * std::exp(t) + std::exp(-lambda * t);
    double G = 1 / D;
    int x = static_cast<int>(a * G);
    int y = static_cast<int>((h * h / 2) * std::exp(t) * G);
    if (x > best) {
      best = x;
      state.peak_abscissa = t;
    }
    if (y < (state.cut_off_top / 100.0) * h || y > (1 - state.cut_off_bottom / 100.0) * h) {
      continue;
    }
    int yc = static_cast<int>(y - h / 2);
    right.emplace_back(
        static_cast<int>(tx) + static_cast<int>(x * std::cos(theta) - yc * std::sin(theta)),
        static_cast<int>(ty) + static_cast<int>(x * std::sin(theta) + yc * std::cos(theta)));
    left.emplace_back(
        static_cast<int>(tx) + static_cast<int>(-x * std::cos(theta) - yc * std::sin(theta)),
        static_cast<int>(ty) + static_cast<int>(-x * std::sin(theta) + yc * std::cos(theta)));
  }
  if (left.empty()) return false;
  state.pixel_width = 2 * best;
  return true;
}

namespace {

void zero_frame(cv::Mat& image) {
  for (int x = 0; x < image.cols; ++x) {
    image.at<uchar>(0, x) = 0;
    image.at<uchar>(image.rows - 1, x) = 0;
  }
  for (int y = 0; y < image.rows; ++y) {
    image.at<uchar>(y, 0) = 0;
    image.at<uchar>(y, image.cols - 1) = 0;
  }
}

int first_largest(const std::vector<std::vector<cv::Point>>& contours) {
  int chosen = -1;
  for (int i = 0; i < static_cast<int>(contours.size()); ++i) {
    if (chosen == -1 || contours[i].size() > contours[chosen].size()) chosen = i;
  }
  return chosen;
}

}  // namespace

std::vector<cv::Point> literal_find_outline(FitState& state, const cv::Mat& source) {
  cv::Mat grey;
  cv::cvtColor(source, grey, cv::COLOR_BGR2GRAY);
  cv::threshold(grey, grey, state.threshold, 255, cv::THRESH_BINARY);
  zero_frame(grey);
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(grey, contours, cv::RETR_LIST, cv::CHAIN_APPROX_NONE);
  int chosen = first_largest(contours);
  if (chosen < 0) return {};
  int min_x = source.cols, min_y = source.rows, max_x = 0, max_y = 0;
  for (const cv::Point& p : contours[chosen]) {
    if (p.x < min_x) min_x = p.x;
    if (p.x > max_x) max_x = p.x;
    if (p.y < min_y) min_y = p.y;
    if (p.y > max_y) max_y = p.y;
  }
  state.outline_width = max_x - min_x;
  state.outline_height = max_y - min_y;
  state.outline_center_x = min_x + state.outline_width / 2;
  state.outline_center_y = min_y + state.outline_height / 2;
  return contours[chosen];
}

bool literal_trace_half(const std::vector<cv::Point>& half, cv::Size image_size,
                        std::vector<cv::Point>& chain) {
  chain.clear();
  cv::Mat mask = cv::Mat::zeros(image_size, CV_8UC1);
  std::vector<std::vector<cv::Point>> halves{half};
  cv::polylines(mask, halves, false, cv::Scalar(255), 1, cv::LINE_8);
  zero_frame(mask);
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(mask, contours, cv::RETR_LIST, cv::CHAIN_APPROX_NONE);
  int chosen = first_largest(contours);
  if (chosen < 0) return false;
  chain = contours[chosen];
  return true;
}

cv::Mat literal_distance_map(const std::vector<cv::Point>& outline, cv::Size image_size) {
  cv::Mat mask = cv::Mat::zeros(image_size, CV_8UC1);
  std::vector<std::vector<cv::Point>> contours{outline};
  cv::drawContours(mask, contours, 0, cv::Scalar(255), 1, cv::LINE_8, cv::noArray(), 0);
  for (int y = 0; y < mask.rows; ++y) {
    for (int x = 0; x < mask.cols; ++x) {
      if (y < 2 || y >= mask.rows - 2 || x < 2 || x >= mask.cols - 2) mask.at<uchar>(y, x) = 0;
    }
  }
  cv::bitwise_not(mask, mask);
  cv::Mat distance = cv::Mat::zeros(image_size, CV_32FC1);
  cv::distanceTransform(mask, distance, cv::DIST_L2, 5);
  return distance;
}

void literal_deviation_view(cv::Mat& image, const std::vector<double>& left_samples,
                            const std::vector<double>& right_samples, double max) {
  const int W = image.cols;
  const int H = image.rows;
  image.setTo(cv::Scalar(0, 0, 0));
  cv::line(image, cv::Point(int(0.05 * W), int(0.9 * H)), cv::Point(int(0.95 * W), int(0.9 * H)),
           cv::Scalar(0, 0, 255), 1, 8);
  cv::line(image, cv::Point(int(0.5 * W), int(0.1 * H)), cv::Point(int(0.5 * W), int(0.9 * H)),
           cv::Scalar(0, 0, 255), 1, 8);
  double ys = 0.8 * H / max;
  double xl = 0.45 * W / left_samples.size();
  double xr = 0.45 * W / right_samples.size();
  if (max != 0) {
    for (size_t i = 0; i < left_samples.size(); ++i) {
      cv::circle(image, cv::Point(int(0.5 * W - i * xl), int(0.9 * H - ys * left_samples[i])), 0,
                 cv::Scalar(0, 255, 255), 1, 8);
    }
    for (size_t i = 0; i < right_samples.size(); ++i) {
      cv::circle(image, cv::Point(int(0.5 * W + i * xr), int(0.9 * H - ys * right_samples[i])), 0,
                 cv::Scalar(0, 255, 255), 1, 8);
    }
  }
  char text[64];
  std::snprintf(text, sizeof text, "max: %.2f", max);
  cv::putText(image, text, cv::Point(int(0.5 * W + 8), int(0.1 * H + 10)), cv::FONT_HERSHEY_PLAIN,
              1.0, cv::Scalar(0, 0, 255), 1, 8);
}

double literal_deviation_energy(FitState& state, const std::vector<cv::Point>& left,
                                const std::vector<cv::Point>& right, LiteralProfile* profile) {
  const double inf = std::numeric_limits<double>::infinity();
  LiteralProfile local;
  LiteralProfile& out = profile ? *profile : local;
  out = LiteralProfile();
  if (left.empty() || right.empty() || state.target.outline_contour.empty()) return inf;
  cv::Point left_first = left[0], left_last = left[left.size() - 1];
  cv::Point right_first = right[0], right_last = right[right.size() - 1];
  const cv::Size size = state.source_image.size();
  if (!literal_trace_half(left, size, out.left_chain)) return inf;
  if (!literal_trace_half(right, size, out.right_chain)) return inf;
  cv::Mat distance = literal_distance_map(state.target.outline_contour, size);

  double sum = 0;
  double max = 0;
  struct Half {
    const std::vector<cv::Point>* chain;
    cv::Point first, last;
    std::vector<double>* samples;
  } halves[2] = {{&out.left_chain, left_first, left_last, &out.left_samples},
                 {&out.right_chain, right_first, right_last, &out.right_samples}};
  for (int k = 0; k < 2; ++k) {
    const std::vector<cv::Point>& chain = *halves[k].chain;
    int n = static_cast<int>(chain.size());
    int m = -1;
    for (int i = 0; i < n; ++i) {
      if (chain[i] == halves[k].first) {
        m = i;
        break;
      }
    }
    int position;
    if (m >= 0) {
      if (k == 0) sum = 0;
      position = (m + 1) % n;
    } else {
      sum = inf;
      position = 0;
    }
    bool complete = false;
    for (int taken = 0; taken < n; ++taken) {
      cv::Point p = chain[position];
      double d = distance.at<float>(p.y, p.x);
      if (d > max) max = d;
      halves[k].samples->push_back(d);
      sum += d * d;
      if (p == halves[k].last) {
        complete = true;
        break;
      }
      position = (position + 1) % n;
    }
    if (!complete) {
      halves[k].samples->clear();
      sum = inf;
    }
  }
  out.max = max;
  out.views_drawn = true;
  if (state.deviation_width > 0 && state.deviation_height > 0) {
    state.deviation_image.create(state.deviation_height, state.deviation_width, CV_8UC3);
    literal_deviation_view(state.deviation_image, out.left_samples, out.right_samples, max);
  }
  if (sum > std::numeric_limits<double>::max()) return inf;
  int N = static_cast<int>(out.left_samples.size() + out.right_samples.size());
  return std::round(std::sqrt(sum / N) * 1000000) / 1000000;
}

cv::Mat literal_overlay(const FitState& state, const std::vector<cv::Point>& left,
                        const std::vector<cv::Point>& right) {
  const double s = state.show_input;
  cv::Mat overlay = cv::Mat::zeros(state.source_image.size(), CV_8UC3);
  cv::addWeighted(overlay, 1 - s / 100, state.source_image, s / 100, 0, overlay);
  std::vector<std::vector<cv::Point>> halves;
  if (!left.empty()) halves = {left, right};
  cv::polylines(overlay, halves, false, cv::Scalar(0, 0, 255), 1, cv::LINE_8);
  if (!state.target.outline_contour.empty()) {
    cv::drawContours(overlay, std::vector<std::vector<cv::Point>>{state.target.outline_contour}, 0,
                     cv::Scalar(0, 255, 255), 1, cv::LINE_8);
  }
  return overlay;
}
