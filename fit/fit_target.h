// What a fit is made against, and how one model is scored there: the outline of a thresholded
// photograph with its box, the target of a fit (the outline and its one distance map), the work
// buffers of an evaluation, and the deviation energy.
//
// Computing core: opencv_core and opencv_imgproc only, no window. Image coordinates have x to the
// right and y downwards, in pixels of the image the outline was found in.
#pragma once

#include <functional>
#include <opencv2/core.hpp>
#include <ostream>
#include <vector>

#include "fit/model.h"

namespace meravel {

// The bounding box of an outline: the differences of its extreme coordinates (one less than the
// number of columns or rows spanned) and the box's centre, min + difference / 2 in integers.
struct OutlineBox {
  int width = 0;
  int height = 0;
  int center_x = 0;
  int center_y = 0;
};

// Which side of the threshold the object lies on: a light object on a dark ground (grey above
// the threshold), or a dark object on a light ground (the grey image inverted first).
enum class ObjectPolarity { kLightOnDark, kDarkOnLight };

// The largest outline of a thresholded photograph.
struct Outline {
  std::vector<cv::Point> contour;  // a closed chain of pixels; empty when there is none
  OutlineBox box;                  // the contour's box; all 0 when there is no contour
};

// Thresholds `source` (8-bit; one, three or four channels, converted to grey first) to
// grey > threshold -> 255, finds every contour (list retrieval, no approximation, the outermost
// pixel frame counting as background) and returns the one with the most points (the first of
// equals) with its box. When given, *all_contours receives every contour found, in the order
// found, and *binary_view the thresholded image before the frame is cleared, resized bilinearly
// to binary_view's size (to the display size of the source when binary_view is empty). For a dark
// object on a light ground the grey image is inverted (255 - grey) before the threshold; the
// outermost pixel frame still counts as background.
Outline find_outline(const cv::Mat& source, int threshold,
                     std::vector<std::vector<cv::Point>>* all_contours = nullptr,
                     cv::Mat* binary_view = nullptr,
                     ObjectPolarity polarity = ObjectPolarity::kLightOnDark);

// The target of a fit: the outline and its one distance map, on an image of image_size. Built
// once per outline (a new photograph or a new threshold); the deviation energy and the automatic
// fit's stand-in both read the map.
struct FitTarget {
  std::vector<cv::Point> outline_contour;  // the largest outline; empty when there is none
  // CV_32FC1 of image_size: each pixel's distance to the nearest outline pixel (OpenCV's DIST_L2
  // with the 5x5 mask), outline pixels on the two outermost rows and columns left out. Empty
  // when there is no outline.
  cv::Mat distance_image;
  cv::Size image_size;
  // Outline pixels that are no edge of the photograph (the cut from an egg it touches), which the
  // fit to the edge leaves out (leave_cut_out, cut_edge.h); emptied with a new outline.
  std::vector<cv::Point> cut;
};

// Makes `target` the target of `outline` on an image of `image_size`, reusing its map's memory
// when the size stays. `mask_work` is a work image (CV_8UC1, reallocated only when its size
// differs).
void rebuild_fit_target(FitTarget& target, std::vector<cv::Point> outline, cv::Size image_size,
                        cv::Mat& mask_work);

// Outline pixels on this many outermost rows and columns are left out of the map.
constexpr int kLeftOutFrame = 2;

// The zero pixels of the map rebuild_fit_target makes for `outline` on an image of `image_size`:
// the outline drawn 8-connected, less those on the left-out frame.
std::vector<cv::Point> outline_map_zeros(const std::vector<cv::Point>& outline,
                                         cv::Size image_size);

// The target of `outline` on an image of `image_size`.
FitTarget make_fit_target(std::vector<cv::Point> outline, cv::Size image_size);

// The distances read along both halves by the last energy that got past the tracing, in walk
// order (a half whose walk failed is left empty), and their maximum: what the Deviation view
// plots.
struct DeviationProfile {
  std::vector<double> left_samples;
  std::vector<double> right_samples;
  double deviation_max = 0.0;
};

// The work buffers of evaluations: grown as needed and reused, so that an evaluation allocates
// no image of the photograph's size. One set per thread of evaluations.
struct EvaluationBuffers {
  // The traced chains of the last energy's two halves (the curve storages).
  std::vector<cv::Point> left_curve_storage;
  std::vector<cv::Point> right_curve_storage;
  // The image on which one half is rasterised and traced, never shrunk, its contours, and a half
  // shifted into its frame.
  cv::Mat trace_buffer;
  std::vector<std::vector<cv::Point>> trace_contours;
  std::vector<cv::Point> trace_points;
  // The halves and the profile of the last evaluate_model call.
  std::vector<cv::Point> evaluation_left;
  std::vector<cv::Point> evaluation_right;
  DeviationProfile evaluation_profile;
};

// The deviation energy: the RMS distance in pixels between the halves, rasterised and traced
// back into chains from each half's first point to its last, and the target's outline, read from
// its distance map, rounded to six decimals. +inf when a half or the outline is missing, when a
// half leaves no contour once rasterised or when a chain does not lead from the half's first
// point to its last. The halves may be work.left_curve_storage / right_curve_storage themselves.
// When the call gets past the tracing, `profile` receives the distances read and *traced (may be
// null) is set to true; otherwise both are left as they were and *traced is false.
double deviation_energy(const FitTarget& target, const std::vector<cv::Point>& contour_w_left,
                        const std::vector<cv::Point>& contour_w_right, EvaluationBuffers& work,
                        DeviationProfile& profile, bool* traced = nullptr);

// deviation_energy while the map of `outline` on an image of `image_size` is still being made:
// the same energy, profile and *traced, with the distances along the traced chains computed from
// the outline's pixels. Where that would take long, it calls `map` for the finished map and reads
// it instead: when the computation passes `budget` distance evaluations per half (the default is
// a few times the work of a first view at 6000 x 4000, where the map is then well on its way).
constexpr long long kBeforeMapBudget = 20'000'000;
double deviation_energy_before_map(const std::vector<cv::Point>& outline, cv::Size image_size,
                                   const std::vector<cv::Point>& contour_w_left,
                                   const std::vector<cv::Point>& contour_w_right,
                                   EvaluationBuffers& work, DeviationProfile& profile, bool* traced,
                                   const std::function<const cv::Mat&()>& map,
                                   long long budget = kBeforeMapBudget);

// One scored candidate: the model at p = (lambda x 1000, width, height, rotation, tx, ty) with
// the cut-offs, and its deviation energy against the target; +inf for a model without points
// (whose message goes to `errors`). *extent (may be null) receives the generation's extent.
double evaluate_model(const FitTarget& target, const CutOffs& cut_offs, const ParameterVector& p,
                      EvaluationBuffers& work, std::ostream& errors,
                      WCurveExtent* extent = nullptr);

// Redraws `image` (height x width, CV_8UC3) as the Deviation view of `profile`: a red baseline
// and axis, each half's samples as yellow dots spreading from the axis, the largest reaching the
// top, and the label "max: " with two decimals.
void draw_deviation_view(const DeviationProfile& profile, int width, int height, cv::Mat& image);

}  // namespace meravel
