// The file-system calls behind the program's durable appends, as a small interface: the real
// POSIX calls by default, and in tests a subclass that makes any one of them fail or wait.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>

namespace meravel {

// Each call has the contract of the POSIX call of its name: -1 (or a negative count) with errno
// set on failure.
class FileOperations {
 public:
  virtual ~FileOperations() = default;

  virtual int open(const char* path, int flags, mode_t mode) = 0;
  virtual int close(int fd) = 0;
  virtual int fstat(int fd, struct stat* status) = 0;
  virtual int stat(const char* path, struct stat* status) = 0;
  virtual ssize_t pread(int fd, void* buffer, std::size_t size, off_t offset) = 0;
  virtual ssize_t write(int fd, const void* data, std::size_t size) = 0;
  virtual int fsync(int fd) = 0;
  virtual int ftruncate(int fd, off_t length) = 0;
  // Takes the exclusive flock of the whole file open at `fd`, waiting while another open file
  // holds it. Fails with EWOULDBLOCK when the wait grows too long.
  virtual int lock_exclusive(int fd) = 0;
};

class PosixFileOperations : public FileOperations {
 public:
  // An append holds the lock for milliseconds; a holder that keeps it for this long is hung or
  // stopped, and waiting longer would only freeze the window.
  static constexpr std::chrono::milliseconds kDefaultLockWait{10000};

  explicit PosixFileOperations(std::chrono::milliseconds lock_wait = kDefaultLockWait)
      : lock_wait_(lock_wait) {}

  int open(const char* path, int flags, mode_t mode) override;
  int close(int fd) override;
  int fstat(int fd, struct stat* status) override;
  int stat(const char* path, struct stat* status) override;
  ssize_t pread(int fd, void* buffer, std::size_t size, off_t offset) override;
  ssize_t write(int fd, const void* data, std::size_t size) override;
  int fsync(int fd) override;
  int ftruncate(int fd, off_t length) override;
  int lock_exclusive(int fd) override;

 private:
  std::chrono::milliseconds lock_wait_;
};

// The real calls, with the default lock wait.
FileOperations& posix_file_operations();

// The system's text for `error` in English, as every other line of the program, whatever the
// user's locale.
std::string error_text(int error);

}  // namespace meravel
