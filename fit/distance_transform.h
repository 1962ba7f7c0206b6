// The distance map of the outline: OpenCV's two-pass 5x5 chamfer distance, computed faster.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

namespace meravel {

// For each pixel of `binary` (8-bit, one channel), the distance to the nearest zero pixel as
// cv::distanceTransform(binary, distance, cv::DIST_L2, cv::DIST_MASK_5) gives it, bit for bit:
// the chamfer steps 1, 1.4 and 2.1969 in 16.16 fixed point, summed over the shortest path of
// steps, converted to float. Pixels outside the image never count as zero; an image without a
// zero pixel gets OpenCV's "far" value everywhere. `distance` becomes CV_32FC1 of the same size
// (reallocated only when its size or type differs). The work memory is a few rows, not a second
// full-size image as in OpenCV.
void chamfer_distance_5x5(const cv::Mat& binary, cv::Mat& distance);

// The distances chamfer_distance_5x5 gives at the pixels `points`, in their order, for an image
// whose zero pixels are `zeros` (any order), without making the map: each is the shortest chamfer
// path to the nearest zero pixel, in the same fixed point, converted to float the same way. Meant
// for a chain of neighbouring pixels (such as a traced curve), whose nearest zeros change slowly.
// Gives up, returning false with `distances` unspecified, once the work passes `budget` distance
// evaluations, as it may when many zeros lie nearly as far as the nearest one (a chain near the
// centre of a circular outline): the map is then the quicker way.
bool chamfer_distances_at(const std::vector<cv::Point>& zeros, const std::vector<cv::Point>& points,
                          std::vector<float>& distances, long long budget);

}  // namespace meravel
