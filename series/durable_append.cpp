#include "series/durable_append.h"

#include <fcntl.h>
#include <locale.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <memory>

namespace meravel {

namespace {

// Replacing a file between its open and its lock takes another program deleting or renaming it
// at that moment; a few tries are plenty.
constexpr int kOpenAttempts = 5;

std::string base_name(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string system_reason(const char* what) {
  return std::string("ERROR ") + what + " file: " + error_text(errno);
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// One file of a save: its lock descriptor, held open until the save is over. The lock goes with
// the descriptor.
class LockedFile {
 public:
  LockedFile(FileOperations& operations, std::string path)
      : operations_(operations), path_(std::move(path)) {}
  ~LockedFile() {
    if (fd_ >= 0) operations_.close(fd_);
  }
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  const std::string& path() const { return path_; }
  const LockedFileEnd& end() const { return end_; }

  // Opens the file, creating it when missing, and takes its lock. Returns the reason of a failure,
  // or the empty text.
  std::string open_and_lock() {
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
      // Read access only to look at the last byte: a write-only file is appended to all the same.
      // O_NONBLOCK: opening a FIFO must not wait for its other end.
      const int common = O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC;
      fd_ = operations_.open(path_.c_str(), O_RDWR | common, 0666);
      if (fd_ < 0 && errno == EACCES)
        fd_ = operations_.open(path_.c_str(), O_WRONLY | common, 0666);
      if (fd_ < 0) return system_reason("opening");
      struct stat opened {};
      if (operations_.fstat(fd_, &opened) != 0) return system_reason("opening");
      if (!S_ISREG(opened.st_mode)) return "ERROR opening file: not a regular file";
      if (operations_.lock_exclusive(fd_) != 0) {
        if (errno == EWOULDBLOCK) return "ERROR locking file: another program keeps it locked";
        return system_reason("locking");
      }
      // The lock binds only if the path still names the file locked: one deleted or replaced
      // meanwhile would take the bytes where no one finds them.
      struct stat named {};
      if (operations_.stat(path_.c_str(), &named) == 0 && same_file(named, opened)) {
        if (operations_.fstat(fd_, &locked_) != 0) return system_reason("opening");
        read_end();
        return "";
      }
      operations_.close(fd_);
      fd_ = -1;
    }
    return "ERROR opening file: it was replaced while waiting for its lock";
  }

  // Appends `bytes` through a descriptor of its own, syncs and closes it, and syncs the directory
  // of a file that was empty (perhaps just created). On failure the file is cut back at once.
  // Returns the reason of a failure, or the empty text.
  std::string append(const std::string& bytes) {
    std::string reason = write_synced(bytes);
    if (reason.empty() && end_.size == 0) reason = sync_directory();
    if (!reason.empty()) roll_back();
    return reason;
  }

  // Cuts the file back to its size before this save and syncs that. False when that fails: the
  // file may then still hold bytes of this save.
  bool roll_back() {
    rolled_back_ = operations_.ftruncate(fd_, end_.size) == 0 && operations_.fsync(fd_) == 0;
    return rolled_back_;
  }

  bool rolled_back() const { return rolled_back_; }

 private:
  void read_end() {
    end_.size = locked_.st_size;
    end_.ends_with_line_break = true;
    if (end_.size > 0) {
      char last = 0;
      if (operations_.pread(fd_, &last, 1, end_.size - 1) == 1)
        end_.ends_with_line_break = last == '\n';
    }
  }

  std::string write_synced(const std::string& bytes) {
    const int fd = operations_.open(path_.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0) return system_reason("opening");
    struct stat opened {};
    if (operations_.fstat(fd, &opened) != 0 || !same_file(opened, locked_)) {
      operations_.close(fd);
      return "ERROR opening file: it was replaced while locked";
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = operations_.write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = EIO;
        std::string reason = system_reason("writing");
        operations_.close(fd);
        return reason;
      }
      done += static_cast<std::size_t>(n);
    }
    if (operations_.fsync(fd) != 0) {
      std::string reason = system_reason("syncing");
      operations_.close(fd);
      return reason;
    }
    // A network file system may report a failed write only here.
    if (operations_.close(fd) != 0) return system_reason("closing");
    return "";
  }

  // The new directory entry must be on disk too, or a crash could lose the whole file. A file
  // system that cannot sync a directory (EINVAL) keeps its entries by other means.
  std::string sync_directory() {
    const std::string directory = directory_of(path_);
    const int fd = operations_.open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return "";  // not readable: it cannot be synced, but the file is written
    std::string reason;
    if (operations_.fsync(fd) != 0 && errno != EINVAL) {
      reason = std::string("ERROR syncing directory: ") + error_text(errno);
    }
    operations_.close(fd);
    return reason;
  }

  FileOperations& operations_;
  std::string path_;
  int fd_ = -1;
  struct stat locked_ {};
  LockedFileEnd end_;
  bool rolled_back_ = false;
};

AppendOutcome failed(const std::string& reason, const std::string& path) {
  AppendOutcome outcome;
  outcome.reason = reason;
  outcome.failure = reason + " (" + base_name(path) + "). Nothing was saved.";
  return outcome;
}

}  // namespace

AppendOutcome append_durably(const std::vector<PlannedAppend>& appends,
                             FileOperations& operations) {
  std::vector<std::unique_ptr<LockedFile>> files;
  for (const PlannedAppend& append : appends) {
    files.push_back(std::make_unique<LockedFile>(operations, append.path));
    const std::string reason = files.back()->open_and_lock();
    if (!reason.empty()) return failed(reason, append.path);
  }

  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string reason = files[i]->append(appends[i].bytes(files[i]->end()));
    if (reason.empty()) continue;
    // The files before it hold their bytes on disk already: take them out again, the last first,
    // while every lock is still held.
    for (std::size_t j = i; j-- > 0;) files[j]->roll_back();
    AppendOutcome outcome = failed(reason, files[i]->path());
    for (std::size_t j = 0; j <= i; ++j) {
      if (files[j]->rolled_back()) continue;
      outcome.file_left_changed = true;
      outcome.failure = reason + " (" + base_name(files[i]->path()) + "), and cutting " +
                        base_name(files[j]->path()) +
                        " back failed too: it may hold part of this record; check it before "
                        "saving again.";
      break;
    }
    return outcome;
  }
  AppendOutcome outcome;
  outcome.saved = true;
  return outcome;
}

}  // namespace meravel
