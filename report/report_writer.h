// Writes the report of a series: summary.csv, repeatability.csv and report.html into one folder.
// The charts need a QApplication (QT_QPA_PLATFORM=offscreen serves without a display).
#pragma once

#include <string>
#include <vector>

namespace meravel {

// The folder a report goes to unless another is given: "unblinded_report" in the series
// directory, so that its name says what it holds.
std::string default_report_directory(const std::string& series_directory);

// File names inside the report folder.
extern const char kSummaryFileName[];
extern const char kRepeatabilityFileName[];
extern const char kReportPageName[];

// The review tiles of at most this many photographs are drawn; the page counts the others.
constexpr int kMostTiledPhotographs = 60;

struct ReportOutcome {
  bool written = false;            // every file was written
  std::string page;                // the path of report.html
  std::vector<std::string> notes;  // what the report says could not be used
  std::string error;               // when not written: which file failed, and why
};

// Reads the series in `series_directory` and writes its report into `report_directory` (made
// when missing). Each file is replaced whole or not at all. Nothing is written when
// `series_directory` is not a directory.
ReportOutcome write_report(const std::string& series_directory,
                           const std::string& report_directory);

}  // namespace meravel
