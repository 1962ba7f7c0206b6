#include "series/measures_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "series/exif_date.h"
#include "series/file_overview.h"

const char* const kMeasuresHeader = "Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;";

std::function<std::tm()> measuring_clock = [] {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
};

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

bool measures_file_readable(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

namespace {

std::string failure_line(const char* what) {
  return std::string("ERROR ") + what + " file: " + std::strerror(errno);
}

bool write_all(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Whether a non-empty file's last byte is a line break; a file that cannot be read counts as not
// ending with one, since an extra empty line is harmless and a merged record is not.
bool ends_with_line_break(int fd, off_t size) {
  char last = 0;
  return ::pread(fd, &last, 1, size - 1) == 1 && last == '\n';
}

// Makes the new directory entry durable too; some file systems refuse, which changes nothing.
void sync_directory_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

AppendOutcome append_measures_record(const std::string& path, const std::string& record,
                                     bool write_header) {
  AppendOutcome outcome;
  const bool existed = ::access(path.c_str(), F_OK) == 0;
  // Read access only to look at the last byte; a write-only file is still appended to.
  int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    outcome.failure = "ERROR opening file";
    return outcome;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    outcome.failure = failure_line("examining");
    ::close(fd);
    return outcome;
  }
  const off_t size_before = status.st_size;

  std::string piece;
  if (size_before > 0 && !ends_with_line_break(fd, size_before)) piece += '\n';
  if (write_header || size_before == 0) piece += std::string(kMeasuresHeader) + '\n';
  piece += record;

  if (!write_all(fd, piece)) {
    outcome.failure = failure_line("writing");
    // Only what this call appended is cut off: the file keeps exactly its earlier content.
    const int saved_errno = errno;
    if (::ftruncate(fd, size_before) == 0) ::fsync(fd);
    errno = saved_errno;
    ::close(fd);
    return outcome;
  }
  if (::fsync(fd) != 0) {
    outcome.failure = failure_line("syncing");
    ::close(fd);
    return outcome;
  }
  if (::close(fd) != 0) {
    outcome.failure = failure_line("closing");
    return outcome;
  }
  if (!existed) sync_directory_of(path);
  outcome.saved = true;
  return outcome;
}

AppendOutcome save_measurement(const std::string& series_directory, const std::string& name,
                               double lambda, double energy, std::ostream& out) {
  const std::string measures_path = series_directory + "/" + kMeasuresFileName;
  const std::string image_path = series_directory + "/" + name;
  const bool readable = measures_file_readable(measures_path);
  const std::tm measuring_time = measuring_clock();

  const CaptureDate date = read_capture_date(image_path);
  if (date.status == CaptureDate::no_exif_data) {
    out << "File not readable or no EXIF data in file " << image_path << std::endl;
  } else if (date.status == CaptureDate::no_entry) {
    out << "Exif entry not found!" << std::endl;
  }
  const std::string record =
      format_measures_record(name, date.text, measuring_time, lambda, energy);
  return append_measures_record(measures_path, record, !readable);
}
