// The measures file, "measures.csv" in the series directory: one line per accepted measurement,
//   Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;
// with a header line of those column names when the file starts. Every field, the last one too, is
// followed by ";". The program only ever appends to the file: it never truncates or rewrites it.
#pragma once

#include <ctime>
#include <functional>
#include <ostream>
#include <string>

// The header line, without its line break.
extern const char* const kMeasuresHeader;

// The local time of measuring; tests fix it. By default time() converted by localtime_r().
extern std::function<std::tm()> measuring_clock;

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

struct AppendOutcome {
  bool saved = false;
  std::string failure;  // when not saved: the line to show, e.g. "ERROR opening file"
};

// Appends `record` (one line with its line break) to the measures file at `path` and returns only
// when it is on disk (fsync). Written as one piece, preceded by
//   - a line break, when the file is not empty and does not end with one (edited by hand), so the
//     record does not merge into the last line;
//   - the header line, when `write_header` or the file is missing or empty.
// If the piece cannot be written completely, the bytes written of it are cut off again, so the
// file keeps exactly its earlier content; nothing that was there before is ever changed.
AppendOutcome append_measures_record(const std::string& path, const std::string& record,
                                     bool write_header);

// Whether the file at `path` can be opened for reading now.
bool measures_file_readable(const std::string& path);

// Steps of saving an accepted measurement of `series_directory`/`name`: note whether the measures
// file is readable, take the measuring time, read the capture date (writing "File not readable or
// no EXIF data in file <path>" or "Exif entry not found!" to `out` when there is none, and leaving
// the field empty) and append the record, with the header when the file could not be read before.
// On failure the outcome's line has not been written yet; the caller reports it.
AppendOutcome save_measurement(const std::string& series_directory, const std::string& name,
                               double lambda, double energy, std::ostream& out);
