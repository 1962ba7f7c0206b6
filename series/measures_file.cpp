#include "series/measures_file.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "series/exif_date.h"
#include "series/file_overview.h"

namespace meravel {

const char* const kMeasuresHeader = "Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;";

std::tm local_measuring_time() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

std::string format_measuring_date(const std::tm& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

std::string format_measure_number(double value) {
  // to_chars with the general format and a precision is %g in the "C" locale.
  char text[64];
  const std::to_chars_result result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
  return std::string(text, result.ptr);
}

std::string measures_field_text(std::string text) {
  for (char& c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == ';' || byte < 0x20 || byte == 0x7f) c = ' ';
  }
  return text;
}

std::string format_measures_record(const std::string& name, const std::string& capture_date,
                                   const std::tm& measuring_time, double lambda, double energy) {
  return name + ';' + measures_field_text(capture_date) + ';' +
         format_measuring_date(measuring_time) + ';' + format_measure_number(lambda) + ';' +
         format_measure_number(energy) + ";\n";
}

PlannedAppend measures_record_append(const std::string& path, const std::string& record) {
  return {path, [record](const LockedFileEnd& end) {
            std::string bytes;
            if (!end.ends_with_line_break) bytes += '\n';
            if (end.size == 0) bytes += std::string(kMeasuresHeader) + '\n';
            return bytes + record;
          }};
}

AppendOutcome append_measures_record(const std::string& path, const std::string& record,
                                     FileOperations& operations) {
  return append_durably({measures_record_append(path, record)}, operations);
}

void report_missing_capture_date(const CaptureDate& date, const std::string& image_path,
                                 std::ostream& out) {
  if (date.status == CaptureDate::no_exif_data) {
    out << "File not readable or no EXIF data in file " << image_path << std::endl;
  } else if (date.status == CaptureDate::no_entry) {
    out << "Exif entry not found!" << std::endl;
  }
}

AppendOutcome save_measurement(const std::string& series_directory, const std::string& name,
                               const CaptureDate& capture_date, double lambda, double energy,
                               std::ostream& out, const MeasuringClock& clock,
                               FileOperations& operations) {
  const std::string measures_path = series_directory + "/" + kMeasuresFileName;
  const std::string image_path = series_directory + "/" + name;
  const std::tm measuring_time = clock();

  report_missing_capture_date(capture_date, image_path, out);
  const std::string record =
      format_measures_record(name, capture_date.text, measuring_time, lambda, energy);
  return append_measures_record(measures_path, record, operations);
}

AppendOutcome save_measurement(const std::string& series_directory, const std::string& name,
                               double lambda, double energy, std::ostream& out,
                               const MeasuringClock& clock, FileOperations& operations) {
  const CaptureDate date = read_capture_date(series_directory + "/" + name);
  return save_measurement(series_directory, name, date, lambda, energy, out, clock, operations);
}

}  // namespace meravel
