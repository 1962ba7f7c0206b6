#include "report/report_contents.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <tuple>

#include "series/csv_text.h"

namespace meravel {

namespace {

constexpr double kNormal975 = 1.959963984540054;

// Empty for no value (NaN); an F of repeats that agree exactly is "inf".
std::string number_or_empty(double value) {
  return std::isnan(value) ? std::string() : round_trip_number(value);
}

using PhotographKey = std::tuple<std::string, int>;

}  // namespace

ReportContents report_contents(const SeriesRecords& records) {
  ReportContents c;
  c.egg_column = records.has_egg_column;
  c.error_columns = records.has_error_columns;
  c.records = static_cast<int>(records.measurements.size());
  c.photographs_in_order = records.photographs_in_order;

  std::map<PhotographKey, PhotographRow> rows;
  std::set<std::string> present;
  for (const RecordedMeasurement& m : records.measurements) {
    const PhotographKey key{m.file, m.egg};
    PhotographRow& row = rows[key];
    row.file = m.file;
    row.egg = m.egg;
    const auto position = records.positions.find(m.file);
    row.position = position == records.positions.end() ? 0 : position->second;
    for (const std::string& flag : m.flags) {
      if (std::find(row.flags.begin(), row.flags.end(), flag) == row.flags.end())
        row.flags.push_back(flag);
    }
    if (m.withdrawn) {
      ++row.withdrawn;
      ++c.withdrawn;
    } else if (m.failed) {
      ++row.failed;
      ++c.failed;
    } else {
      ++row.measurements;
      ++c.used;
      row.used.push_back(&m);
      for (const auto& [value, ignored] : m.values) present.insert(value);
    }
  }
  for (const std::string& value : kReportValues) {
    if (present.count(value)) c.values.push_back(value);
  }

  std::map<std::string, std::vector<std::vector<double>>> groups;
  for (auto& [key, row] : rows) {
    const std::vector<const RecordedMeasurement*>& used = row.used;
    if (used.size() >= 2) ++c.repeated_photographs;
    std::sort(row.flags.begin(), row.flags.end());
    for (const std::string& value : c.values) {
      std::vector<double> values;
      for (const RecordedMeasurement* m : used) {
        if (const auto v = m->values.find(value); v != m->values.end()) values.push_back(v->second);
      }
      row.values[value] = summarise_values(values);
      groups[value].push_back(std::move(values));
    }
    for (size_t i = 1; i < used.size(); ++i) {
      const RecordedMeasurement& earlier = *used[i - 1];
      const RecordedMeasurement& later = *used[i];
      const auto a = earlier.values.find("lambda");
      const auto b = later.values.find("lambda");
      if (a == earlier.values.end() || b == later.values.end()) continue;
      RepeatPair pair{row.file, row.egg, (a->second + b->second) / 2, b->second - a->second, {}};
      const auto ea = earlier.errors.find("lambda");
      const auto eb = later.errors.find("lambda");
      if (ea != earlier.errors.end() && eb != later.errors.end()) {
        pair.stated_error = std::hypot(ea->second, eb->second);
      }
      c.lambda_pairs.push_back(pair);
    }
  }
  for (const std::string& value : c.values) {
    c.repeatability.push_back({value, one_way_icc(groups[value])});
  }
  std::vector<double> differences;
  for (const RepeatPair& pair : c.lambda_pairs) differences.push_back(pair.difference);
  c.lambda_agreement = limits_of_agreement(differences);
  for (const RepeatPair& pair : c.lambda_pairs) {
    const bool beyond =
        pair.stated_error
            ? std::fabs(pair.difference) > kNormal975 * *pair.stated_error
            : c.lambda_agreement.pairs >= 2 && (pair.difference < c.lambda_agreement.lower_limit ||
                                                pair.difference > c.lambda_agreement.upper_limit);
    if (beyond) rows[{pair.file, pair.egg}].disagrees = true;
  }

  for (auto& [key, row] : rows) c.photographs.push_back(std::move(row));
  // Photographs of unknown place come last.
  std::stable_sort(c.photographs.begin(), c.photographs.end(),
                   [](const PhotographRow& a, const PhotographRow& b) {
                     return (a.position == 0 ? INT32_MAX : a.position) <
                            (b.position == 0 ? INT32_MAX : b.position);
                   });
  std::set<std::string> measured;
  for (const RecordedMeasurement& m : records.measurements) measured.insert(m.file);
  for (const auto& [file, position] : records.positions) {
    if (!measured.count(file)) ++c.photographs_not_measured;
  }

  if (c.records == 0) c.notes.push_back("The series has no measurement yet.");
  if (c.records > 0 && c.used == 0) c.notes.push_back("No measurement can be used.");
  if (c.used == 1) c.notes.push_back("The series has one measurement: no SD and no repeatability.");
  if (c.used > 1 && c.repeated_photographs < 2) {
    c.notes.push_back(c.repeated_photographs == 0
                          ? "No photograph was measured twice: no repeatability can be given."
                          : "Only one photograph was measured twice: no repeatability can be "
                            "given.");
  }
  if (c.failed > 0) {
    c.notes.push_back(std::to_string(c.failed) +
                      " failed fit(s) (infinite energy, no lambda or the outline was the image "
                      "frame) are left out of the figures.");
  }
  if (c.withdrawn > 0) {
    c.notes.push_back(std::to_string(c.withdrawn) +
                      " withdrawn measurement(s) are left out of the figures.");
  }
  c.notes.insert(c.notes.end(), records.notes.begin(), records.notes.end());
  return c;
}

std::string summary_csv(const ReportContents& c) {
  std::vector<std::string> header = {"file"};
  if (c.egg_column) header.push_back("egg");
  for (const char* name : {"position", "measurements", "withdrawn", "failed"})
    header.push_back(name);
  for (const std::string& value : c.values) {
    for (const char* statistic : {"_mean", "_sd", "_min", "_max"})
      header.push_back(value + statistic);
  }
  header.push_back("flags");
  std::string text = csv_record(header);
  for (const PhotographRow& row : c.photographs) {
    std::vector<std::string> f = {row.file};
    if (c.egg_column) f.push_back(std::to_string(row.egg));
    f.push_back(row.position > 0 ? std::to_string(row.position) : "");
    f.push_back(std::to_string(row.measurements));
    f.push_back(std::to_string(row.withdrawn));
    f.push_back(std::to_string(row.failed));
    for (const std::string& value : c.values) {
      const ValueSummary& s = row.values.at(value);
      for (double statistic : {s.mean, s.sd, s.min, s.max}) f.push_back(number_or_empty(statistic));
    }
    std::string flags;
    for (const std::string& flag : row.flags) flags += (flags.empty() ? "" : "; ") + flag;
    f.push_back(flags);
    text += csv_record(f);
  }
  return text;
}

std::string repeatability_csv(const ReportContents& c) {
  std::string text =
      csv_record({"value", "photographs", "measurements", "icc", "icc_lower_95", "icc_upper_95",
                  "f", "k0", "within_sd", "cv_percent", "grand_mean"});
  for (const ValueRepeatability& v : c.repeatability) {
    std::vector<std::string> f = {v.value};
    if (v.figures) {
      const Repeatability& r = *v.figures;
      f.push_back(std::to_string(r.photographs));
      f.push_back(std::to_string(r.measurements));
      for (double x :
           {r.icc, r.lower, r.upper, r.f, r.k0, r.within_sd, r.cv_percent, r.grand_mean}) {
        f.push_back(number_or_empty(x));
      }
    } else {
      f.resize(11);
    }
    text += csv_record(f);
  }
  return text;
}

}  // namespace meravel
