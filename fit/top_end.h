// The model's two ends along its axis, and the same model seen with its top at the other end.
//
// Computing core: opencv_core only, no window.
#pragma once

#include <opencv2/core.hpp>

#include "fit/model.h"

namespace meravel {

// Where the continuous model's top end (depth 0) and bottom end (depth = height) lie in the
// image: half the height from the translation, along the rotated axis.
cv::Point2d model_top_end(const ModelParameters& model);
cv::Point2d model_bottom_end(const ModelParameters& model);

// The model with its top at the other end: rotation + 180 (wrapped into 0..359), lambda -> 1 /
// lambda (in whole thousandths), and the width that keeps the model's pixel width, so that the
// outline drawn stays (a W-curve seen upside down is the W-curve with 1 / lambda); height and
// translation stay. A model with lambda_milli or height 0 only turns.
ModelParameters flipped_model(const ModelParameters& model);

}  // namespace meravel
