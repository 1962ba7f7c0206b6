// Captures what the program writes to file descriptor 1. text() reads the captured file without
// flushing the C library's stream, so it sees only lines that were flushed when written.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

class StdoutCapture {
 public:
  StdoutCapture() {
    std::fflush(stdout);
    char path[] = "/tmp/meravel_stdout_XXXXXX";
    file_ = mkstemp(path);
    unlink(path);
    saved_ = dup(1);
    dup2(file_, 1);
  }
  ~StdoutCapture() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    close(file_);
  }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  std::string text() const {
    std::string text;
    char buffer[4096];
    ssize_t length;
    for (off_t offset = 0; (length = pread(file_, buffer, sizeof buffer, offset)) > 0;
         offset += length)
      text.append(buffer, static_cast<std::size_t>(length));
    return text;
  }

 private:
  int file_ = -1;
  int saved_ = -1;
};
