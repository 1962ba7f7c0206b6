// What the file overview shows for a clutch measured egg by egg: one line of measures.csv per egg,
// but one measurement of several eggs for the researcher.
#pragma once

#include <string>
#include <vector>

#include "series/series_state.h"

namespace meravel {

// The details rows of one photograph that belong to clutches measured egg by egg (egg_count > 0).
struct ClutchRecords {
  int rows = 0;          // such rows (one per egg saved)
  int measurements = 0;  // runs over the clutch: rows with egg_index 1
  int eggs = 0;          // egg_count of the last of them
};

// For each entry, its clutch rows in the details file at `details_path`, matched by the file
// column byte for byte. A missing or unreadable file, or one without the egg_count column, gives
// none for every entry (only its first line is read then).
std::vector<ClutchRecords> count_clutch_records(const std::string& details_path,
                                                const std::vector<SeriesEntry>& entries);

// The overview's count of each entry: the lines of measures.csv (`line_counts`), with a clutch's
// rows counted as its measurements; `eggs` gets the last measurement's eggs (0: one egg).
std::vector<int> measurements_with_clutches(const std::vector<int>& line_counts,
                                            const std::vector<ClutchRecords>& clutches,
                                            std::vector<int>* eggs);

}  // namespace meravel
