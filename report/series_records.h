// The records of a measured series as the report reads them: measures.csv, the details file
// beside it, the measuring order and the withdrawals, joined into one list of measurements.
//
// Reading never fails: whatever cannot be used is left out and said in `notes`, so that a report
// is still written from what can be read. No Qt, no window.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fit/model.h"
#include "series/series_state.h"
#include "series/withdrawals_file.h"

namespace meravel {

// File name of the withdrawals beside measures.csv: header file,measurement,withdrawn_at,reason,
// one row per withdrawn measurement; `measurement` is the 1-based number of that file's
// measurement in measures.csv order.

// The values the report summarises, in report order; a value enters the report only where some
// row holds it. lambda is the shape as fitted; lambda_pointed_up the same shape with the pointed
// end up, where the details file has that column; the others are the egg's dimensions.
extern const std::vector<std::string> kReportValues;

// A details column holding the stated standard error of a value is named "<value>_se".
std::string error_column_of(const std::string& value);

struct RecordedMeasurement {
  std::string file;
  int egg = 0;     // the egg index of the row, 0 where the rows carry none
  int row = 0;     // 1-based record number in measures.csv
  int number = 0;  // 1-based number of this file's measurement in measures.csv order
  bool withdrawn = false;
  // No measurement: the energy is infinite or not a number, lambda is not a number, or the
  // outline the fit saw was the image frame.
  bool failed = false;
  std::map<std::string, double> values;  // of kReportValues, only those the row holds
  std::map<std::string, double> errors;  // stated standard errors, by value
  std::vector<std::string> flags;        // the warn_ columns set (without "warn_"), the flags text
  // The fit, to draw its review tile; empty without details.
  std::optional<ModelParameters> model;
  CutOffs cut_offs;
  int roi_x_px = 0, roi_y_px = 0, roi_width_px = 0, roi_height_px = 0;
};

struct SeriesRecords {
  std::vector<RecordedMeasurement> measurements;  // in measures.csv order
  std::map<std::string, int> positions;           // file -> 1-based place in the measuring order
  int photographs_in_order = 0;                   // entries of random_order.csv
  bool has_details = false;        // the details file was read and matched at least one record
  bool has_egg_column = false;     // rows carry an egg index
  bool has_error_columns = false;  // some value has a stated error column
  int withdrawals = 0;             // withdrawal rows that matched a measurement
  std::vector<std::string> notes;  // what could not be used, and why
};

// The inputs as texts: empty optionals for files that do not exist. The details rows are matched
// to the measures records by order and file name; rows after the first mismatch are not used.
SeriesRecords parse_series_records(const std::string& measures_text,
                                   const std::optional<std::string>& details_text,
                                   const std::optional<std::string>& withdrawals_text,
                                   const std::vector<SeriesEntry>& order);

// Reads the files of the series in `directory`.
SeriesRecords read_series_records(const std::string& directory);

}  // namespace meravel
