// Helpers shared by the computing core's sources; not part of the engine's interface.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "fit/fit_W.h"
#include "fit/geometry.h"

namespace meravel {

// Sets the outermost rows and columns of `image` to 0, as the old contour search did before it
// looked at an image.
void clear_outer_frame(cv::Mat& image);

// `source` (8-bit, one, three (BGR) or four (BGRA) channels) as one grey channel; a grey source
// is copied.
void to_grey(const cv::Mat& source, cv::Mat& grey);

// The binary image of find_outline: `source` (8-bit, one, three or four channels) in grey,
// grey > threshold -> 255, else 0; for a dark object on a light ground the grey image is inverted
// first.
void binarise_photograph(const cv::Mat& source, int threshold, cv::Mat& binary,
                         ObjectPolarity polarity = ObjectPolarity::kLightOnDark);

// The contour search of find_outline on its binary image, whose outer pixel frame it clears:
// `contours` receives every contour found, and the one with the most points comes back with its
// box.
Outline largest_outline(cv::Mat& binary, std::vector<std::vector<cv::Point>>& contours);

// rebuild_outline without the distance map: outline_storage, outline_contour and the box fields.
void find_state_outline(FitState& state);

// Index of the contour with the most points, the first of equal ones; -1 when there is none.
int largest_contour_index(const std::vector<std::vector<cv::Point>>& contours);

// Bounding box of `points` clipped to an image of `image_size`; empty when no point lies inside.
// Every pixel a polyline through the points can set on that image lies in this box.
cv::Rect clipped_bounding_box(const std::vector<cv::Point>& points, cv::Size image_size);

// Rasterises the open polyline `half` (value 255, thickness 1, 8-connected) on an image of
// `image_size` and traces it as the old contour search would (outer frame as background, list
// retrieval, every pixel): `chain` receives the contour with the most points, in image
// coordinates. Works on the half's bounding box clipped to the image, in work.trace_buffer. Returns
// false, with `chain` empty, when the drawing leaves no contour.
bool trace_half(EvaluationBuffers& work, const std::vector<cv::Point>& half, cv::Size image_size,
                std::vector<cv::Point>& chain);

}  // namespace meravel
