#include "batch/flagged_records.h"

#include <fstream>
#include <sstream>
#include <vector>

#include "series/csv_text.h"

namespace meravel {

StandingRecords standing_records(const std::string& details_path,
                                 const std::set<std::pair<std::string, int>>& withdrawn) {
  StandingRecords records;
  std::ifstream in(details_path, std::ios::binary);
  if (!in) return records;
  std::ostringstream text;
  text << in.rdbuf();
  const CsvText csv = parse_csv(text.str());
  if (csv.records.empty()) return records;
  const std::vector<std::string>& header = csv.records.front().fields;
  int file_column = -1, flags_column = -1;
  std::vector<int> warn_columns;
  for (size_t c = 0; c < header.size(); ++c) {
    if (header[c] == "file") file_column = static_cast<int>(c);
    if (header[c] == "flags") flags_column = static_cast<int>(c);
    if (header[c].rfind("warn_", 0) == 0) warn_columns.push_back(static_cast<int>(c));
  }
  if (file_column < 0) return records;
  std::map<std::string, int> measurements;
  for (size_t r = 1; r < csv.records.size(); ++r) {
    const std::vector<std::string>& fields = csv.records[r].fields;
    if (static_cast<int>(fields.size()) <= file_column) continue;
    const std::string& file = fields[file_column];
    const int number = ++measurements[file];
    if (withdrawn.count({file, number}) > 0) continue;
    ++records.standing[file];
    bool flagged = flags_column >= 0 && flags_column < static_cast<int>(fields.size()) &&
                   !fields[flags_column].empty();
    for (int c : warn_columns)
      flagged = flagged || (c < static_cast<int>(fields.size()) && fields[c] == "1");
    if (flagged) {
      records.last_flagged.insert(file);
    } else {
      records.last_flagged.erase(file);
    }
  }
  return records;
}

}  // namespace meravel
