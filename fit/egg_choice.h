// Several eggs in one photograph: the plausible eggs among the automatic segmentation's candidates,
// numbered in a stable order, the one under a point, and any one of them made the measured object.
//
// Computing core: plain values, no window. Coordinates are pixels of the image segmented (x to the
// right, y downwards).
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "fit/segmentation.h"

namespace meravel {

// One plausible egg of a segmentation.
struct NumberedEgg {
  int candidate = -1;  // its index in Segmentation::candidates
  cv::Point2d centre;  // the centroid of the area its outline encloses
  cv::Rect box;        // the bounding box of its outline
};

// The candidates scored as plausible eggs (kPlausibleEggScore and above), numbered left to right
// and then top to bottom: ordered by the centre's x, ties by its y. Egg number n is element n - 1.
std::vector<NumberedEgg> numbered_eggs(const Segmentation& segmentation);

// The position in `eggs` of the egg whose outline holds `point` (its edge included); the smallest
// such egg when outlines nest; -1 when no outline holds it.
int egg_under(const std::vector<NumberedEgg>& eggs, const Segmentation& segmentation,
              cv::Point point);

// The segmentation of `image` (the one `found` was made on) with candidate `candidate` of `found`
// as the chosen object, outlined at full resolution with its own threshold and polarity: the image
// is segmented again with the candidates that scored better than it known not to be the egg
// (their fitted ellipses, as for a disc), so that it becomes the best. When that finds another
// object (an ellipse of a better candidate covers it), its outline as found, and the threshold and
// polarity of `found`, are taken instead. `found` itself when the candidate is already the chosen
// one; not found() for an index out of range.
Segmentation segmentation_choosing(const cv::Mat& image, const Segmentation& found, int candidate,
                                   int work_side_px = 640);

// The position of the next egg after `current` (wrapping round) whose `saved` is false; -1 when
// every egg is saved.
int next_unsaved_egg(const std::vector<bool>& saved, int current);

}  // namespace meravel
