#include "fit/height_maximum.h"

#include <cmath>
#include <cstdint>

namespace meravel {

int height_maximum(int image_width, int image_height) {
  const std::int64_t squares = static_cast<std::int64_t>(image_width) * image_width +
                               static_cast<std::int64_t>(image_height) * image_height;
  // The square root in doubles, corrected in integers so that a whole diagonal stays whole.
  std::int64_t length = static_cast<std::int64_t>(std::sqrt(static_cast<double>(squares)));
  while (length * length < squares) ++length;
  while (length > 0 && (length - 1) * (length - 1) >= squares) --length;
  return static_cast<int>(length);
}

}  // namespace meravel
