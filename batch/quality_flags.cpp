#include "batch/quality_flags.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "fit/fit_warnings.h"

const char kFarAboveMedianWarning[] = "energy far above the series' median";

std::vector<std::string> fit_warnings(const FitTarget& target, const ModelParameters& model,
                                      const CutOffs& cut_offs, double energy) {
  // The checks are the session's own (fit_warnings.h), so that a batch run flags what the Output
  // window warns of; a batch run starts every fit from the session's start rotation.
  return warning_phrases(fit_warnings(target, model, cut_offs, energy, kStartRotation));
}

std::vector<std::string> warning_phrases(const FitWarnings& found) {
  std::vector<std::string> warnings;
  if (found.outline_is_image_frame) {
    warnings.push_back("the outline is the image frame");
  } else if (found.outline_touches_frame) {
    warnings.push_back("the outline touches the frame");
  }
  if (found.energy_too_high) {
    std::ostringstream text;
    text << "energy above " << kWarningEnergyPx << " px";
    warnings.push_back(text.str());
  }
  if (found.model_reaches_border) warnings.push_back("the model reaches the border");
  if (found.top_far_from_reference) {
    warnings.push_back("the top is more than 90 degrees from the start rotation's");
  }
  const std::vector<FitWarningKind>& kinds = fit_warning_kinds();
  for (size_t k = kLeadingWarningKinds; k < kinds.size(); ++k) {
    if (found.*kinds[k].flag) warnings.push_back(kinds[k].short_name);
  }
  return warnings;
}

std::vector<std::string> warning_short_names(const FitWarnings& found) {
  std::vector<std::string> names;
  for (const FitWarningKind& kind : fit_warning_kinds()) {
    // The frame stands for the touch, as in the messages.
    if (kind.flag == &FitWarnings::outline_touches_frame && found.outline_is_image_frame) continue;
    if (found.*kind.flag) names.push_back(kind.short_name);
  }
  return names;
}

double median_energy(std::vector<double> energies) {
  energies.erase(
      std::remove_if(energies.begin(), energies.end(), [](double e) { return !std::isfinite(e); }),
      energies.end());
  if (energies.empty()) return 0.0;
  const size_t middle = (energies.size() - 1) / 2;
  std::nth_element(energies.begin(), energies.begin() + middle, energies.end());
  return energies[middle];
}

bool far_above_median(double energy, double median) {
  if (!std::isfinite(energy)) return false;  // already above the limit
  return energy > kMedianWarningFactor * median && energy >= median + kMedianWarningMargin;
}
