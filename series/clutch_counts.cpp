#include "series/clutch_counts.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <unordered_map>

#include "series/csv_text.h"

namespace meravel {

std::vector<ClutchRecords> count_clutch_records(const std::string& details_path,
                                                const std::vector<SeriesEntry>& entries) {
  std::vector<ClutchRecords> records(entries.size());
  std::ifstream in(details_path, std::ios::binary);
  std::string header;
  // A series never measured egg by egg costs one line.
  if (!in || !std::getline(in, header) || header.find("egg_count") == std::string::npos)
    return records;
  std::stringstream text;
  text << header << '\n' << in.rdbuf();
  const CsvText csv = parse_csv(text.str());
  if (csv.records.empty()) return records;
  const std::vector<std::string>& names = csv.records[0].fields;
  const auto column = [&](const char* name) {
    return static_cast<size_t>(std::find(names.begin(), names.end(), name) - names.begin());
  };
  const size_t file = column("file"), index = column("egg_index"), count = column("egg_count");
  if (file == names.size() || index == names.size() || count == names.size()) return records;
  std::unordered_map<std::string, size_t> entry_of;
  for (size_t i = 0; i < entries.size(); ++i) entry_of.emplace(entries[i].name, i);
  for (size_t r = 1; r < csv.records.size(); ++r) {
    const std::vector<std::string>& fields = csv.records[r].fields;
    if (fields.size() <= std::max({file, index, count}) || fields[count].empty()) continue;
    const auto found = entry_of.find(fields[file]);
    if (found == entry_of.end()) continue;
    ClutchRecords& clutch = records[found->second];
    ++clutch.rows;
    if (fields[index] == "1") {
      ++clutch.measurements;
      clutch.eggs = std::atoi(fields[count].c_str());
    }
  }
  return records;
}

std::vector<int> measurements_with_clutches(const std::vector<int>& line_counts,
                                            const std::vector<ClutchRecords>& clutches,
                                            std::vector<int>* eggs) {
  std::vector<int> counts = line_counts;
  eggs->assign(line_counts.size(), 0);
  for (size_t i = 0; i < counts.size() && i < clutches.size(); ++i) {
    if (clutches[i].rows == 0) continue;
    // The lines beyond the clutch rows were measured as one object each.
    counts[i] = std::max(0, line_counts[i] - clutches[i].rows) + clutches[i].measurements;
    (*eggs)[i] = clutches[i].eggs;
  }
  return counts;
}

}  // namespace meravel
