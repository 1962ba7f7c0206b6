// The Height trackbar's range: a model may be as long as the photograph's diagonal, so that an
// object lying across a photograph that is less high than the object is long can be fitted.
#pragma once

namespace meravel {

// The length of the diagonal of a W x H photograph, rounded up to a whole pixel (W, H >= 0).
int height_maximum(int image_width, int image_height);

}  // namespace meravel
