#include "fit/click_geometry.h"

#include <cmath>

#include "fit/geometry.h"

namespace meravel {

cv::Point image_point_of_click(cv::Point click_in_view, cv::Size image_size,
                               bool display_fit_width) {
  const double scale = display_fit_width ? image_size.width / 800.0 : image_size.height / 600.0;
  return cv::Point(saturating_trunc(scale * click_in_view.x),
                   saturating_trunc(scale * click_in_view.y));
}

cv::Point photo_point_of_click(cv::Point click_in_view, cv::Size image_size, bool display_fit_width,
                               cv::Point image_origin_in_photo) {
  return image_point_of_click(click_in_view, image_size, display_fit_width) + image_origin_in_photo;
}

TopBottomPlacement placement_from_top_and_bottom(cv::Point top, cv::Point bottom) {
  const int dx = bottom.x - top.x;
  const int dy = bottom.y - top.y;
  TopBottomPlacement placement;
  placement.translation_x = top.x + dx / 2;
  placement.translation_y = top.y + dy / 2;
  // The squares are summed in integers, wide enough for any two clicks.
  placement.height = static_cast<int>(std::sqrt(
      static_cast<double>(static_cast<long long>(dx) * dx + static_cast<long long>(dy) * dy)));
  if (placement.height > 0) {
    // |dy| is a whole number no larger than the distance, so no larger than its truncation.
    const double a = std::asin(static_cast<double>(dy) / placement.height);
    const double angle = bottom.x > top.x ? 3 * kPi / 2 + a : kPi / 2 - a;
    placement.rotation = static_cast<int>(degrees_from_radians(angle));
  }
  return placement;
}

cv::Rect region_between_corners(cv::Point first, cv::Point second) {
  cv::Rect region(first.x, first.y, 0, 0);
  if (second.x < first.x) {
    region.width = first.x - second.x;
    region.x = second.x;
  } else if (second.x > first.x) {
    region.width = second.x - first.x;
  }
  if (second.y < first.y) {
    region.height = first.y - second.y;
    region.y = second.y;
  } else if (second.y > first.y) {
    region.height = second.y - first.y;
  }
  return region;
}

bool region_fits(const cv::Rect& region, cv::Size image_size) {
  if (region.x < 0 || region.y < 0 || region.width < 0 || region.height < 0) return false;
  const long long right = static_cast<long long>(region.x) + region.width;
  const long long bottom = static_cast<long long>(region.y) + region.height;
  return right <= image_size.width && bottom <= image_size.height;
}

cv::Rect region_in_photo(const cv::Rect& region_in_image, cv::Point image_origin_in_photo) {
  return cv::Rect(region_in_image.tl() + image_origin_in_photo, region_in_image.size());
}

}  // namespace meravel
