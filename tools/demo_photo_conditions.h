// Realistic photographs of one egg with an exact answer: the egg is the W-curve object of
// DemoObject (its edge the true curve, anti-aliased), and around it the conditions that real
// photographs bring: shading, shadows, coloured and patterned shells and grounds, glare, and other
// objects that are no egg. For tests and benchmarks of finding the egg.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "tools/demo_photo.h"

namespace meravel {

enum class DemoCondition {
  kClean,            // a cream egg on a dark, evenly lit ground
  kShading,          // vignetting and a strong gradient of light across the ground and the egg
  kCastShadow,       // a soft shadow beside the egg on a light grey card
  kSpeckledShell,    // dark speckles all over the shell
  kBrownOnPaper,     // a brown egg on white paper
  kBlueGreenOnGrey,  // a blue-green shell on a mid-grey card, close to it in grey
  kGlare,            // a small saturated glare spot beside the egg and a highlight on it
  kRuler,            // a light ruler with ticks, longer than the egg
  kLargeCard,        // a white card larger than the egg
  kHand,             // a dark hand-like shape entering from the border
  kCloth,            // coloured, woven cloth as the ground
  kJpegNoise,        // strong sensor noise and heavy JPEG compression
};

struct DemoConditionInfo {
  DemoCondition condition;
  const char* name;  // lower_case, for tables and file names
};

// Every condition, in the order above.
extern const std::vector<DemoConditionInfo> kDemoConditions;

// A typical egg for a photograph of `size_px`: about 45 % of its height long, breadth 0.75 of
// the length, near the centre, with lambda, rotation and position varied by `seed`.
DemoObject demo_condition_egg(cv::Size size_px, unsigned seed);

// Renders `object` in `condition` at `size_px` (CV_8UC3 BGR), deterministic for equal arguments.
// Other objects keep away from the egg; the egg is wholly inside the photograph when `object` is.
cv::Mat render_condition_photo(cv::Size size_px, const DemoObject& object, DemoCondition condition,
                               unsigned seed);

// The egg's coverage of each pixel, 0..1 (CV_32FC1), anti-aliased along the true curve.
cv::Mat egg_coverage(cv::Size size, const DemoObject& object);
// A woven texture on `ground` (CV_32FC3): threads along x and y, each a little lighter or darker
// by up to `depth`.
void weave(cv::Mat& ground, double depth, unsigned seed);

}  // namespace meravel
