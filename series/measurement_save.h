// Saving an accepted measurement: its line in measures.csv and its row in measures_details.csv in
// one save, so that the two files always hold the same measurements in the same order.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "series/details_file.h"
#include "series/durable_append.h"
#include "series/exif_date.h"
#include "series/file_operations.h"
#include "series/measures_file.h"

namespace meravel {

// The details file's part of a save: `row`, preceded by a line break when the file does not end
// with one and by the header when the file is empty (or missing) while the save holds its lock.
PlannedAppend details_row_append(const std::string& path, const std::string& row);

// Saves `details` (its file, model values and so on set, see details_record_of in
// measurement/session_record.h) in the series directory:
//  - the measures line is that of save_measurement (measures_file.h) for `lambda` (the session's
//    lambda, lambda_milli / 1000) and the record's energy;
//  - the measuring time is taken once from `clock` and goes into both files;
//  - both capture dates come from `capture_date` (read from the photograph's bytes); without the
//    IFD 0 date the lines measures.csv's save always wrote go to `out`;
//  - the scale is the one scale.csv holds for the photograph (scale_for_photograph); a scale file
//    that cannot be used writes its one line to `out`, and the row gets no millimetres; a record
//    whose scale_method is set (a scale read, given or carried) keeps its own and scale.csv is
//    not read;
//  - the dimensions are the record's, from its model values (details_record_of); the scale is
//    set here (set_details_scale);
//  - the measures line and the details row are appended by one append_durably, the measures file
//    first: either both files gain their record, or neither changes. On failure the outcome's line
//    (not yet written) names the file that could not be written.
//  - the whole save holds the lock of the records journal (records_journal.h): a save cut short
//    earlier is taken back first, then both files are checked (check_record_files) and a problem
//    refuses the save with the file's name and what is wrong, writing nothing; a details file
//    with an earlier version's header gets the present one first (migrate_details_header); the
//    sizes of both files are in the synced journal before the first byte is appended;
//  - with SaveIf::records_unchanged(N), a photograph that measures.csv lists other than N times
//    when the lock is held (another run saved it meanwhile) is not saved again: the outcome is
//    already_measured, not saved, and nothing is written. N is what the caller counted when it
//    decided to measure the photograph: 0 for one not measured yet, more for one whose records
//    were all withdrawn or whose last one was flagged.
struct SaveIf {
  std::optional<int> records_at_start;  // none: the save is always made (the window's ENTER)

  static SaveIf always() { return {}; }
  static SaveIf records_unchanged(int records) { return {records}; }
};
AppendOutcome save_measurement_with_details(const std::string& series_directory,
                                            const CaptureDate& capture_date, double lambda,
                                            DetailsRecord details, std::ostream& out,
                                            const MeasuringClock& clock = local_measuring_time,
                                            FileOperations& operations = posix_file_operations(),
                                            SaveIf condition = SaveIf::always());

// What the start of work on a series finds in its record files.
struct SeriesRecords {
  std::vector<std::string> rolled_back;  // files cut back to take back a save cut short
  std::string problem;  // as check_record_files gives it; empty when a save may append
};

// Under the journal's lock, takes back a save that was cut short; returns the files cut back. A
// directory without a journal (or with an empty one) has nothing to take back, and none is made.
// A journal that cannot be opened sets `problem`, when given.
std::vector<std::string> take_back_unfinished_save(
    const std::string& series_directory, std::string* problem = nullptr,
    FileOperations& operations = posix_file_operations());

// At the start of a batch run: takes back a save that was cut short (take_back_unfinished_save)
// and checks both record files, as the next save would.
SeriesRecords open_series_records(const std::string& series_directory,
                                  FileOperations& operations = posix_file_operations());

}  // namespace meravel
