// Text forms of the comma-separated files the program keeps beside measures.csv (scale.csv and
// measures_details.csv): fields quoted as RFC 4180 says, numbers with "." whatever the locale, and
// times in ISO 8601 with their offset from UTC. measures.csv itself keeps its own form
// (measures_file.h).
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace meravel {

// One field: as it is, or in double quotes with every quote doubled when it holds a comma, a
// quote, a CR or a LF ("a,b" -> "\"a,b\"", "say \"hi\"" -> "\"say \"\"hi\"\"\"").
std::string csv_field(std::string_view text);

// The fields, each through csv_field, joined by commas and ended by "\n".
std::string csv_record(const std::vector<std::string>& fields);

struct CsvRecord {
  std::vector<std::string> fields;
  int line = 0;  // the line the record starts on, from 1
};

struct CsvText {
  std::vector<CsvRecord> records;
  // Empty when the whole text was read; otherwise what is wrong and the line where it is, and
  // `records` holds the records before it.
  std::string problem;
  int problem_line = 0;
};

// Splits a file's text into records. Records end at LF or CRLF, fields are separated by commas; a
// field that starts with a quote runs to the closing quote and may hold commas, doubled quotes and
// line breaks. Empty lines hold no record. A quote that is not closed, text after a closing quote
// and a quote inside an unquoted field are problems.
CsvText parse_csv(std::string_view text);

// The shortest text that reads back as exactly the same double: "0.1", "56.25", "8", "1e+20";
// "inf", "-inf" and "nan" for those values.
std::string round_trip_number(double value);

// Like printf's %.Ng for N = significant_digits (1..17), always with ".": "56.25", "1.23457e+10".
std::string number_with_digits(double value, int significant_digits);

// A number as round_trip_number and number_with_digits write it: an optional "-", digits with at
// most one ".", an optional exponent; nothing before or after it, no "inf" or "nan". Empty for
// anything else, and for a value beyond the range of a double.
std::optional<double> parse_number(std::string_view text);

// "2026-12-10T09:14:27+01:00": a local time (as localtime_r fills it, tm_gmtoff included) with its
// offset from UTC, "+00:00" for UTC itself.
std::string iso8601_time(const std::tm& local_time);

// Whether `text` has exactly that form (YYYY-MM-DDThh:mm:ss and +hh:mm, -hh:mm or Z), with the
// date and time parts in their ranges.
bool is_iso8601_time(std::string_view text);

}  // namespace meravel
