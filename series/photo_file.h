// Loading a photograph to measure: the file is read once, into memory, and everything the program
// takes from it (the pixels, upright, and the capture date) comes from those bytes. A file that
// would block the program (a FIFO), never end (a device) or eat the machine (a header claiming
// gigapixels) is refused before anything large is allocated.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

#include "series/exif_date.h"

namespace meravel {

// The pixel budget of one photograph, as stored (its EXIF orientation does not change the count).
// Decoding takes three bytes a pixel, and a session holds a few images of the photograph's size.
constexpr std::int64_t kMaxPhotographPixels = 250'000'000;

// The largest photograph file read: far above any JPEG within the pixel budget, so that a huge
// file of another kind is refused before it fills the memory.
constexpr std::int64_t kMaxPhotographFileBytes = std::int64_t{256} << 20;

struct PhotographLimits {
  std::int64_t max_pixels = kMaxPhotographPixels;
  std::int64_t max_file_bytes = kMaxPhotographFileBytes;
};

// Which file, with which content, a path named when it was read: equal stamps mean the file was
// not replaced (device and inode), written (size, modification time) or otherwise changed (status
// change time, which no program can set back) since.
struct PhotographFileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  std::int64_t size_bytes = 0;
  timespec modified{};
  timespec status_changed{};
};
bool operator==(const PhotographFileStamp& a, const PhotographFileStamp& b);
bool operator!=(const PhotographFileStamp& a, const PhotographFileStamp& b);

// The stamp of what `path` names now (following symbolic links); nothing when it cannot be
// examined (deleted).
std::optional<PhotographFileStamp> photograph_file_stamp(const std::string& path);

struct PhotographFile {
  enum Status {
    loaded,
    cannot_open,      // missing or unreadable
    not_regular,      // a FIFO, device or directory: not read at all
    too_many_bytes,   // larger than max_file_bytes: not read
    read_failed,      // a read error, or the file kept changing while it was read
    unknown_kind,     // neither JPEG nor PNG, or a header that cannot be read
    too_many_pixels,  // the header claims more than max_pixels: not decoded
    cannot_decode,    // the decoder gave no image
  };
  Status status = cannot_open;
  // When not loaded: the one line for the user, "Cannot load the photograph PATH: REASON" (the
  // system's reason, the size, the kind, damaged data, ...).
  std::string message;
  cv::Mat image;              // when loaded: CV_8UC3 (blue, green, red), upright as its EXIF says
  cv::Size stored_size;       // the size its header gives, before turning upright; 0 x 0 unknown
  CaptureDate capture_date;   // from the bytes read; no_exif_data when nothing was read
  PhotographFileStamp stamp;  // of the bytes read
};

// Reads the photograph file at `path` and decodes it as cv::imread(path, IMREAD_COLOR) would.
// Opens without waiting (a FIFO has no writer to wait for), reads only a regular file of at most
// `limits.max_file_bytes`, reads the image size from the JPEG or PNG header and decodes only within
// `limits.max_pixels`. A JPEG whose data the decoder warns about (jpeg_data_problem) or whose
// header claims more blocks than its bytes can hold, and a PNG cut short, are refused before the
// decode. Never throws.
PhotographFile load_photograph_file(const std::string& path, const PhotographLimits& limits = {});

// The image size that the header of a JPEG file (by libjpeg's header reader) or a PNG file (its
// IHDR chunk) gives, without decoding; nothing for another kind or a broken header.
std::optional<cv::Size> read_image_header_size(const std::vector<unsigned char>& bytes);

}  // namespace meravel
