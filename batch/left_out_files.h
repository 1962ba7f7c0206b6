// The files of a series directory that look like photographs but that the name rules leave out of
// the series, counted so that a batch run can say so once instead of passing them over in silence.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace meravel {

struct LeftOutFiles {
  // Pictures of another kind: .jpeg, .jpe, .png, .tif, .tiff, .bmp, .gif, .webp, .heic, and .jpg
  // in mixed case (".Jpg"), in any case; the series takes only .jpg and .JPG.
  size_t other_kind = 0;
  // .jpg or .JPG names of five characters or fewer ("1.jpg"), which the series leaves out too.
  size_t short_name = 0;
};

// Counts the left-out pictures among the entry names of a directory (the review sheet, review.png,
// is the program's own and not counted).
LeftOutFiles count_left_out_files(const std::vector<std::string>& names);

// The names of the entries of `directory` (regular files and links to them); none when it cannot
// be read.
std::vector<std::string> regular_file_names(const std::string& directory);

// One line per reason with its count, e.g. "3 files left out: only .jpg and .JPG are measured.";
// none when nothing was left out.
std::vector<std::string> left_out_lines(const LeftOutFiles& left_out);

}  // namespace meravel
