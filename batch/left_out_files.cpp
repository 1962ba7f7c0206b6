#include "batch/left_out_files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "series/series_from_directory.h"

namespace meravel {

namespace {

std::string lower_extension(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return "";
  std::string extension = name.substr(dot);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

bool is_picture_extension(const std::string& extension) {
  for (const char* picture :
       {".jpg", ".jpeg", ".jpe", ".png", ".tif", ".tiff", ".bmp", ".gif", ".webp", ".heic"}) {
    if (extension == picture) return true;
  }
  return false;
}

}  // namespace

LeftOutFiles count_left_out_files(const std::vector<std::string>& names) {
  LeftOutFiles left_out;
  for (const std::string& name : names) {
    if (name == "review.png" || is_series_image_name(name)) continue;
    if (!is_picture_extension(lower_extension(name))) continue;
    const bool series_extension =
        name.size() >= 4 && (name.compare(name.size() - 4, 4, ".jpg") == 0 ||
                             name.compare(name.size() - 4, 4, ".JPG") == 0);
    if (series_extension) {
      ++left_out.short_name;
    } else {
      ++left_out.other_kind;
    }
  }
  return left_out;
}

std::vector<std::string> regular_file_names(const std::string& directory) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(directory, error), end; !error && entry != end;
       entry.increment(error)) {
    std::error_code kind_error;
    if (entry->is_regular_file(kind_error)) names.push_back(entry->path().filename().string());
  }
  return names;
}

std::vector<std::string> left_out_lines(const LeftOutFiles& left_out) {
  std::vector<std::string> lines;
  const auto files = [](size_t n) { return std::to_string(n) + (n == 1 ? " file" : " files"); };
  if (left_out.other_kind > 0) {
    lines.push_back(files(left_out.other_kind) + " left out: only .jpg and .JPG are measured.");
  }
  if (left_out.short_name > 0) {
    lines.push_back(files(left_out.short_name) +
                    " left out: a photograph's name needs at least six characters.");
  }
  return lines;
}

}  // namespace meravel
