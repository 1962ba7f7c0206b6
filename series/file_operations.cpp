#include "series/file_operations.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace meravel {

int PosixFileOperations::open(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int PosixFileOperations::close(int fd) { return ::close(fd); }

int PosixFileOperations::fstat(int fd, struct stat* status) { return ::fstat(fd, status); }

int PosixFileOperations::stat(const char* path, struct stat* status) {
  return ::stat(path, status);
}

ssize_t PosixFileOperations::pread(int fd, void* buffer, std::size_t size, off_t offset) {
  ssize_t n;
  do {
    n = ::pread(fd, buffer, size, offset);
  } while (n < 0 && errno == EINTR);
  return n;
}

ssize_t PosixFileOperations::write(int fd, const void* data, std::size_t size) {
  return ::write(fd, data, size);
}

int PosixFileOperations::fsync(int fd) {
  int result;
  do {
    result = ::fsync(fd);
  } while (result != 0 && errno == EINTR);
  return result;
}

int PosixFileOperations::ftruncate(int fd, off_t length) {
  int result;
  do {
    result = ::ftruncate(fd, length);
  } while (result != 0 && errno == EINTR);
  return result;
}

int PosixFileOperations::lock_exclusive(int fd) {
  // flock, not fcntl: its lock belongs to the open file, so closing another descriptor of the same
  // file (a reader counting measures, the appender's second descriptor) never drops it, and it
  // needs no read access. Polled, so that the wait has an end.
  const auto deadline = std::chrono::steady_clock::now() + lock_wait_;
  while (true) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return -1;
    if (std::chrono::steady_clock::now() >= deadline) {
      errno = EWOULDBLOCK;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

FileOperations& posix_file_operations() {
  static PosixFileOperations operations;
  return operations;
}

std::string error_text(int error) {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t{});
  return c_locale ? strerror_l(error, c_locale) : std::strerror(error);
}

}  // namespace meravel
