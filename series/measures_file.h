// The measures file, "measures.csv" in the series directory: one line per accepted measurement,
//   Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;
// with a header line of those column names when the file starts. Every field, the last one too, is
// followed by ";". The program only ever appends to the file; it cuts off only the bytes of a save
// that failed, never anything the file held before.
#pragma once

#include <ctime>
#include <functional>
#include <ostream>
#include <string>

#include "series/durable_append.h"
#include "series/exif_date.h"
#include "series/file_operations.h"

namespace meravel {

// The header line, without its line break.
extern const char* const kMeasuresHeader;

// The local time at which a record is written.
using MeasuringClock = std::function<std::tm()>;

// The real clock: time() converted by localtime_r().
std::tm local_measuring_time();

// "2012-04-02 09:05:03": year without leading zeros, every other part two digits.
std::string format_measuring_date(const std::tm& local_time);

// Like printf's %g with its default precision (six significant digits, no trailing zeros, exponent
// form below 1e-4 and from 1e6, "inf" for infinity), but always with "." as decimal point,
// whatever the locale.
std::string format_measure_number(double value);

// A text from outside the program (the capture date of a photograph) made safe for one field:
// every ";" and every control character (CR, LF, tab, ...) becomes a blank.
std::string measures_field_text(std::string text);

// One record line with its line break. `capture_date` is made safe with measures_field_text;
// `name` is written as is.
std::string format_measures_record(const std::string& name, const std::string& capture_date,
                                   const std::tm& measuring_time, double lambda, double energy);

// The measures file's part of a save: `record` (one line with its line break), preceded by
//   - a line break, when the file does not end with one (its last line was edited by hand), so
//     the record does not merge into that line;
//   - the header line, when the file is empty (or missing) while the save holds its lock: so only
//     one of several instances saving at once writes it, and a file that cannot be read (write
//     only) gets no second header in the middle.
PlannedAppend measures_record_append(const std::string& path, const std::string& record);

// Appends `record` to the measures file at `path` exactly once (append_durably): saved only when
// the record is in the file and on disk; otherwise the file holds exactly its earlier content.
AppendOutcome append_measures_record(const std::string& path, const std::string& record,
                                     FileOperations& operations = posix_file_operations());

// Writes why `date` of the photograph at `image_path` is missing, when it is: "File not readable
// or no EXIF data in file <path>" or "Exif entry not found!", each as one line to `out`.
void report_missing_capture_date(const CaptureDate& date, const std::string& image_path,
                                 std::ostream& out);

// Steps of saving an accepted measurement of `series_directory`/`name` whose photograph gave
// `capture_date` when it was loaded: take the measuring time from `clock`, write "File not
// readable or no EXIF data in file <path>" or "Exif entry not found!" to `out` when there is no
// date (the field stays empty) and append the record. On failure the outcome's line has not been
// written yet; the caller reports it.
AppendOutcome save_measurement(const std::string& series_directory, const std::string& name,
                               const CaptureDate& capture_date, double lambda, double energy,
                               std::ostream& out,
                               const MeasuringClock& clock = local_measuring_time,
                               FileOperations& operations = posix_file_operations());

// The same with the capture date read from the photograph's file now.
AppendOutcome save_measurement(const std::string& series_directory, const std::string& name,
                               double lambda, double energy, std::ostream& out,
                               const MeasuringClock& clock = local_measuring_time,
                               FileOperations& operations = posix_file_operations());

}  // namespace meravel
