// A fresh directory under /tmp for one test, removed with everything in it afterwards.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

class TempDirectory {
 public:
  TempDirectory() {
    char pattern[] = "/tmp/meravel_series_XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDirectory() {
    std::error_code ignored;
    // Directories a test made read-only must be writable again to be emptied.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
      if (it->is_directory(ignored) && !it->is_symlink(ignored)) chmod(it->path().c_str(), 0755);
    chmod(path_.c_str(), 0755);
    std::filesystem::remove_all(path_, ignored);
  }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  // The directory's path, no trailing "/".
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  void write(const std::string& name, const std::string& contents = "") const {
    std::ofstream(*this / name, std::ios::binary) << contents;
  }
  void make_directory(const std::string& name) const {
    std::filesystem::create_directories(*this / name);
  }
  std::string read(const std::string& name) const {
    std::ifstream file(*this / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  bool exists(const std::string& name) const {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(*this / name, ignored));
  }
  // Names of the entries directly inside, "." and ".." left out.
  std::set<std::string> names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
      names.insert(entry.path().filename().string());
    return names;
  }

 private:
  std::string path_;
};
