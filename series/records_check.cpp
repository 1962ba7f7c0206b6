#include "series/records_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "series/csv_text.h"
#include "series/details_file.h"
#include "series/file_overview.h"
#include "series/measures_file.h"

namespace meravel {

namespace {

// A measures record: the name and four more fields, each ended by ";".
constexpr std::size_t kMeasuresSeparators = 5;

enum class Read { missing, unreadable, read };

Read read_file(const std::string& path, std::string& text) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return Read::missing;
  if (!S_ISREG(status.st_mode)) return Read::unreadable;
  std::ifstream file(path, std::ios::binary);
  if (!file) return Read::unreadable;
  std::ostringstream bytes;
  bytes << file.rdbuf();
  text = bytes.str();
  return Read::read;
}

std::string without_cr(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// The records of measures.csv's text, or the problem with it.
std::string measures_problem(const std::string& text, std::vector<std::string>& names) {
  if (text.empty()) return "";
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(without_cr(line));
  if (lines.front() != kMeasuresHeader) {
    return "its first line is not the header \"" + std::string(kMeasuresHeader) +
           "\": it is no measures file of this program";
  }
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty()) continue;
    std::size_t separators = 0;
    for (char c : line) separators += c == ';';
    // A last line whose line break alone is missing (edited by hand) is whole: its last field
    // ends with ";". One cut off anywhere else lacks fields.
    if (separators != kMeasuresSeparators || line.back() != ';') {
      return "line " + std::to_string(i + 1) + " is not a whole record (" +
             std::to_string(separators) + " of its " + std::to_string(kMeasuresSeparators) +
             " fields)";
    }
    names.push_back(line.substr(0, line.find(';')));
  }
  return "";
}

bool is_leading_part(const std::vector<std::string>& header) {
  if (header.empty() || header.size() > kDetailsColumns.size()) return false;
  for (std::size_t i = 0; i < header.size(); ++i) {
    if (header[i] != kDetailsColumns[i]) return false;
  }
  return true;
}

std::string details_problem(const std::string& text, std::vector<std::string>& names, bool& older) {
  if (text.empty()) return "";
  const CsvText csv = parse_csv(text);
  if (!csv.problem.empty()) {
    return "it cannot be read from line " + std::to_string(csv.problem_line) + " on (" +
           csv.problem + "): it was cut off or edited";
  }
  if (csv.records.empty()) return "";
  const std::vector<std::string>& header = csv.records.front().fields;
  if (!is_leading_part(header)) {
    return "its header is not the column list of this program's details file";
  }
  older = header.size() < kDetailsColumns.size();
  // A row cut off lacks fields (or its quote's end, above).
  for (std::size_t i = 1; i < csv.records.size(); ++i) {
    const CsvRecord& record = csv.records[i];
    if (record.fields.size() != header.size()) {
      return "the row on line " + std::to_string(record.line) + " has " +
             std::to_string(record.fields.size()) + " fields instead of " +
             std::to_string(header.size());
    }
    names.push_back(record.fields.front());
  }
  return "";
}

}  // namespace

RecordFilesCheck check_record_files(const std::string& directory) {
  RecordFilesCheck check;
  std::string measures_text;
  std::string details_text;
  const Read measures = read_file(directory + "/" + kMeasuresFileName, measures_text);
  const Read details = read_file(directory + "/" + kDetailsFileName, details_text);

  std::vector<std::string> measures_names;
  std::vector<std::string> details_names;
  const auto refuse = [&](const char* file, const std::string& problem) {
    check.problem_file = file;
    check.problem = std::string(file) + ": " + problem;
    return check;
  };
  if (measures == Read::read) {
    const std::string problem = measures_problem(measures_text, measures_names);
    if (!problem.empty()) return refuse(kMeasuresFileName, problem);
  }
  if (details == Read::read) {
    const std::string problem =
        details_problem(details_text, details_names, check.details_header_is_older);
    if (!problem.empty()) return refuse(kDetailsFileName, problem);
  }
  check.measured_names = measures_names;
  // A file that cannot be read is appended to unchecked, as before.
  if (measures == Read::unreadable || details == Read::unreadable) return check;

  if (measures_names == details_names) return check;
  check.measured_names.clear();
  const bool measures_has_none = measures == Read::missing || measures_text.empty();
  const bool details_has_none = details == Read::missing || details_text.empty();
  if (measures_has_none || details_has_none) {
    const char* missing = measures_has_none ? kMeasuresFileName : kDetailsFileName;
    const char* other = measures_has_none ? kDetailsFileName : kMeasuresFileName;
    const std::size_t count = measures_has_none ? details_names.size() : measures_names.size();
    return refuse(missing, "the file is missing or empty, while " + std::string(other) + " holds " +
                               std::to_string(count) + " records");
  }
  std::size_t first = 0;
  while (first < measures_names.size() && first < details_names.size() &&
         measures_names[first] == details_names[first]) {
    ++first;
  }
  // Named after the file that is ahead, or the details file when the names differ.
  const bool measures_ahead = measures_names.size() > details_names.size();
  return refuse(measures_ahead ? kMeasuresFileName : kDetailsFileName,
                "the two record files are out of step from record " + std::to_string(first + 1) +
                    " on (" + kMeasuresFileName + " holds " +
                    std::to_string(measures_names.size()) + " records, " + kDetailsFileName + " " +
                    std::to_string(details_names.size()) +
                    "); put them right by hand before saving again");
}

std::string migrate_details_header(const std::string& directory) {
  const std::string path = directory + "/" + kDetailsFileName;
  std::string text;
  if (read_file(path, text) != Read::read) return "ERROR reading file: " + error_text(errno);
  const CsvText csv = parse_csv(text);
  std::string migrated = format_details_header();
  for (std::size_t i = 1; i < csv.records.size(); ++i) {
    std::vector<std::string> fields = csv.records[i].fields;
    fields.resize(kDetailsColumns.size());
    migrated += csv_record(fields);
  }

  // The rename would replace a write-protected file all the same: it stays as it is.
  if (::access(path.c_str(), W_OK) != 0) return "ERROR opening file: " + error_text(errno);
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return "ERROR reading file: " + error_text(errno);
  const std::string temporary = path + ".tmp" + std::to_string(::getpid());
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, status.st_mode & 07777);
  if (fd < 0) return "ERROR writing file: " + error_text(errno);
  std::size_t done = 0;
  bool written = true;
  while (written && done < migrated.size()) {
    const ssize_t n = ::write(fd, migrated.data() + done, migrated.size() - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += static_cast<std::size_t>(n);
  }
  written = written && ::fsync(fd) == 0;
  std::string reason = written ? "" : "ERROR writing file: " + error_text(errno);
  if (::close(fd) != 0 && reason.empty()) reason = "ERROR closing file: " + error_text(errno);
  if (reason.empty() && std::rename(temporary.c_str(), path.c_str()) != 0)
    reason = "ERROR renaming file: " + error_text(errno);
  if (!reason.empty()) {
    ::unlink(temporary.c_str());
    return reason;
  }
  // The renamed entry must be on disk before rows are appended to it.
  const int dir_fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return "";
}

}  // namespace meravel
