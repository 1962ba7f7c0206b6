// The capture date of a photograph: the DateTime entry (tag 0x0132) of IFD 0 of its EXIF data.
#pragma once

#include <string>

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
};

CaptureDate read_capture_date(const std::string& image_path);
