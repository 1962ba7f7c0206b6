// Parts of the scale readers exposed for tests.
#pragma once

#include <vector>

#include "scale/scale_reading.h"

namespace meravel {

// The ruler read from one profile along it (grey levels, one sample per pixel): px_per_mm is the
// tick spacing in samples, `ticks` hold the tick centres as (sample, 0).
ScaleReading read_ruler_profile(const std::vector<double>& profile);

}  // namespace meravel
