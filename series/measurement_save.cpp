#include "series/measurement_save.h"

#include <sys/stat.h>

#include <algorithm>

#include "series/file_overview.h"
#include "series/records_check.h"
#include "series/records_journal.h"
#include "series/scale_file.h"

namespace meravel {

PlannedAppend details_row_append(const std::string& path, const std::string& row) {
  return {path, [row](const LockedFileEnd& end) {
            std::string bytes;
            if (!end.ends_with_line_break) bytes += '\n';
            if (end.size == 0) bytes += format_details_header();
            return bytes + row;
          }};
}

namespace {

AppendOutcome refused(const std::string& reason, const std::string& file) {
  AppendOutcome outcome;
  outcome.reason = reason;
  outcome.failure = reason + " (" + file + "). Nothing was saved.";
  return outcome;
}

}  // namespace

AppendOutcome save_measurement_with_details(const std::string& series_directory,
                                            const CaptureDate& capture_date, double lambda,
                                            DetailsRecord details, std::ostream& out,
                                            const MeasuringClock& clock, FileOperations& operations,
                                            SaveIf condition) {
  RecordsJournal journal(operations);
  const std::string opened = journal.open(series_directory);
  if (!opened.empty()) return refused(opened, kRecordsJournalFileName);
  const RecordFilesCheck check = check_record_files(series_directory);
  if (!check.problem.empty()) {
    const std::string what = check.problem.substr(check.problem_file.size() + 2);
    return refused("ERROR checking file: " + what, check.problem_file);
  }
  if (condition.records_at_start &&
      std::count(check.measured_names.begin(), check.measured_names.end(), details.file) !=
          *condition.records_at_start) {
    AppendOutcome outcome;
    outcome.already_measured = true;
    return outcome;
  }
  if (check.details_header_is_older) {
    const std::string migrated = migrate_details_header(series_directory);
    if (!migrated.empty()) return refused(migrated, kDetailsFileName);
  }

  const std::string image_path = series_directory + "/" + details.file;
  const std::tm measuring_time = clock();
  report_missing_capture_date(capture_date, image_path, out);

  if (details.scale_method.empty()) {
    const ScaleFile scale_file = read_scale_file(series_directory + "/" + kScaleFileName);
    if (!scale_file.problem.empty()) out << scale_file.problem << std::endl;
    set_details_scale(details, scale_for_photograph(scale_file.rows, details.file));
  } else {
    set_details_scale(details, {});  // the record's own scale
  }
  details.capture_date = capture_date.text;
  details.capture_date_original = capture_date.original_text;
  details.measured_at = measuring_time;

  const std::string record = format_measures_record(details.file, capture_date.text, measuring_time,
                                                    lambda, details.energy_px);
  const std::string begun = journal.begin({kMeasuresFileName, kDetailsFileName});
  if (!begun.empty()) return refused(begun, kRecordsJournalFileName);
  AppendOutcome outcome = append_durably(
      {measures_record_append(series_directory + "/" + kMeasuresFileName, record),
       details_row_append(series_directory + "/" + kDetailsFileName, format_details_row(details))},
      operations);
  // A roll-back that failed leaves the sizes in the journal: the next save takes the rest back.
  if (outcome.file_left_changed) return outcome;
  const std::string committed = journal.commit();
  if (!committed.empty() && outcome.saved) {
    outcome = refused(committed, kRecordsJournalFileName);
    outcome.failure = committed + " (" + std::string(kRecordsJournalFileName) +
                      "): the record is taken back at the next save.";
  }
  return outcome;
}

std::vector<std::string> take_back_unfinished_save(const std::string& series_directory,
                                                   std::string* problem,
                                                   FileOperations& operations) {
  struct stat status {};
  const std::string journal_path = series_directory + "/" + kRecordsJournalFileName;
  if (operations.stat(journal_path.c_str(), &status) != 0 || status.st_size == 0) return {};
  RecordsJournal journal(operations);
  const std::string opened = journal.open(series_directory);
  if (!opened.empty() && problem) *problem = std::string(kRecordsJournalFileName) + ": " + opened;
  return journal.rolled_back();
}

SeriesRecords open_series_records(const std::string& series_directory, FileOperations& operations) {
  SeriesRecords records;
  records.rolled_back = take_back_unfinished_save(series_directory, &records.problem, operations);
  if (records.problem.empty()) records.problem = check_record_files(series_directory).problem;
  return records;
}

}  // namespace meravel
