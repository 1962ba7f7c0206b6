// The real file-system calls with faults a test chooses: a call that fails with a given error,
// a write that stops part-way, and hooks that run inside the append (to hold it slow).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "series/file_operations.h"

using namespace meravel;

class FaultyFileOperations : public PosixFileOperations {
 public:
  enum class Call {
    open,             // every open of a file (not of a directory): EACCES by default
    lock,             // the lock is not had: EWOULDBLOCK by default
    pread,            // the last byte cannot be read, as with a write-only file
    write,            // a write, after `bytes_before_failure` bytes went through
    fsync,            // the sync of a descriptor that was written to
    close,            // the close of a descriptor that was written to (closed all the same)
    directory_fsync,  // the sync of a directory
    ftruncate,        // cutting a file back
  };
  explicit FaultyFileOperations(std::chrono::milliseconds lock_wait = kDefaultLockWait)
      : PosixFileOperations(lock_wait) {}

  std::size_t bytes_before_failure = 0;
  // Run once the lock is held, and before each write.
  std::function<void()> after_lock = [] {};
  std::function<void()> before_write = [] {};

  // From now on `call` fails with `error`, for files whose path ends with `path_ending` (all
  // files when it is empty; a directory's sync fails whatever its path).
  void fail(Call call, int error, std::string path_ending = "") {
    faults_[call] = {error, std::move(path_ending)};
  }

  int open(const char* path, int flags, mode_t mode) override {
    const bool directory = (flags & O_DIRECTORY) != 0;
    if (!directory && hits(Call::open, path)) return failure(Call::open);
    const int fd = PosixFileOperations::open(path, flags, mode);
    if (fd >= 0) {
      paths_[fd] = path;
      if (directory) directories_.insert(fd);
    }
    return fd;
  }
  int close(int fd) override {
    const bool fail_it = written_.count(fd) && hits(Call::close, fd);
    paths_.erase(fd);
    directories_.erase(fd);
    written_.erase(fd);
    const int result = PosixFileOperations::close(fd);
    return fail_it ? failure(Call::close) : result;
  }
  int lock_exclusive(int fd) override {
    if (hits(Call::lock, fd)) return failure(Call::lock);
    const int result = PosixFileOperations::lock_exclusive(fd);
    if (result == 0) after_lock();
    return result;
  }
  ssize_t pread(int fd, void* buffer, std::size_t size, off_t offset) override {
    if (hits(Call::pread, fd)) return failure(Call::pread);
    return PosixFileOperations::pread(fd, buffer, size, offset);
  }
  ssize_t write(int fd, const void* data, std::size_t size) override {
    before_write();
    written_.insert(fd);
    if (!hits(Call::write, fd)) return PosixFileOperations::write(fd, data, size);
    // Bytes up to the failure are written, as a full disk takes what still fits.
    if (bytes_through_ >= bytes_before_failure) return failure(Call::write);
    size = std::min(size, bytes_before_failure - bytes_through_);
    const ssize_t n = PosixFileOperations::write(fd, data, size);
    if (n > 0) bytes_through_ += static_cast<std::size_t>(n);
    return n;
  }
  int fsync(int fd) override {
    if (directories_.count(fd) ? hits(Call::directory_fsync, fd)
                               : written_.count(fd) && hits(Call::fsync, fd))
      return failure(directories_.count(fd) ? Call::directory_fsync : Call::fsync);
    return PosixFileOperations::fsync(fd);
  }
  int ftruncate(int fd, off_t length) override {
    if (hits(Call::ftruncate, fd)) return failure(Call::ftruncate);
    return PosixFileOperations::ftruncate(fd, length);
  }

 private:
  struct Fault {
    int error;
    std::string path_ending;
  };

  bool hits(Call call, const std::string& path) const {
    const auto fault = faults_.find(call);
    if (fault == faults_.end()) return false;
    const std::string& ending = fault->second.path_ending;
    return path.size() >= ending.size() &&
           path.compare(path.size() - ending.size(), ending.size(), ending) == 0;
  }
  bool hits(Call call, int fd) const {
    if (directories_.count(fd)) return faults_.count(call) != 0;
    const auto found = paths_.find(fd);
    return found != paths_.end() && hits(call, found->second);
  }
  int failure(Call call) {
    errno = faults_.at(call).error;
    return -1;
  }

  std::map<Call, Fault> faults_;
  std::map<int, std::string> paths_;
  std::set<int> directories_;
  std::set<int> written_;
  std::size_t bytes_through_ = 0;  // written to files that a write fault hits
};
