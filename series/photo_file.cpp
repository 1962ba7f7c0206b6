#include "series/photo_file.h"

#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <opencv2/imgcodecs.hpp>

#include "series/file_operations.h"
#include "series/jpeg_check.h"
#include "series/regular_file.h"

// jpeglib.h needs the definitions of stdio.h (FILE, size_t) before it.
#include <jpeglib.h>

namespace meravel {

namespace {

// A file still being written (copied in, saved by another program) gives other bytes on each
// read; after this many tries it is refused for now.
constexpr int kReadAttempts = 3;

bool same_time(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

PhotographFileStamp stamp_of(const struct stat& status) {
  PhotographFileStamp stamp;
  stamp.device = status.st_dev;
  stamp.inode = status.st_ino;
  stamp.size_bytes = status.st_size;
  stamp.modified = status.st_mtim;
  stamp.status_changed = status.st_ctim;
  return stamp;
}

// libjpeg reports a broken header through error_exit, which must not return: it jumps back into
// jpeg_header_size instead. Warnings are not printed.
struct JumpingErrorManager {
  jpeg_error_mgr manager;
  std::jmp_buf back;
};

void jump_back(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JumpingErrorManager*>(info->err)->back, 1);
}

void no_message(j_common_ptr) {}

struct JpegHeader {
  cv::Size size;
  std::size_t scan_offset = 0;  // where the first scan's data begins
};

std::optional<JpegHeader> read_jpeg_header(const std::vector<unsigned char>& bytes) {
  // Only plain C objects live between setjmp and longjmp, so the jump skips no destructor.
  jpeg_decompress_struct info;
  JumpingErrorManager errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = jump_back;
  errors.manager.output_message = no_message;
  if (setjmp(errors.back)) {
    jpeg_destroy_decompress(&info);
    return std::nullopt;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  // Reads the markers up to the start of the scan: sizes, tables, no pixel data.
  jpeg_read_header(&info, TRUE);
  const unsigned width = info.image_width;
  const unsigned height = info.image_height;
  const std::size_t scan_offset =
      static_cast<std::size_t>(info.src->next_input_byte - bytes.data());
  jpeg_destroy_decompress(&info);
  if (width == 0 || height == 0 || width > 0x7fffffff || height > 0x7fffffff) return std::nullopt;
  return JpegHeader{cv::Size(static_cast<int>(width), static_cast<int>(height)), scan_offset};
}

// Whether the end-of-image marker follows the first scan. Inside scan data every 0xFF byte is
// followed by 0x00 or a restart marker, so 0xFF 0xD9 there can only be the end; an embedded
// thumbnail's end lies before the first scan. Without it the file was cut short, and OpenCV fills
// the missing rows differently when decoding from memory (garbage) and from a file (grey): a
// damaged photograph is not measured at all.
bool jpeg_ends_after_scan(const std::vector<unsigned char>& bytes, std::size_t scan_offset) {
  for (std::size_t i = scan_offset; i + 1 < bytes.size(); ++i)
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xD9) return true;
  return false;
}

std::uint32_t big_endian_32(const unsigned char* bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
         std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
}

// The PNG signature is followed by the IHDR chunk, whose data begins with width and height.
std::optional<cv::Size> png_header_size(const std::vector<unsigned char>& bytes) {
  static const unsigned char ihdr[] = {'I', 'H', 'D', 'R'};
  if (bytes.size() < 24 || std::memcmp(bytes.data() + 12, ihdr, 4) != 0) return std::nullopt;
  const std::uint32_t width = big_endian_32(bytes.data() + 16);
  const std::uint32_t height = big_endian_32(bytes.data() + 20);
  // The format allows up to 2^31 - 1 each way.
  if (width == 0 || height == 0 || width > 0x7fffffff || height > 0x7fffffff) return std::nullopt;
  return cv::Size(static_cast<int>(width), static_cast<int>(height));
}

bool starts_with(const std::vector<unsigned char>& bytes,
                 std::initializer_list<unsigned char> head) {
  return bytes.size() >= head.size() && std::equal(head.begin(), head.end(), bytes.begin());
}

enum class ReadResult { whole, too_large, failed };

// Reads the whole of an open regular file from its start, refusing to hold more than `limit`.
ReadResult read_all(int fd, std::int64_t expected_size, std::int64_t limit,
                    std::vector<unsigned char>& bytes) {
  bytes.clear();
  if (::lseek(fd, 0, SEEK_SET) != 0) return ReadResult::failed;
  bytes.reserve(static_cast<std::size_t>(std::min(expected_size, limit)) + 1);
  unsigned char buffer[1 << 16];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ReadResult::failed;
    if (n == 0) return ReadResult::whole;
    if (static_cast<std::int64_t>(bytes.size()) + n > limit) return ReadResult::too_large;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
}

// Reads the file until two looks at its status, before and after, agree with what was read.
ReadResult read_unchanged(int fd, struct stat& status, std::int64_t limit,
                          std::vector<unsigned char>& bytes) {
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (status.st_size > limit) return ReadResult::too_large;
    const ReadResult result = read_all(fd, status.st_size, limit, bytes);
    if (result != ReadResult::whole) return result;
    struct stat after {};
    if (::fstat(fd, &after) != 0) return ReadResult::failed;
    const bool unchanged = stamp_of(after) == stamp_of(status) &&
                           static_cast<std::int64_t>(bytes.size()) == after.st_size;
    status = after;
    if (unchanged) return ReadResult::whole;
  }
  return ReadResult::failed;
}

// A PNG ends with its IEND chunk: length 0, the type, and the type's CRC. Without it the file
// was cut short, and the decoder would say so only in a raw line of its own.
std::string png_data_problem(const std::vector<unsigned char>& bytes) {
  static const unsigned char iend[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  if (bytes.size() >= sizeof iend &&
      std::equal(std::begin(iend), std::end(iend), bytes.end() - sizeof iend))
    return "";
  return "the file ends before its last chunk (damaged)";
}

bool is_jpeg(const std::vector<unsigned char>& bytes) {
  return starts_with(bytes, {0xFF, 0xD8, 0xFF});
}

std::string megapixels(double pixels) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", pixels / 1e6);
  return text;
}

}  // namespace

bool operator==(const PhotographFileStamp& a, const PhotographFileStamp& b) {
  return a.device == b.device && a.inode == b.inode && a.size_bytes == b.size_bytes &&
         same_time(a.modified, b.modified) && same_time(a.status_changed, b.status_changed);
}

bool operator!=(const PhotographFileStamp& a, const PhotographFileStamp& b) { return !(a == b); }

std::optional<PhotographFileStamp> photograph_file_stamp(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return stamp_of(status);
}

std::optional<cv::Size> read_image_header_size(const std::vector<unsigned char>& bytes) {
  if (is_jpeg(bytes)) {
    const std::optional<JpegHeader> header = read_jpeg_header(bytes);
    return header ? std::optional<cv::Size>(header->size) : std::nullopt;
  }
  if (starts_with(bytes, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}))
    return png_header_size(bytes);
  return std::nullopt;
}

PhotographFile load_photograph_file(const std::string& path, const PhotographLimits& limits) {
  PhotographFile photo;
  const std::string refused = "Cannot load the photograph " + path;
  photo.message = refused;

  const RegularFile file = open_regular_file(path);
  if (file.status == RegularFile::cannot_open) {
    // Missing (deleted during a run), no permission, ...: the system's reason.
    photo.message = refused + ": " + error_text(file.error);
    return photo;
  }
  if (file.status == RegularFile::not_regular) {
    photo.status = PhotographFile::not_regular;
    photo.message = refused + ": not a regular file";
    return photo;
  }

  std::vector<unsigned char> bytes;
  struct stat status = file.file_status;
  ReadResult read = ReadResult::failed;
  try {
    read = read_unchanged(file.fd, status, limits.max_file_bytes, bytes);
  } catch (const std::bad_alloc&) {
    read = ReadResult::failed;
  }
  ::close(file.fd);
  if (read == ReadResult::too_large) {
    photo.status = PhotographFile::too_many_bytes;
    photo.message = refused + ": the file is larger than the " +
                    std::to_string(limits.max_file_bytes) + " bytes allowed";
    return photo;
  }
  if (read != ReadResult::whole) {
    photo.status = PhotographFile::read_failed;
    photo.message = refused + ": it could not be read whole (a read error, or it kept changing)";
    return photo;
  }
  photo.stamp = stamp_of(status);
  photo.capture_date = capture_date_from_bytes(bytes.data(), bytes.size());

  const std::optional<JpegHeader> jpeg = is_jpeg(bytes) ? read_jpeg_header(bytes) : std::nullopt;
  const std::optional<cv::Size> size = jpeg ? jpeg->size : read_image_header_size(bytes);
  if (!size) {
    photo.status = PhotographFile::unknown_kind;
    photo.message = refused + ": not a JPEG or PNG file, or its header is damaged";
    return photo;
  }
  photo.stored_size = *size;
  const std::int64_t pixels = std::int64_t{size->width} * size->height;
  if (pixels > limits.max_pixels) {
    photo.status = PhotographFile::too_many_pixels;
    photo.message = refused + ": " + std::to_string(size->width) + " x " +
                    std::to_string(size->height) + " pixels, more than the " +
                    megapixels(static_cast<double>(limits.max_pixels)) + " megapixels allowed";
    return photo;
  }
  if (jpeg && !jpeg_ends_after_scan(bytes, jpeg->scan_offset)) {
    photo.status = PhotographFile::cannot_decode;
    photo.message = refused + ": the file ends inside the image data (damaged)";
    return photo;
  }
  const std::string damage = jpeg ? jpeg_data_problem(bytes) : png_data_problem(bytes);
  if (!damage.empty()) {
    photo.status = PhotographFile::cannot_decode;
    photo.message = refused + ": " + damage;
    return photo;
  }

  try {
    // imdecode turns the image upright by its EXIF orientation, as imread does.
    const cv::Mat encoded(1, static_cast<int>(bytes.size()), CV_8UC1, bytes.data());
    photo.image = cv::imdecode(encoded, cv::IMREAD_COLOR);
  } catch (const cv::Exception&) {
    photo.image.release();  // includes running out of memory
  } catch (const std::bad_alloc&) {
    photo.image.release();
  }
  if (photo.image.empty()) {
    photo.status = PhotographFile::cannot_decode;
    photo.message = refused +
                    ": the decoder could not read its image data (damaged, or too "
                    "little memory)";
    return photo;
  }
  photo.status = PhotographFile::loaded;
  photo.message.clear();
  return photo;
}

}  // namespace meravel
