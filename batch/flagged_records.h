// Which photographs of a series have a standing measurement and which of those a person should look
// at again: read from the details file and the withdrawals beside measures.csv.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>

namespace meravel {

struct StandingRecords {
  // Per photograph: how many of its measurements are not withdrawn.
  std::map<std::string, int> standing;
  // The photographs whose last standing measurement was flagged (a warn_ column 1 or a flags text).
  std::set<std::string> last_flagged;
};

// Reads the details file at `details_path` (its rows in measures.csv order, the n-th row of a
// photograph being its measurement n) and leaves out the `withdrawn` (file, measurement) pairs.
// A missing or unreadable file gives none.
StandingRecords standing_records(const std::string& details_path,
                                 const std::set<std::pair<std::string, int>>& withdrawn);

}  // namespace meravel
