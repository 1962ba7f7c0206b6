// Whether an iterative fit that ran to its cap has settled all the same.
//
// A robust fit's reweighting recomputes its scale from the residuals' median at every step; where
// the median jumps between two neighbouring residuals, the weights and with them the optimum jump
// too, and the iterates can cycle between two points that differ by a few thousandths of a pixel.
// Such a fit has settled: what it wanders by is far below its own uncertainty. A fit that still
// moves by a sizeable part of its errors, in a cycle or a drift, has not.
//
// Computing core: opencv_core only.
#pragma once

#include <array>
#include <vector>

namespace meravel {

// The fraction of a value's standard error within which the last iterates must all lie. Picking
// any of them then adds at most a tenth of the error, 0.5 % of the error's size when added in
// quadrature: no measurement is changed by it.
inline constexpr double kSettledFraction = 0.1;

// How many of the last iterates are compared: a 2-cycle shows in two, and a slow drift of a
// hundredth of an error per step is still told from a cycle in five.
inline constexpr int kSettledIterates = 5;

// True when `last_iterates` (oldest first, the values of the unknowns after each of the last steps)
// holds at least kSettledIterates iterates and the last kSettledIterates of them all lie within
// kSettledFraction * standard_error of the last one, for every unknown. False when any standard
// error is not a positive finite number.
bool iterates_settled(const std::vector<std::array<double, 6>>& last_iterates,
                      const std::array<double, 6>& standard_error);

}  // namespace meravel
