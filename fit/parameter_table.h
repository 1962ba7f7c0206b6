// The ranges and start values of every whole-number value a fit is set by: the six model values,
// the cut-offs, the binarisation threshold and the Output view's "Show input". The trackbars, the
// command line's checks, the optimiser's bounds and the tests read them here.
//
// Computing core: no window.
#pragma once

#include "fit/height_maximum.h"
#include "fit/model.h"

namespace meravel {

// The values a session starts a photograph from.
inline constexpr int kStartThreshold = 131;
inline constexpr double kStartLambda = 1.1;  // taken in rounded to thousandths
inline constexpr int kStartRotation = 325;   // the model's top up and a little to the left
inline constexpr CutOffs kStartCutOffs{1, 5};
inline constexpr int kStartShowInput = 90;

// The greatest values: lambda x 1000, the width factor per pixel of image width, the cut-offs
// (per cent), the threshold and the rotation (degrees).
inline constexpr int kLambdaMilliMax = 6000;
inline constexpr int kWidthMaxPerImageWidth = 20;
inline constexpr int kCutOffMax = 49;
inline constexpr int kThresholdMax = 250;
inline constexpr int kRotationMax = 360;
inline constexpr int kShowInputMax = 100;

// Which value a row of the table describes.
enum class FitParameter {
  kLambdaMilli,
  kWidth,
  kHeight,
  kRotation,
  kTranslationX,
  kTranslationY,
  kCutOffTop,
  kCutOffBottom,
  kShowInput,
  kThreshold,
};

// One value's range: 0 up to the greatest value, which may depend on the image's W x H (the
// photograph cropped to its region of interest).
struct ParameterRange {
  FitParameter parameter;
  int (*maximum)(int image_width, int image_height);
};

inline constexpr ParameterRange kParameterRanges[] = {
    {FitParameter::kLambdaMilli, [](int, int) { return kLambdaMilliMax; }},
    {FitParameter::kWidth, [](int w, int) { return kWidthMaxPerImageWidth * w; }},
    {FitParameter::kHeight, height_maximum},
    {FitParameter::kRotation, [](int, int) { return kRotationMax; }},
    {FitParameter::kTranslationX, [](int w, int) { return w; }},
    {FitParameter::kTranslationY, [](int, int h) { return h; }},
    {FitParameter::kCutOffTop, [](int, int) { return kCutOffMax; }},
    {FitParameter::kCutOffBottom, [](int, int) { return kCutOffMax; }},
    {FitParameter::kShowInput, [](int, int) { return kShowInputMax; }},
    {FitParameter::kThreshold, [](int, int) { return kThresholdMax; }},
};

// The greatest value of `parameter` on an image of W x H.
inline int parameter_maximum(FitParameter parameter, int image_width, int image_height) {
  return kParameterRanges[static_cast<int>(parameter)].maximum(image_width, image_height);
}

}  // namespace meravel
