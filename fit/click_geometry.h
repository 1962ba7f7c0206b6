// The geometry of the session's mouse modes and of its region of interest, as plain functions:
// a click in the shown view to an image pixel (and to a pixel of the whole photograph), key m's top
// and bottom clicks to the model's translation, height and rotation, key s's two corners to a
// region, and a region's frames.
//
// Computing core: no window. Image points have x to the right and y downwards, in pixels of the
// image shown (the photograph cut to its region of interest); clicks may lie outside it.
#pragma once

#include <opencv2/core.hpp>
#include <optional>

namespace meravel {

// The image pixel under a click at `click_in_view` in a view of the image scaled to 800 pixels
// wide (display_fit_width) or 600 high: (trunc(s x), trunc(s y)) with s = W / 800 or H / 600 in
// floating point.
cv::Point image_point_of_click(cv::Point click_in_view, cv::Size image_size,
                               bool display_fit_width);

// The pixel of the whole photograph under that click, for an image that begins at
// `image_origin_in_photo` in the photograph (a cut of it): image_point_of_click moved by the
// origin. Key k's scale is measured in these pixels, so it holds for every view of the photograph.
cv::Point photo_point_of_click(cv::Point click_in_view, cv::Size image_size, bool display_fit_width,
                               cv::Point image_origin_in_photo);

// What key m's two clicks set.
struct TopBottomPlacement {
  int translation_x = 0;  // the midpoint, top + (bottom - top) / 2 in integers
  int translation_y = 0;
  int height = 0;  // trunc of the distance between the clicks
  // Degrees of the top-to-bottom direction, 0 down, 90 left, 180 up, 270 right (0..360):
  // trunc(3 pi/2 + a) when the bottom lies right of the top, trunc(pi/2 - a) otherwise, with
  // a = asin(dy / height). None when both clicks fall on one pixel (no direction).
  std::optional<int> rotation;
};
TopBottomPlacement placement_from_top_and_bottom(cv::Point top, cv::Point bottom);

// The region between key s's two corners, in either order, in pixels of the image clicked on:
// the smaller x and y, and the differences (0 where the corners share a column or a row).
cv::Rect region_between_corners(cv::Point first, cv::Point second);

// Whether `region` lies inside an image of `image_size`: no negative value, and its right and
// bottom edges within the image (a region of width or height 0 fits wherever its corner does).
bool region_fits(const cv::Rect& region, cv::Size image_size);

// A region given in pixels of an image that begins at `image_origin_in_photo` in the whole
// photograph (a cut of it), in pixels of the photograph.
cv::Rect region_in_photo(const cv::Rect& region_in_image, cv::Point image_origin_in_photo);

}  // namespace meravel
