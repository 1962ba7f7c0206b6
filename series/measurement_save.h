// Saving an accepted measurement: its line in measures.csv and its row in measures_details.csv in
// one save, so that the two files always hold the same measurements in the same order.
#pragma once

#include <ostream>
#include <string>

#include "fit/session_contract.h"
#include "series/details_file.h"
#include "series/durable_append.h"
#include "series/exif_date.h"
#include "series/file_operations.h"
#include "series/measures_file.h"

// The details row of an accepted session's `result` for the photograph `name` (relative to the
// series directory): the six model values, lambda and energy, threshold, the region, the cut-offs,
// the whole photograph's size and the session's keys. The region is the image the fit was made on
// in pixels of the whole photograph: the session's region, or the whole photograph when it had
// none (the model's translation counts from that region's corner). Capture dates, measuring time,
// dimensions and scale are the save's part (save_measurement_with_details).
// The polarity and the warnings are the session's, and so is a scale key c found or key y carried
// over (its method, value, standard error and source; scale.csv is then not read).
DetailsRecord details_record_of(const SessionResult& result, const std::string& name);

// The details file's part of a save: `row`, preceded by a line break when the file does not end
// with one and by the header when the file is empty (or missing) while the save holds its lock.
PlannedAppend details_row_append(const std::string& path, const std::string& row);

// Saves `details` (its file, model values and so on set, see details_record_of) in the series
// directory:
//  - the measures line is that of save_measurement (measures_file.h) for `lambda` (the session's
//    lambda, lambda_milli / 1000) and the record's energy;
//  - the measuring time is taken once from `clock` and goes into both files;
//  - both capture dates come from `capture_date` (read from the photograph's bytes); without the
//    IFD 0 date the lines measures.csv's save always wrote go to `out`;
//  - the scale is the one scale.csv holds for the photograph (scale_for_photograph); a scale file
//    that cannot be used writes its one line to `out`, and the row gets no millimetres; a record
//    whose scale_method is set (a scale read, given or carried) keeps its own and scale.csv is
//    not read;
//  - the dimensions follow from the model values (set_details_dimensions);
//  - the measures line and the details row are appended by one append_durably, the measures file
//    first: either both files gain their record, or neither changes. On failure the outcome's line
//    (not yet written) names the file that could not be written.
AppendOutcome save_measurement_with_details(const std::string& series_directory,
                                            const CaptureDate& capture_date, double lambda,
                                            DetailsRecord details, std::ostream& out,
                                            const MeasuringClock& clock = local_measuring_time,
                                            FileOperations& operations = posix_file_operations());
