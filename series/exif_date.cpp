#include "series/exif_date.h"

#include <libexif/exif-data.h>

CaptureDate read_capture_date(const std::string& image_path) {
  CaptureDate date;
  ExifData* data = exif_data_new_from_file(image_path.c_str());
  if (!data) return date;
  ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_DATE_TIME);
  if (!entry) {
    date.status = CaptureDate::no_entry;
  } else {
    char value[1024] = {};
    exif_entry_get_value(entry, value, sizeof value);
    date.status = CaptureDate::found;
    date.text = value;
    // Only the date's two separators: the time keeps its colons.
    int replaced = 0;
    for (char& c : date.text) {
      if (c == ':' && replaced < 2) {
        c = '-';
        ++replaced;
      }
    }
  }
  exif_data_unref(data);
  return date;
}
