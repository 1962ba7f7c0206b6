// The distance map of the outline: OpenCV's two-pass 5x5 chamfer distance, computed faster.
#pragma once

#include <opencv2/core.hpp>

// For each pixel of `binary` (8-bit, one channel), the distance to the nearest zero pixel as
// cv::distanceTransform(binary, distance, cv::DIST_L2, cv::DIST_MASK_5) gives it, bit for bit:
// the chamfer steps 1, 1.4 and 2.1969 in 16.16 fixed point, summed over the shortest path of
// steps, converted to float. Pixels outside the image never count as zero; an image without a
// zero pixel gets OpenCV's "far" value everywhere. `distance` becomes CV_32FC1 of the same size
// (reallocated only when its size or type differs). The work memory is a few rows, not a second
// full-size image as in OpenCV.
void chamfer_distance_5x5(const cv::Mat& binary, cv::Mat& distance);
