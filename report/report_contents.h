// What a report says about a series, computed from its records: the row of each photograph, the
// repeatability of each value, the repeat pairs of lambda and what could not be used. No Qt.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "report/repeatability.h"
#include "report/series_records.h"

namespace meravel {

struct PhotographRow {
  std::string file;
  int egg = 0;
  int position = 0;      // 1-based place in the measuring order, 0 when not known
  int measurements = 0;  // the measurements the figures use
  int withdrawn = 0;
  int failed = 0;
  std::map<std::string, ValueSummary> values;  // over the measurements used
  std::vector<std::string> flags;  // every flag any of its measurements had, once, sorted
  bool disagrees = false;  // some repeat pair of lambda is beyond its errors (or the limits)
  // The measurements used, in measures.csv order; they point into the records given.
  std::vector<const RecordedMeasurement*> used;
};

// Two measurements of one photograph taken one after the other (the later minus the earlier).
struct RepeatPair {
  std::string file;
  int egg = 0;
  double mean = 0.0;
  double difference = 0.0;
  std::optional<double> stated_error;  // sqrt(se1^2 + se2^2), when both rows state one
};

struct ValueRepeatability {
  std::string value;
  std::optional<Repeatability> figures;  // empty with fewer than two repeated photographs
};

struct ReportContents {
  std::vector<std::string> values;                // the kReportValues some used measurement holds
  std::vector<PhotographRow> photographs;         // by place in the measuring order, then name, egg
  std::vector<ValueRepeatability> repeatability;  // per value
  std::vector<RepeatPair> lambda_pairs;
  Agreement lambda_agreement;
  bool egg_column = false;
  bool error_columns = false;
  int records = 0;  // records in measures.csv
  int used = 0;
  int withdrawn = 0;
  int failed = 0;
  int repeated_photographs = 0;  // photographs (eggs) with at least two measurements used
  int photographs_in_order = 0;
  int photographs_not_measured = 0;  // in the order, no record at all
  std::vector<std::string> notes;    // what the reader must know, worst first
};

// A pair's difference is beyond its errors when it exceeds 1.96 times its stated error.
ReportContents report_contents(const SeriesRecords& records);

// summary.csv: one row per photograph (and egg): file[,egg],position,measurements,withdrawn,
// failed, then for each value <value>_mean,_sd,_min,_max, then flags ("; "-separated).
// Comma-separated as the details file, numbers in their shortest exact form, empty for none.
std::string summary_csv(const ReportContents& contents);

// repeatability.csv: one row per value: value,photographs,measurements,icc,icc_lower_95,
// icc_upper_95,f,k0,within_sd,cv_percent,grand_mean.
std::string repeatability_csv(const ReportContents& contents);

}  // namespace meravel
