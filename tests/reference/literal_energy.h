// Plain, literal implementations of the model generation, the binarisation and the deviation
// energy, step by step as the program's procedures describe them: a full-size mask for every
// half, a contour search over the whole image (outer frame as background), a distance transform
// of the whole image on every call. Slow on purpose: they are the yardstick of the fast paths.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "fit/fit_W.h"

using namespace meravel;

// The model, sample by sample with three exponentials each. Parameters must keep every value
// inside the 32-bit range (no saturation here). Returns false when no sample passes the band.
bool literal_generate_w_curve(FitState& state, double lambda, double horizontal_scale,
                              double height, double rotation_degrees, double translation_x,
                              double translation_y, std::vector<cv::Point>& left,
                              std::vector<cv::Point>& right);

// Threshold, outer frame cleared, every contour, the first of the largest; sets the box fields.
std::vector<cv::Point> literal_find_outline(FitState& state, const cv::Mat& source);

// The traced chain of one half on a full-size image: false when no contour is found.
bool literal_trace_half(const std::vector<cv::Point>& half, cv::Size image_size,
                        std::vector<cv::Point>& chain);

// The distance map of `outline` on an image of `image_size`.
cv::Mat literal_distance_map(const std::vector<cv::Point>& outline, cv::Size image_size);

// What one literal energy call saw: the traced chains, the samples and their maximum, and
// whether it got past the tracing (and so drew the Deviation view).
struct LiteralProfile {
  std::vector<cv::Point> left_chain;
  std::vector<cv::Point> right_chain;
  std::vector<double> left_samples;
  std::vector<double> right_samples;
  double max = 0.0;
  bool views_drawn = false;
};

// The energy of the two halves against state.outline_contour on an image of the source image's
// size, recomputing everything; redraws state.deviation_image (deviation_width x
// deviation_height) when it gets past the tracing.
double literal_deviation_energy(FitState& state, const std::vector<cv::Point>& left,
                                const std::vector<cv::Point>& right,
                                LiteralProfile* profile = nullptr);

// The Deviation plot of a profile onto `image` (W x H, CV_8UC3).
void literal_deviation_view(cv::Mat& image, const std::vector<double>& left_samples,
                            const std::vector<double>& right_samples, double max);

// The Output view's overlay composed step by step: a black image blended with the photograph at
// state.show_input per cent, the halves as open red polylines, the outline closed in yellow.
cv::Mat literal_overlay(const FitState& state, const std::vector<cv::Point>& left,
                        const std::vector<cv::Point>& right);
