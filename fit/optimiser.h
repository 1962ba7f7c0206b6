// The optimiser's pattern search: a bounded, greedy search over the six model parameters that
// moves one step at a time and shrinks the step when no move lowers the energy.
//
// Computing core: no window is touched here. The search takes a plain energy function, so it can
// be run against the real deviation energy (fit windows) or any function a test chooses.
#pragma once

#include <functional>
#include <opencv2/core.hpp>
#include <vector>

#include "fit/model.h"

namespace meravel {

// Offsets relative to the search point: 0 for an unmoved parameter, +-step for a moved one.
using Candidate = ParameterVector;

// Energy of a parameter point; lower is better. +inf and NaN never win a comparison.
using EnergyFunction = std::function<double(const ParameterVector&)>;

// Whether `degree` lies strictly inside (low, high); when low > high the interval wraps through
// 360/0 and is (low, 360] together with [0, high). Equal ends give false. Aborts with
// "degree<=360" when degree exceeds 360.
bool angle_in_range(int degree, int low, int high);

// trunc(current) + trunc(offset), with 360 added while negative, then reduced modulo 360: the
// whole-degree rotation a candidate is evaluated at.
int candidate_rotation(double current_rotation, double offset);

// Appends to `candidates`, in order, the plus and then the minus move of every parameter from
// first_parameter to 5 (step = step_fraction x span[k]), each followed at once (depth-first) by
// its extensions with later parameters while depth allows. A move of k != 3 is proposed only when
// it lands strictly inside (low[k], high[k]); a rotation move only when its normalised angle is
// angle_in_range of trunc(low[3]), trunc(high[3]). With depth 1, at most twelve candidates.
void collect_candidates(Candidate offsets, int first_parameter, int depth, double step_fraction,
                        const ParameterVector& current, const ParameterVector& high,
                        const ParameterVector& low, const ParameterVector& span,
                        std::vector<Candidate>& candidates);

// The pattern search from `start` within the bounds (low > high on rotation wraps through 0).
// A parameter with low == high never moves. Evaluates `start` first (rotation as given), then per
// iteration every candidate in list order, taking the first strictly lowest; an iteration without
// improvement divides the step fraction (from 0.5) by 1.6, and the tenth such iteration ends the
// search. Returns the final point: fractional values except rotation, a whole degree in 0..359
// once it has moved.
ParameterVector pattern_search(const ParameterVector& start, const ParameterVector& low,
                               const ParameterVector& high, int combination_depth,
                               const EnergyFunction& energy);

// Search bounds: for every parameter, in parameter order (lambda x 1000, width, height,
// rotation, translation x, translation y), its low and its high end.
struct OptimiserRanges {
  ParameterVector low{};
  ParameterVector high{};
};

// The preset ranges of the session's optimiser keys, over an image of `image_size` (W x H) and
// the model's current values. "Fixed" parameters get low == high == the current value.
// All values (key o): lambda*1000 (200, 6000), width (2W, 20W), height (H/10, 9H/10), rotation
// (270, 90) wrapping through 0, translation (W/5, 4W/5) and (H/5, 4H/5).
OptimiserRanges ranges_all_values(cv::Size image_size);
// Width only (key u, first pass of key p): width (2W, 20W).
OptimiserRanges ranges_width(const ModelParameters& current, cv::Size image_size);
// Lambda and width (key i, second pass of key p): lambda*1000 (900, 1300), width +-20 %.
OptimiserRanges ranges_lambda_width(const ModelParameters& current);
// Fine pass (third pass of key p): every parameter +-5 % of its value, rotation +-5 degrees.
OptimiserRanges ranges_fine(const ModelParameters& current);

}  // namespace meravel
