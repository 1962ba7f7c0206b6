// What a run is asked to take its scale from (the command line's --scale), and reading it.
#pragma once

#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "scale/scale_reading.h"

namespace meravel {

struct ScaleRequest {
  enum class Kind {
    none,       // no scale read from the photograph
    automatic,  // a marker (when its size is known) if one is found, else a ruler, else none
    ruler,
    marker,
    disc,
    given,  // a number of pixels per millimetre, the same for every photograph
  };
  Kind kind = Kind::none;
  double size_mm = 0.0;    // marker: its side; disc: its diameter; automatic: a marker's side or 0
  double px_per_mm = 0.0;  // given
};

// "auto", "auto:SIZE_MM", "ruler", "marker:SIZE_MM", "disc:DIAMETER_MM" or a number of pixels per
// millimetre ("12.5"); sizes and numbers > 0 with "." as the decimal point. Empty for anything
// else.
std::optional<ScaleRequest> parse_scale_request(std::string_view text);

// The scale `request` asks for, read from `grey` (the whole photograph, upright, CV_8UC1). A given
// scale is returned as it is (method given, no standard error). Automatic: a marker of the known
// size when one is seen, else a ruler; when a marker is seen but no size is known, the note says
// so. Not found: px_per_mm 0 and the note says why.
ScaleReading read_scale(const cv::Mat& grey, const ScaleRequest& request);

// read_scale on a colour photograph (BGR, upright): made grey only when the request reads it.
ScaleReading read_scale_of_photograph(const cv::Mat& photo, const ScaleRequest& request);

// The line for a photograph whose scale was asked for and not found: the values stay in pixels.
std::string scale_not_found_line(const ScaleReading& reading);

}  // namespace meravel
