// Dimensions of the egg a W-curve describes: the solid of revolution of the continuous curve about
// its axis, from the model values alone (not from the outline).
//
// The curve is the model's formula without truncation and without cut-offs: for the curve
// parameter t, D = (h/2) e^t + e^(-lambda t), offset from the axis x = a / D and depth below the
// top point y = (h^2/2) e^t / D, for t over the whole real line. The cut-offs only choose which
// part of the model is compared with the outline; the egg is the whole curve. Rotation and
// translation place the egg in the photograph and change none of its dimensions.
//
// Part of the computing core: no window, no Qt.
#pragma once

#include <optional>

namespace meravel {

// All lengths in one unit: pixels of the photograph (px, px^2, px^3), or millimetres (mm, mm^2,
// mm^3) after egg_dimensions_in_mm.
struct EggDimensions {
  double length = 0.0;            // along the axis, from the top point to the bottom point
  double breadth = 0.0;           // the largest breadth across the axis
  double breadth_position = 0.0;  // depth of the largest breadth below the top / length, 0..1
  double elongation = 0.0;        // length / breadth
  double volume = 0.0;            // of the solid of revolution about the axis
  double surface = 0.0;           // the area of that solid's surface
};

// The dimensions of the curve with shape exponent `lambda`, horizontal scale `horizontal_scale`
// (a = lambda * width) and height `height_px`, in pixels. Empty when any of the three is not a
// finite number > 0: the curve then has no extent (lambda 0 makes a = 0).
//
// Closed forms, with p = lambda / (1 + lambda), q = 1 / (1 + lambda), K = a (2/h)^p: the depth
// fraction u = y / h runs from 0 to 1 and the offset is x = K u^p (1 - u)^q, so
//   length = h,  breadth = 2 K p^p q^q at u = p,  volume = pi h K^2 B(2p + 1, 2q + 1)
// (B the beta function). For lambda = 1 the curve is the ellipse with semi-axes h/2 along the axis
// and a / sqrt(2h) across it. The surface area has no closed form: it is integrated numerically
// (double-exponential quadrature over the curve parameter, relative error about 1e-12).
std::optional<EggDimensions> egg_dimensions(double lambda, double horizontal_scale,
                                            double height_px);

// The same from the trackbar values: lambda = lambda_milli / 1000, a = lambda * width, h = height.
std::optional<EggDimensions> egg_dimensions_of_model(int lambda_milli, int width, int height);

// `px` converted with a scale of px_per_mm pixels per millimetre (> 0): lengths divided by it,
// the surface by its square and the volume by its cube; position and elongation unchanged.
EggDimensions egg_dimensions_in_mm(const EggDimensions& px, double px_per_mm);

}  // namespace meravel
