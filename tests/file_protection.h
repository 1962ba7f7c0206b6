// Makes a file unwritable (or unreadable too) for the rest of the scope, also when the tests run
// as root, which ignores permission bits: the effective user then becomes "nobody" until the
// scope ends.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

class FileProtection {
 public:
  // mode 0444 for a write-protected file, 0 for one that cannot be read either.
  FileProtection(const std::string& path, mode_t mode) : path_(path) {
    ::chmod(path.c_str(), mode);
    if (::geteuid() == 0) dropped_ = ::seteuid(65534) == 0;
  }
  ~FileProtection() {
    if (dropped_) {
      EXPECT_EQ(::seteuid(0), 0);
    }
    ::chmod(path_.c_str(), 0644);
  }
  FileProtection(const FileProtection&) = delete;
  FileProtection& operator=(const FileProtection&) = delete;

 private:
  std::string path_;
  bool dropped_ = false;
};
