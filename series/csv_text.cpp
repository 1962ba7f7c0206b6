#include "series/csv_text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace meravel {

std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string csv_record(const std::vector<std::string>& fields) {
  std::string record;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) record += ',';
    record += csv_field(fields[i]);
  }
  record += '\n';
  return record;
}

CsvText parse_csv(std::string_view text) {
  CsvText result;
  int line = 1;
  size_t i = 0;
  const auto fail = [&](const char* problem) {
    result.problem = problem;
    result.problem_line = line;
    return result;
  };
  while (i < text.size()) {
    // An empty line (LF or CRLF alone) holds no record.
    if (text[i] == '\n' || (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
      i += text[i] == '\r' ? 2 : 1;
      ++line;
      continue;
    }
    CsvRecord record;
    record.line = line;
    bool record_done = false;
    while (!record_done) {
      std::string field;
      if (i < text.size() && text[i] == '"') {
        const int opened_on = line;
        ++i;
        bool closed = false;
        while (i < text.size()) {
          const char c = text[i++];
          if (c == '"') {
            if (i < text.size() && text[i] == '"') {
              field += '"';
              ++i;
              continue;
            }
            closed = true;
            break;
          }
          if (c == '\n') ++line;
          field += c;
        }
        if (!closed) {
          line = opened_on;
          return fail("a quoted field is not closed");
        }
      } else {
        while (i < text.size() && text[i] != ',' && text[i] != '\n' &&
               !(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
          if (text[i] == '"') return fail("a quote inside a field that does not start with one");
          field += text[i++];
        }
      }
      record.fields.push_back(std::move(field));
      if (i >= text.size()) {
        record_done = true;
      } else if (text[i] == ',') {
        ++i;
      } else if (text[i] == '\n' ||
                 (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
        i += text[i] == '\r' ? 2 : 1;
        ++line;
        record_done = true;
      } else {
        return fail("text after the closing quote of a field");
      }
    }
    result.records.push_back(std::move(record));
  }
  return result;
}

std::string round_trip_number(double value) {
  char text[64];
  const std::to_chars_result result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string number_with_digits(double value, int significant_digits) {
  char text[64];
  const std::to_chars_result result = std::to_chars(text, text + sizeof text, value,
                                                    std::chars_format::general, significant_digits);
  return std::string(text, result.ptr);
}

std::optional<double> parse_number(std::string_view text) {
  // from_chars also takes "inf", "nan" and "infinity"; the program writes none of them where a
  // number is read back.
  size_t i = text.empty() || text[0] != '-' ? 0 : 1;
  if (i >= text.size() || !(std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.')) {
    return {};
  }
  double value = 0;
  const std::from_chars_result result =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return {};
  return value;
}

std::string iso8601_time(const std::tm& t) {
  const long offset_minutes = t.tm_gmtoff / 60;
  const long magnitude = std::labs(offset_minutes);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                offset_minutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
  return text;
}

bool is_iso8601_time(std::string_view text) {
  // Digits where the pattern has 'd', the characters themselves elsewhere.
  const std::string_view pattern = "dddd-dd-ddTdd:dd:dd";
  if (text.size() < pattern.size() + 1) return false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(text[i]));
    if (pattern[i] == 'd' ? !digit : text[i] != pattern[i]) return false;
  }
  const auto number = [&](size_t at, size_t length) {
    int value = 0;
    for (size_t i = at; i < at + length; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  const int month = number(5, 2), day = number(8, 2);
  if (month < 1 || month > 12 || day < 1 || day > 31 || number(11, 2) > 23 || number(14, 2) > 59 ||
      number(17, 2) > 60) {
    return false;
  }
  const std::string_view zone = text.substr(pattern.size());
  if (zone == "Z") return true;
  return zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') &&
         std::isdigit(static_cast<unsigned char>(zone[1])) &&
         std::isdigit(static_cast<unsigned char>(zone[2])) && zone[3] == ':' &&
         std::isdigit(static_cast<unsigned char>(zone[4])) &&
         std::isdigit(static_cast<unsigned char>(zone[5])) && (zone[4] - '0') < 6;
}

}  // namespace meravel
