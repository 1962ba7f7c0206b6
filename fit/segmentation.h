// Finding the egg in a photograph without a threshold given: the objects that stand out from the
// ground, each scored on how much it looks like an egg, and the best one outlined at full
// resolution.
//
// Computing core: opencv_core and opencv_imgproc only, no window. Coordinates are pixels of the
// image given (x to the right, y downwards).
#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "fit/fit_target.h"

namespace meravel {

// One object that stands out from the ground.
struct SegmentCandidate {
  // A closed chain of 8-connected pixels in the image's own pixels. The chosen candidate's is
  // traced at full resolution; the others' are those of the reduced copy scaled up.
  std::vector<cv::Point> outline;
  double area_px = 0.0;         // of the filled outline, in the image's pixels
  double solidity = 0.0;        // area / area of the convex hull, 0..1
  double ellipse_fit = 0.0;     // overlap (intersection over union) with its fitted ellipse, 0..1
  double elongation = 0.0;      // the fitted ellipse's long axis / short axis, >= 1
  double border_contact = 0.0;  // share of the outline on the image's outer frame, 0..1
  double score = 0.0;           // egg-likeness, 0..1: the product of the factors above
  // Whether the outline was traced at full resolution, and then the grey threshold and polarity
  // that separate this object from the ground next to it (as Segmentation's for the chosen one).
  bool traced = false;
  int threshold = 131;
  ObjectPolarity polarity = ObjectPolarity::kLightOnDark;
};

struct Segmentation {
  // Best first; those of one object found at several levels are kept once (the best).
  std::vector<SegmentCandidate> candidates;
  // Index of the candidate measured, -1 when no candidate is a plausible egg; the runner-up is
  // the next candidate (index 1) when there is one.
  int chosen = -1;
  // The grey threshold and polarity that separate the chosen object from the ground next to it
  // (halfway between the two grey levels), as the threshold trackbar and key n would set them;
  // the outline itself comes from the segmentation, not from this threshold alone.
  int threshold = 131;
  ObjectPolarity polarity = ObjectPolarity::kLightOnDark;

  bool found() const { return chosen >= 0; }
  double chosen_score() const { return found() ? candidates[chosen].score : 0.0; }
  // 0 when there is no runner-up.
  double runner_up_score() const { return candidates.size() > 1 ? candidates[1].score : 0.0; }
};

// A candidate with a lower score is no plausible egg.
constexpr double kPlausibleEggScore = 0.35;

// How much worse (RMS distance to the edge, px) a fit along the long axis of an egg chosen by the
// segmentation may fit than a broad one, and still be taken (auto_fit's egg_tolerance_px).
constexpr double kEggAxisTolerancePx = 1.0;

// Finds the objects of `photo` (CV_8UC3 BGR, upright; CV_8UC1 is taken as grey) and chooses the
// egg. Works on a copy reduced to at most `work_side_px` on its longer side: the ground is modelled
// from the photograph's border (a smooth surface in Lab, robust to objects that cross the border),
// each pixel's colour distance from that ground is thresholded at several levels around Otsu's,
// holes and seams are closed, shadows (darker than the ground with its hue) count little. The
// chosen object is then traced again at full resolution near its reduced outline. Returns no
// candidate for an empty or too small image. An object whose centre lies inside one of
// `not_eggs` (ellipses in the photograph's pixels: a coin or disc read as the scale) is known not
// to be the egg: its score is 0. With `trace_all`, every candidate that is not cut by the border
// and not long and thin (a plausible egg, or a few eggs that touch) is traced at full resolution
// too, as a clutch of eggs needs.
Segmentation segment_photograph(const cv::Mat& photo, int work_side_px = 640,
                                const std::vector<cv::RotatedRect>& not_eggs = {},
                                bool trace_all = false);

}  // namespace meravel
