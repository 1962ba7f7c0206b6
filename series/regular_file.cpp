#include "series/regular_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace meravel {

RegularFile open_regular_file(const std::string& path) {
  RegularFile file;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    file.error = errno;
    return file;
  }
  if (::fstat(fd, &file.file_status) != 0) {
    file.error = errno;
    ::close(fd);
    return file;
  }
  if (!S_ISREG(file.file_status.st_mode)) {
    file.status = RegularFile::not_regular;
    ::close(fd);
    return file;
  }
  // Reads of a regular file never wait anyway; without the flag a later read does not fail with
  // EAGAIN on the rare file system that honours it.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  file.status = RegularFile::opened;
  file.fd = fd;
  return file;
}

std::FILE* fopen_regular_file(const std::string& path) {
  const RegularFile file = open_regular_file(path);
  if (file.status != RegularFile::opened) return nullptr;
  std::FILE* stream = ::fdopen(file.fd, "r");
  if (!stream) ::close(file.fd);
  return stream;
}

}  // namespace meravel
