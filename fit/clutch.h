// Every egg of a clutch photographed at once: the segmentation's candidates that are plausible
// eggs, eggs that touch separated from each other, in a stable order.
//
// Computing core: opencv_core and opencv_imgproc only, no window. Coordinates are pixels of the
// image segmented (x to the right, y downwards).
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "fit/fit_target.h"
#include "fit/segmentation.h"

namespace meravel {

struct ClutchEgg {
  // A closed chain of pixels traced at full resolution. An egg separated from one it touches
  // ends along the cut between the two, which is no edge of the photograph.
  std::vector<cv::Point> outline;
  double score = 0.0;  // egg-likeness, 0..1 (the segmentation's, or the separated part's)
  // The grey threshold and polarity that separate the egg from the ground next to it.
  int threshold = 131;
  ObjectPolarity polarity = ObjectPolarity::kLightOnDark;
  cv::Point2d centre_px;  // the centroid of the filled outline
  cv::Rect box_px;        // the outline's bounding box
  bool touching = false;  // separated from another egg it touches
  // The points of `outline` along the cut from a touching egg (none for an egg found whole).
  std::vector<cv::Point> cut;
};

struct Clutch {
  // Sorted by centre x, ties by centre y: left to right, then top to bottom.
  std::vector<ClutchEgg> eggs;
  // Objects of an egg's size and shape that the image's border cuts: left out, not measured.
  int cut_by_border = 0;
};

// The position in `eggs` of the egg whose outline holds `point` (its edge included); the smallest
// such egg when outlines nest; -1 when no outline holds it.
int clutch_egg_under(const std::vector<ClutchEgg>& eggs, cv::Point point);

// The eggs among the candidates of `segmentation`, made by segment_photograph(image, ..., true)
// on `image`. A candidate traced at full resolution with a score of at least kPlausibleEggScore
// is an egg, unless it lies on an egg found already (the same object at another level). A traced
// candidate that is no plausible egg is cut along the valleys of its distance transform
// (watershed from the cores of its parts): when two or more parts are each egg-like, they are
// eggs that touch. Nothing found: no eggs.
Clutch find_clutch(const Segmentation& segmentation, cv::Size image_size);

// The parts of the filled `outline` (at least two, each egg-like: near an ellipse, convex, at most
// about twice as long as broad), or none when it is not a few eggs that touch. Each part's
// outline is in the same pixels as `outline`.
std::vector<std::vector<cv::Point>> split_touching_eggs(const std::vector<cv::Point>& outline);

// The points of `part` (an outline cut out of the filled `object`) that lie inside the object,
// off its edge: the cut. Those on the object's own edge are left out.
std::vector<cv::Point> cut_points(const std::vector<cv::Point>& part,
                                  const std::vector<cv::Point>& object);

// How egg-like the filled outline is on its own, 0..1: its overlap with its fitted ellipse, its
// convexity and its elongation, each ramped as the segmentation ramps them.
double egg_shape_score(const std::vector<cv::Point>& outline);

}  // namespace meravel
