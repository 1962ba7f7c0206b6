#include "fit/click_geometry.h"

bool region_fits(const cv::Rect& region, cv::Size image_size) {
  if (region.x < 0 || region.y < 0 || region.width < 0 || region.height < 0) return false;
  const long long right = static_cast<long long>(region.x) + region.width;
  const long long bottom = static_cast<long long>(region.y) + region.height;
  return right <= image_size.width && bottom <= image_size.height;
}
