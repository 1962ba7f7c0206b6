// The object's edge along an outline, located to a fraction of a pixel in the grey image.
//
// Computing core: opencv_core and opencv_imgproc only.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

namespace meravel {

// One point of the object's edge, in image coordinates (pixel centres at whole numbers, x to the
// right, y downwards).
struct EdgePoint {
  cv::Point2d position;
  cv::Point2d normal;  // unit vector across the edge, from the object (above the threshold) out
  // How blurred the edge is: the standard deviation, px, of the Gaussian that would spread the
  // object's and the background's grey levels with the profile's slope at the crossing.
  double blur = 0.0;
};

// The edge of the object whose border pixels `outline` traces (a closed chain of 8-connected
// pixels, as the contour search gives it) in `image` (CV_8UC1, or CV_8UC3 BGR turned grey as the
// binarisation does): for each outline pixel, the point on the line through it along the outline's
// normal where the grey level, read bilinearly from the image smoothed with a Gaussian of
// 0.8 px, crosses the level halfway between the object's and the background's grey levels there
// (read 3.5 px inside and outside the edge, and taken as the median of 15 neighbouring outline
// pixels). The halfway level puts the point on the object's true edge whatever the threshold and
// the light: the threshold only tells which side is the object (grey above it).
//
// Left out, so that an object cut by the image's edge is described by what is visible: outline
// pixels on the outermost two rows and columns (the outer frame counts as background, so along
// a cut the outline runs there) and every pixel whose profile would reach past the image; also
// pixels where no crossing lies within 2 px of the outline pixel or the contrast is less than a
// third of the outline's median. At most `max_points` points, evenly spread along the outline.
std::vector<EdgePoint> subpixel_edges(const cv::Mat& image, const std::vector<cv::Point>& outline,
                                      int threshold, int max_points = 4000);

}  // namespace meravel
