// Opening the program's input files (photographs, the order file, the measures file for counting)
// so that nothing but a regular file is read: a FIFO would block the program until some other
// process writes to it, a device would feed it endlessly.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

namespace meravel {

struct RegularFile {
  enum Status {
    opened,
    cannot_open,  // missing, unreadable; `error` holds errno
    not_regular,  // a FIFO, device, socket or directory (after following symbolic links)
  };
  Status status = cannot_open;
  int fd = -1;  // when opened: a read-only descriptor, the caller's to close
  int error = 0;
  struct stat file_status {};  // when opened: the fstat of `fd`
};

// Opens `path` read-only without waiting for a FIFO's other end, and keeps it open only when it
// is a regular file. Symbolic links to regular files are followed.
RegularFile open_regular_file(const std::string& path);

// The same as a stream for reading; nullptr when the file is missing, unreadable or not regular.
std::FILE* fopen_regular_file(const std::string& path);

}  // namespace meravel
