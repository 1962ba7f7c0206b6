#include "series/exif_date.h"

#include <libexif/exif-data.h>
#include <libexif/exif-loader.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "series/regular_file.h"

namespace meravel {

namespace {

// libexif's file reader hands the file to its loader in pieces of this size, up to the piece on
// which the loader says it has seen enough; the same pieces from memory give the same data.
constexpr std::size_t kLoaderPiece = 1024;

// The entry's value as libexif renders it, with the date's two ":" turned into "-"; empty when
// there is no entry.
std::string date_text(ExifEntry* entry) {
  if (!entry) return std::string();
  char value[1024] = {};
  exif_entry_get_value(entry, value, sizeof value);
  std::string text = value;
  // Only the date's two separators: the time keeps its colons.
  int replaced = 0;
  for (char& c : text) {
    if (c == ':' && replaced < 2) {
      c = '-';
      ++replaced;
    }
  }
  return text;
}

CaptureDate date_in(ExifData* data) {
  CaptureDate date;
  if (!data) return date;
  ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_DATE_TIME);
  date.status = entry ? CaptureDate::found : CaptureDate::no_entry;
  date.text = date_text(entry);
  date.original_text =
      date_text(exif_content_get_entry(data->ifd[EXIF_IFD_EXIF], EXIF_TAG_DATE_TIME_ORIGINAL));
  exif_data_unref(data);
  return date;
}

// Reads up to one piece, as fread does: short only at the end of the file or on an error.
std::size_t read_piece(int fd, unsigned char* piece) {
  std::size_t length = 0;
  while (length < kLoaderPiece) {
    const ssize_t n = ::read(fd, piece + length, kLoaderPiece - length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    length += static_cast<std::size_t>(n);
  }
  return length;
}

}  // namespace

CaptureDate read_capture_date(const std::string& image_path) {
  const RegularFile file = open_regular_file(image_path);
  if (file.status != RegularFile::opened) return CaptureDate{};
  ExifLoader* loader = exif_loader_new();
  unsigned char piece[kLoaderPiece];
  while (const std::size_t length = read_piece(file.fd, piece)) {
    if (!exif_loader_write(loader, piece, static_cast<unsigned int>(length))) break;
  }
  ::close(file.fd);
  ExifData* data = exif_loader_get_data(loader);
  exif_loader_unref(loader);
  return date_in(data);
}

CaptureDate capture_date_from_bytes(const unsigned char* bytes, std::size_t size) {
  ExifLoader* loader = exif_loader_new();
  unsigned char piece[kLoaderPiece];
  for (std::size_t at = 0; at < size; at += kLoaderPiece) {
    // The loader takes a pointer to writable bytes, though it only reads them.
    const std::size_t length = std::min(kLoaderPiece, size - at);
    std::copy(bytes + at, bytes + at + length, piece);
    if (!exif_loader_write(loader, piece, static_cast<unsigned int>(length))) break;
  }
  ExifData* data = exif_loader_get_data(loader);
  exif_loader_unref(loader);
  return date_in(data);
}

}  // namespace meravel
