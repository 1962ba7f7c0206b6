// Shared by every test binary: a scratch directory, counters of image allocations and stream
// flushes, and the fixed local time the tests measure at.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <opencv2/core.hpp>
#include <set>
#include <sstream>
#include <string>

// A fresh directory under the temporary directory for one test, removed with everything in it
// afterwards. Every user may enter and read it (mkdtemp makes it 0700), so a test that becomes
// the user nobody, as the write-protection tests do when run as root, reaches its files and is
// stopped by their permission bits alone; writing into the directory itself stays its owner's.
class TempDirectory {
 public:
  TempDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "meravel_test_XXXXXX").string();
    path_ = mkdtemp(pattern.data());
    chmod(path_.c_str(), 0755);
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
  // The path of `name` inside it.
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::string operator/(const std::string& name) const { return file(name); }

  void write(const std::string& name, const std::string& contents = "") const {
    std::ofstream(file(name), std::ios::binary) << contents;
  }
  void make_directory(const std::string& name) const {
    std::filesystem::create_directories(file(name));
  }
  std::string read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool exists(const std::string& name) const {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(file(name), ignored));
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

// Counts every image buffer OpenCV allocates while it lives (installed as the default allocator,
// passing each allocation on to OpenCV's own) and keeps the largest in bytes.
class ImageAllocationCounter {
 public:
  ImageAllocationCounter() : previous_(cv::Mat::getDefaultAllocator()) {
    cv::Mat::setDefaultAllocator(&allocator_);
  }
  ~ImageAllocationCounter() { cv::Mat::setDefaultAllocator(previous_); }
  ImageAllocationCounter(const ImageAllocationCounter&) = delete;
  ImageAllocationCounter& operator=(const ImageAllocationCounter&) = delete;

  int allocations() const { return allocator_.allocations; }
  size_t largest_bytes() const { return allocator_.largest_bytes; }

 private:
  struct Allocator : cv::MatAllocator {
    mutable size_t largest_bytes = 0;
    mutable int allocations = 0;

    cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step,
                           cv::AccessFlag flags, cv::UMatUsageFlags usage) const override {
      if (!data) {
        size_t bytes = CV_ELEM_SIZE(type);
        for (int i = 0; i < dims; ++i) bytes *= static_cast<size_t>(sizes[i]);
        largest_bytes = std::max(largest_bytes, bytes);
        ++allocations;
      }
      return cv::Mat::getStdAllocator()->allocate(dims, sizes, type, data, step, flags, usage);
    }
    bool allocate(cv::UMatData* data, cv::AccessFlag flags,
                  cv::UMatUsageFlags usage) const override {
      return cv::Mat::getStdAllocator()->allocate(data, flags, usage);
    }
    void deallocate(cv::UMatData* data) const override {
      cv::Mat::getStdAllocator()->deallocate(data);
    }
  };

  Allocator allocator_;
  cv::MatAllocator* previous_;
};

// A string stream's buffer that counts its flushes (std::endl, std::flush).
struct FlushCountingBuffer : std::stringbuf {
  int flushes = 0;
  int sync() override {
    ++flushes;
    return std::stringbuf::sync();
  }
};

// A local time as the C library keeps it; month 1..12.
inline std::tm local_time(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

// The fixed clock of the tests: every measurement is taken at 2012-04-02 09:05:03.
inline std::tm fixed_measuring_time() { return local_time(2012, 4, 2, 9, 5, 3); }
