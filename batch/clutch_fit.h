// Every egg of a clutch in one photograph measured with no window, each its own fit: the
// photograph is decoded and segmented once, and each egg fitted on the region around it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "batch/photograph_fit.h"

namespace meravel {

struct ClutchPhotographFit {
  // Empty when the photograph was segmented; otherwise the one line saying why not (it cannot be
  // loaded, no egg was found).
  std::string failure;
  // One fit per egg, in the clutch's order (left to right by centre x, ties top to bottom); an
  // egg that could not be measured has its failure set and its place filled.
  std::vector<PhotographFit> eggs;
  int cut_by_border = 0;  // objects of an egg's size cut by the border, left out
};

// Loads the photograph at `path` as fit_photograph does, reads the scale as `scale` asks, finds
// every egg in it (or in the start's region) with find_clutch, and measures each as
// fit_photograph measures the egg it chose: from `start`, on the region around the egg (its
// bounding box with a margin of a fifth of its longer side, inside the photograph), with the
// egg's outline, threshold and polarity. An egg that touches another carries the egg_touching
// warning. Each egg's fit holds the photograph's scale and capture date.
ClutchPhotographFit fit_clutch_photograph(const std::string& path, const SessionStart& start,
                                          bool with_review_picture, std::ostream& errors,
                                          const ScaleRequest& scale = {});

}  // namespace meravel
