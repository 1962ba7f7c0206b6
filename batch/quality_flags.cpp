#include "batch/quality_flags.h"

#include <algorithm>
#include <cmath>

#include "fit/fit_warnings.h"

namespace meravel {

const char kFarAboveMedianWarning[] = "energy far above the series' median";

std::vector<std::string> fit_warnings(const FitTarget& target, const ModelParameters& model,
                                      const CutOffs& cut_offs, double energy) {
  // The checks are the session's own (fit_warnings.h), so that a batch run flags what the Output
  // window warns of; a batch run starts every fit from the session's start rotation.
  return warning_phrases(fit_warnings(target, model, cut_offs, energy, kStartRotation));
}

std::vector<std::string> warning_phrases(const FitWarnings& found) {
  std::vector<std::string> warnings;
  for (const FitWarningKind* kind : warnings_to_tell(found)) warnings.push_back(kind->batch_text);
  return warnings;
}

std::vector<std::string> warning_short_names(const FitWarnings& found) {
  std::vector<std::string> names;
  for (const FitWarningKind* kind : warnings_to_tell(found)) names.push_back(kind->short_name);
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

std::vector<bool> far_above_series_median(const std::vector<double>& energies) {
  std::vector<bool> flagged(energies.size(), false);
  // Two fits give no median to stand out from.
  if (energies.size() < 3) return flagged;
  const double median = median_energy(energies);
  for (size_t i = 0; i < energies.size(); ++i) flagged[i] = far_above_median(energies[i], median);
  return flagged;
}

}  // namespace meravel
