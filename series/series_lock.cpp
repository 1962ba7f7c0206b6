#include "series/series_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace meravel {

const char kSeriesLockFileName[] = "meravel.lock";

namespace {

// A lock file removed by its holder between another instance's open and its flock is taken over
// on a fresh try.
constexpr int kAttempts = 5;

long process_id_in(int fd) {
  char text[32] = {};
  const ssize_t length = ::pread(fd, text, sizeof text - 1, 0);
  if (length <= 0) return 0;
  return std::strtol(text, nullptr, 10);
}

}  // namespace

SeriesLock::SeriesLock(SeriesLock&& other) noexcept { *this = std::move(other); }

SeriesLock& SeriesLock::operator=(SeriesLock&& other) noexcept {
  if (this != &other) {
    release();
    state_ = std::exchange(other.state_, State::not_held);
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    other_process_id_ = std::exchange(other.other_process_id_, 0);
  }
  return *this;
}

SeriesLock::State SeriesLock::acquire(const std::string& directory) {
  release();
  const std::string path = directory + "/" + kSeriesLockFileName;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    // No link followed, no FIFO waited for: only a plain file of our own name serves.
    const int flags = O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = ::open(path.c_str(), O_RDWR | flags, 0644);
    // A lock file that this user may not write still shows whether another instance holds it.
    if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return state_;
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
      ::close(fd);
      return state_;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const bool other_holds = errno == EWOULDBLOCK;
      if (other_holds) other_process_id_ = process_id_in(fd);
      ::close(fd);
      state_ = other_holds ? State::held_by_other : State::not_held;
      return state_;
    }
    // The lock binds only while the path names the locked file: a holder that released it in
    // between removed that file.
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0 || named.st_dev != opened.st_dev ||
        named.st_ino != opened.st_ino) {
      ::close(fd);
      continue;
    }
    const std::string text = std::to_string(static_cast<long>(::getpid())) + "\n";
    if (::ftruncate(fd, 0) == 0) {
      (void)!::pwrite(fd, text.data(), text.size(), 0);
    }
    fd_ = fd;
    path_ = path;
    state_ = State::held;
    return state_;
  }
  return state_;
}

void SeriesLock::release() {
  if (state_ == State::held) {
    // Removed while still locked, so that no other instance takes over a file about to vanish
    // unnoticed; one that opened it just before notices the removal after its flock.
    ::unlink(path_.c_str());
    ::close(fd_);
  }
  state_ = State::not_held;
  fd_ = -1;
  path_.clear();
  other_process_id_ = 0;
}

}  // namespace meravel
