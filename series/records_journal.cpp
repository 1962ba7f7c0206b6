#include "series/records_journal.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace meravel {

const char kRecordsJournalFileName[] = "measures.journal";

namespace {

constexpr char kJournalEnd[] = "end";

std::string reason_of(const char* what) {
  return std::string("ERROR ") + what + " file: " + error_text(errno);
}

// The whole text of an open file, read through `operations` from its start.
std::string read_text(FileOperations& operations, int fd) {
  std::string text;
  char buffer[4096];
  off_t offset = 0;
  while (true) {
    const ssize_t n = operations.pread(fd, buffer, sizeof buffer, offset);
    if (n <= 0) return text;
    text.append(buffer, static_cast<std::size_t>(n));
    offset += n;
  }
}

}  // namespace

std::string format_journal(const std::vector<JournalEntry>& entries) {
  std::string text;
  for (const JournalEntry& entry : entries) {
    text += std::to_string(static_cast<long long>(entry.size)) + ' ' + entry.name + '\n';
  }
  return text + kJournalEnd + '\n';
}

std::vector<JournalEntry> parse_journal(const std::string& text) {
  std::vector<JournalEntry> entries;
  std::istringstream lines(text);
  bool ended = false;
  for (std::string line; std::getline(lines, line);) {
    if (ended) return {};
    if (line == kJournalEnd) {
      ended = true;
      continue;
    }
    const std::size_t blank = line.find(' ');
    if (blank == 0 || blank == std::string::npos || blank + 1 == line.size()) return {};
    char* digits_end = nullptr;
    const long long size = std::strtoll(line.c_str(), &digits_end, 10);
    if (digits_end != line.c_str() + blank || size < 0) return {};
    entries.push_back({line.substr(blank + 1), static_cast<off_t>(size)});
  }
  // Without its last line the journal was cut short while it was written: no append had begun.
  if (!ended || text.back() != '\n') return {};
  return entries;
}

RecordsJournal::~RecordsJournal() {
  if (fd_ >= 0) operations_.close(fd_);
}

std::string RecordsJournal::open(const std::string& directory) {
  directory_ = directory;
  const std::string path = directory + "/" + kRecordsJournalFileName;
  struct stat before {};
  const bool existed = operations_.stat(path.c_str(), &before) == 0;
  fd_ = operations_.open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  writable_ = fd_ >= 0;
  // Made by another user: its lock still orders the saves (a flock needs no write access).
  if (fd_ < 0 && errno == EACCES) {
    fd_ = operations_.open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0);
    // A directory this user may not write to: the record files it holds may still be writable,
    // and are appended to as before there was a journal.
    if (fd_ < 0 && errno == ENOENT) return "";
  }
  if (fd_ < 0) return reason_of("opening");
  struct stat opened {};
  if (operations_.fstat(fd_, &opened) != 0) return reason_of("opening");
  if (!S_ISREG(opened.st_mode)) return "ERROR opening file: not a regular file";
  if (operations_.lock_exclusive(fd_) != 0) {
    if (errno == EWOULDBLOCK) return "ERROR locking file: another program keeps it locked";
    return reason_of("locking");
  }
  if (!existed) {
    // The journal's entry must survive a power cut like its content.
    const int dir_fd = operations_.open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (dir_fd >= 0) {
      operations_.fsync(dir_fd);
      operations_.close(dir_fd);
    }
  }
  const std::string text = read_text(operations_, fd_);
  if (text.empty()) return "";
  if (!writable_) {
    errno = EACCES;
    return reason_of("opening");
  }
  return roll_back(text);
}

std::string RecordsJournal::roll_back(const std::string& text) {
  for (const JournalEntry& entry : parse_journal(text)) {
    const std::string path = directory_ + "/" + entry.name;
    struct stat status {};
    if (operations_.stat(path.c_str(), &status) != 0 || status.st_size <= entry.size) continue;
    const int fd = operations_.open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0) return reason_of("opening") + " (" + entry.name + ")";
    const bool cut = operations_.ftruncate(fd, entry.size) == 0 && operations_.fsync(fd) == 0;
    const std::string reason = cut ? "" : reason_of("cutting back") + " (" + entry.name + ")";
    operations_.close(fd);
    if (!cut) return reason;
    rolled_back_.push_back(entry.name);
  }
  return commit();
}

std::string RecordsJournal::begin(const std::vector<std::string>& names) {
  if (!writable_) return "";
  std::vector<JournalEntry> entries;
  for (const std::string& name : names) {
    struct stat status {};
    const std::string path = directory_ + "/" + name;
    entries.push_back({name, operations_.stat(path.c_str(), &status) == 0 ? status.st_size : 0});
  }
  const std::string text = format_journal(entries);
  std::size_t done = 0;
  if (operations_.ftruncate(fd_, 0) != 0) return reason_of("writing");
  while (done < text.size()) {
    const ssize_t n = operations_.write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return reason_of("writing");
    }
    done += static_cast<std::size_t>(n);
  }
  if (operations_.fsync(fd_) != 0) return reason_of("syncing");
  return "";
}

std::string RecordsJournal::commit() {
  if (!writable_) return "";
  if (operations_.ftruncate(fd_, 0) != 0) return reason_of("writing");
  if (operations_.fsync(fd_) != 0) return reason_of("syncing");
  return "";
}

}  // namespace meravel
