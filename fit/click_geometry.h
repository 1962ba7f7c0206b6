// The geometry of the session's mouse modes and of its region of interest, as plain functions:
// a click in the shown view to an image pixel, key m's top and bottom clicks to the model's
// translation, height and rotation, key s's two corners to a region, and a region's frames.
//
// Computing core: no window. Image points have x to the right and y downwards, in pixels of the
// image shown (the photograph cut to its region of interest).
#pragma once

#include <opencv2/core.hpp>
#include <optional>

// Whether `region` lies inside an image of `image_size`: no negative value, and its right and
// bottom edges within the image (a region of width or height 0 fits wherever its corner does).
bool region_fits(const cv::Rect& region, cv::Size image_size);
