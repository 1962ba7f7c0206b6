// The capture date of a photograph: the DateTime entry (tag 0x0132) of IFD 0 of its EXIF data,
// and beside it the DateTimeOriginal entry (tag 0x9003) of the EXIF IFD, read from the same data.
#pragma once

#include <cstddef>
#include <string>

namespace meravel {

struct CaptureDate {
  enum Status {
    found,         // `text` holds the entry's value
    no_exif_data,  // the file is unreadable or holds no EXIF data
    no_entry,      // EXIF data without tag 0x0132 in IFD 0
  };
  Status status = no_exif_data;
  // The value as libexif renders it (at most 1023 bytes), with its first two ":" turned into "-":
  // "2012:04:02 09:05:03" becomes "2012-04-02 09:05:03". Empty unless `status` is found.
  std::string text;
  // DateTimeOriginal (tag 0x9003) in the same form; empty when the data holds no such entry.
  std::string original_text;
};

// The capture date of the photograph file at `path`, as libexif's file reader finds it. A file
// that is not a regular file (a FIFO, a device) counts as unreadable and is not waited for.
CaptureDate read_capture_date(const std::string& image_path);

// The capture date in the bytes of a whole photograph file: exactly what read_capture_date gives
// for a file holding these bytes. (libexif's exif_data_new_from_data looks for the EXIF block
// another way than its file reader and misses it behind a comment or a table segment.)
CaptureDate capture_date_from_bytes(const unsigned char* bytes, std::size_t size);

}  // namespace meravel
