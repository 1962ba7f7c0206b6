#include "fit/settled_iterates.h"

#include <cmath>

namespace meravel {

bool iterates_settled(const std::vector<std::array<double, 6>>& last_iterates,
                      const std::array<double, 6>& standard_error) {
  if (last_iterates.size() < static_cast<size_t>(kSettledIterates)) return false;
  for (const double error : standard_error) {
    if (!(error > 0.0) || !std::isfinite(error)) return false;
  }
  const std::array<double, 6>& last = last_iterates.back();
  for (size_t k = last_iterates.size() - kSettledIterates; k + 1 < last_iterates.size(); ++k) {
    for (int a = 0; a < 6; ++a) {
      if (!(std::fabs(last_iterates[k][a] - last[a]) <= kSettledFraction * standard_error[a]))
        return false;
    }
  }
  return true;
}

}  // namespace meravel
