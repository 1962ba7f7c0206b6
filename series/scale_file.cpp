#include "series/scale_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "series/csv_text.h"
#include "series/durable_append.h"

namespace meravel {

const char kScaleFileName[] = "scale.csv";
const char kScaleHeader[] = "scope,file,px_per_mm,x1_px,y1_px,x2_px,y2_px,length_mm,set_at";

namespace {

constexpr size_t kFieldCount = 9;
constexpr off_t kLargestScaleFile = 16 << 20;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

const char* scope_name(ScaleScope scope) {
  return scope == ScaleScope::series ? "series" : "photograph";
}

std::string unusable(const std::string& path, int line, const std::string& what) {
  return path + " line " + std::to_string(line) + ": " + what +
         "; no scale is used until the file is repaired";
}

// One data row of the file, or the reason it is not one.
std::optional<ScaleRow> row_of(const std::vector<std::string>& f, std::string* problem) {
  if (f.size() != kFieldCount) {
    *problem =
        "expected " + std::to_string(kFieldCount) + " fields, found " + std::to_string(f.size());
    return {};
  }
  ScaleRow row;
  if (f[0] == "series") {
    row.scope = ScaleScope::series;
  } else if (f[0] == "photograph") {
    row.scope = ScaleScope::photograph;
  } else {
    *problem = "scope \"" + f[0] + "\" is neither series nor photograph";
    return {};
  }
  row.file = f[1];
  if (row.scope == ScaleScope::photograph && row.file.empty()) {
    *problem = "a photograph row without a file";
    return {};
  }
  const char* names[] = {"px_per_mm", "x1_px", "y1_px", "x2_px", "y2_px", "length_mm"};
  double values[6];
  for (int i = 0; i < 6; ++i) {
    const std::optional<double> value = parse_number(f[2 + i]);
    if (!value || !std::isfinite(*value)) {
      *problem = std::string(names[i]) + " \"" + f[2 + i] + "\" is not a number";
      return {};
    }
    values[i] = *value;
  }
  row.px_per_mm = values[0];
  row.first = {values[1], values[2]};
  row.second = {values[3], values[4]};
  row.length_mm = values[5];
  if (!(row.px_per_mm > 0) || !(row.length_mm > 0)) {
    *problem = "px_per_mm and length_mm must be > 0";
    return {};
  }
  // px_per_mm is written from the points and the length, so a value that disagrees with them was
  // changed by hand or damaged; which of them is right cannot be told.
  const std::optional<double> from_points = px_per_mm_from(row.first, row.second, row.length_mm);
  if (!from_points || std::abs(*from_points - row.px_per_mm) > 1e-9 * row.px_per_mm) {
    *problem = "px_per_mm " + f[2] + " does not match the two points and length_mm";
    return {};
  }
  row.set_at = f[8];
  if (!is_iso8601_time(row.set_at)) {
    *problem = "set_at \"" + row.set_at + "\" is not a time like 2026-12-10T09:14:27+01:00";
    return {};
  }
  return row;
}

}  // namespace

std::optional<double> parse_length_mm(std::string_view typed) {
  size_t begin = 0, end = typed.size();
  while (begin < end && is_blank(typed[begin])) ++begin;
  while (end > begin && is_blank(typed[end - 1])) --end;
  std::string number(typed.substr(begin, end - begin));
  int digits = 0, separators = 0;
  for (char& c : number) {
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.' || c == ',') {
      ++separators;
      c = '.';
    } else {
      return {};
    }
  }
  if (digits == 0 || separators > 1) return {};
  const std::optional<double> value = parse_number(number);
  if (!value || !std::isfinite(*value) || !(*value > 0)) return {};
  return value;
}

std::optional<double> px_per_mm_from(PointPx first, PointPx second, double length_mm) {
  const double distance = std::hypot(second.x - first.x, second.y - first.y);
  if (!std::isfinite(distance) || !(distance > 0) || !std::isfinite(length_mm) ||
      !(length_mm > 0)) {
    return {};
  }
  const double px_per_mm = distance / length_mm;
  if (!std::isfinite(px_per_mm) || !(px_per_mm > 0)) return {};
  return px_per_mm;
}

std::optional<ScaleRow> make_scale_row(ScaleScope scope, const std::string& file, PointPx first,
                                       PointPx second, double length_mm,
                                       const std::tm& local_time) {
  const std::optional<double> px_per_mm = px_per_mm_from(first, second, length_mm);
  if (!px_per_mm || (scope == ScaleScope::photograph && file.empty())) return {};
  ScaleRow row;
  row.scope = scope;
  row.file = file;
  row.px_per_mm = *px_per_mm;
  row.first = first;
  row.second = second;
  row.length_mm = length_mm;
  row.set_at = iso8601_time(local_time);
  return row;
}

std::string format_scale_row(const ScaleRow& row) {
  return csv_record({scope_name(row.scope), row.file, round_trip_number(row.px_per_mm),
                     round_trip_number(row.first.x), round_trip_number(row.first.y),
                     round_trip_number(row.second.x), round_trip_number(row.second.y),
                     round_trip_number(row.length_mm), row.set_at});
}

ScaleFile parse_scale_file(std::string_view text, const std::string& path) {
  ScaleFile file;
  // A spreadsheet that saved the file as UTF-8 may have put a byte order mark in front.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const CsvText csv = parse_csv(text);
  if (csv.records.empty() && csv.problem.empty()) return file;  // empty: no scale set yet
  const std::vector<std::string> header = parse_csv(kScaleHeader).records.at(0).fields;
  if (csv.records.empty() || csv.records[0].line != 1 || csv.records[0].fields != header) {
    file.problem = unusable(
        path, 1, std::string("not a scale file (its first line is not ") + kScaleHeader + ")");
    return file;
  }
  for (size_t i = 1; i < csv.records.size(); ++i) {
    std::string problem;
    std::optional<ScaleRow> row = row_of(csv.records[i].fields, &problem);
    if (!row) {
      file.rows.clear();
      file.problem = unusable(path, csv.records[i].line, problem);
      return file;
    }
    file.rows.push_back(std::move(*row));
  }
  if (!csv.problem.empty()) {
    file.rows.clear();
    file.problem = unusable(path, csv.problem_line, csv.problem);
  }
  return file;
}

ScaleFile read_scale_file(const std::string& path) {
  ScaleFile file;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) {
      file.problem = path + " cannot be read (" + std::strerror(errno) + "); no scale is used";
    }
    return file;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > kLargestScaleFile) {
    ::close(fd);
    file.problem = path + " is not a scale file (not a plain file of at most 16 MiB); " +
                   "no scale is used until the file is repaired";
    return file;
  }
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      file.problem = path + " cannot be read (" + std::strerror(errno) + "); no scale is used";
      ::close(fd);
      return file;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > static_cast<size_t>(kLargestScaleFile)) break;  // grew while being read
  }
  ::close(fd);
  return parse_scale_file(text, path);
}

const char* scale_source_name(ScaleSource source) {
  switch (source) {
    case ScaleSource::series:
      return "series";
    case ScaleSource::photograph:
      return "photograph";
    case ScaleSource::none:
      break;
  }
  return "none";
}

ScaleLookup scale_for_photograph(const std::vector<ScaleRow>& rows, const std::string& file) {
  ScaleLookup lookup;
  for (const ScaleRow& row : rows) {
    if (row.scope == ScaleScope::photograph) {
      if (row.file != file) continue;
      lookup.source = ScaleSource::photograph;
      lookup.row = row;
    } else if (lookup.source != ScaleSource::photograph) {
      lookup.source = ScaleSource::series;
      lookup.row = row;
    }
  }
  return lookup;
}

ScaleWriteOutcome append_scale_row(const std::string& path, const ScaleRow& row) {
  ScaleWriteOutcome outcome;
  const ScaleFile existing = read_scale_file(path);
  if (!existing.problem.empty()) {
    outcome.failure = "Scale not saved: " + existing.problem;
    return outcome;
  }
  const std::string text = format_scale_row(row);
  const AppendOutcome appended = append_durably({{path, [text](const LockedFileEnd& end) {
                                                    std::string bytes;
                                                    if (!end.ends_with_line_break) bytes += '\n';
                                                    if (end.size == 0)
                                                      bytes += std::string(kScaleHeader) + '\n';
                                                    return bytes + text;
                                                  }}});
  outcome.saved = appended.saved;
  outcome.failure = appended.failure;
  return outcome;
}

}  // namespace meravel
