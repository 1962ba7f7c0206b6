// Why an automatic fit may need a look by hand: the warnings of one fit, from its target and its
// model, and the series' own check of an energy far above the others.
//
// No window: the command line marks such fits and frames them on the review sheet.
#pragma once

#include <string>
#include <vector>

#include "fit/fit_target.h"
#include "fit/fit_warnings.h"
#include "fit/model.h"

namespace meravel {

// An energy more than this many times the series' median, and at least kMedianWarningMargin
// pixels above it, stands out from the series.
constexpr double kMedianWarningFactor = 3.0;
constexpr double kMedianWarningMargin = 0.25;

// The warnings of a fit of `model` with `cut_offs` against `target`, whose deviation energy is
// `energy` (those of fit_warnings.h against the start rotation), in this order, each a short
// phrase:
//   "the outline is the image frame"    the outline's box spans the whole image inside the
//                                        background frame (a threshold below the ground);
//   "the outline touches the frame"     some outline pixel lies on the image's second row or
//                                        column from an edge: the object is cut by the edge;
//   "energy above 3 px"                 energy above kWarningEnergyPx, or not finite;
//   "the model reaches the border"      a point of the model lies on or beyond the image's edge;
//   "the top is more than 90 degrees from the start rotation's".
// None for a fit without doubt.
std::vector<std::string> fit_warnings(const FitTarget& target, const ModelParameters& model,
                                      const CutOffs& cut_offs, double energy);

// The phrases of `found` (those above, then the short names of the later kinds of the warning
// table, fit_warning_kinds(), in its order).
std::vector<std::string> warning_phrases(const FitWarnings& found);

// The short names of `found` (fit_warning_kinds()' short_name), in the table's order, for a
// review sheet's tile.
std::vector<std::string> warning_short_names(const FitWarnings& found);

// The median of the finite energies (the lower middle one of an even count); 0 when none.
double median_energy(std::vector<double> energies);

// Whether `energy` stands out from a series whose median energy is `median`.
bool far_above_median(double energy, double median);

// For each of a series' energies, in order, whether it stands out from the median of them all
// (median_energy): none does in a series of fewer than three energies.
std::vector<bool> far_above_series_median(const std::vector<double>& energies);

// The phrase for that, as a warning.
extern const char kFarAboveMedianWarning[];

}  // namespace meravel
