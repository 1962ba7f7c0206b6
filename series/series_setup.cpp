#include "series/series_setup.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "series/random_order_file.h"
#include "series/status_line.h"

const char kNoSeriesMessage[] = "No jpg containing directory selected.";

unsigned time_order_seed() { return static_cast<unsigned>(std::time(nullptr)); }

namespace {

bool ends_with(const std::string& text, const char* suffix) {
  const std::size_t length = std::char_traits<char>::length(suffix);
  return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// The name with CR and LF shown as \r and \n, so that a message naming it stays one line.
std::string printable_name(const std::string& name) {
  std::string text;
  for (char c : name) {
    if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n";
    } else {
      text += c;
    }
  }
  return text;
}

struct DirectoryScan {
  std::vector<SeriesEntry> images;  // in listing order, keys 0
  bool has_order_file = false;
};

// Reads the listing in the order it delivers the entries ("." and ".." included).
DirectoryScan scan_listing(DIR* listing) {
  DirectoryScan scan;
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (is_series_image_name(name)) {
      if (is_storable_name(name)) {
        scan.images.push_back({name, 0});
      } else {
        // Its name would split or end a line of the order file or the measures file.
        write_status_line("File name with ';' or a line break left out of the series: " +
                          printable_name(name));
      }
    } else if (name == kRandomOrderFileName) {
      scan.has_order_file = true;
    }
  }
  return scan;
}

}  // namespace

bool is_series_image_name(const std::string& name) {
  // Six characters is the shortest name taken: "1.jpg" is left out, "12.jpg" is taken.
  return name.size() > 5 && (ends_with(name, ".jpg") || ends_with(name, ".JPG"));
}

bool is_storable_name(const std::string& name) {
  return name.find_first_of(";\r\n") == std::string::npos;
}

SetupOutcome set_up_series(SeriesState& state, const std::string& directory,
                           const OrderSeed& seed) {
  state.series_directory = directory;
  if (directory.empty()) return SetupOutcome::no_directory_text;

  DIR* listing = opendir(directory.c_str());
  if (!listing) {
    write_status_line(directory + " is no valid directory.");
    return SetupOutcome::invalid_directory;
  }
  state.file_list.clear();
  state.current_index = 0;
  DirectoryScan scan = scan_listing(listing);

  if (scan.images.empty()) {
    closedir(listing);
    write_status_line(kNoSeriesMessage);
    return SetupOutcome::no_images;
  }
  if (closedir(listing) != 0) std::perror("closedir");

  const std::string order_path = directory + "/" + kRandomOrderFileName;
  if (scan.has_order_file) {
    // The series is the list in the order file, whatever the directory holds now.
    if (!read_random_order_file(order_path, state.file_list)) {
      write_status_line("Unable to open file " + order_path);
      return SetupOutcome::order_file_unreadable;
    }
  } else {
    state.file_list = std::move(scan.images);
    draw_order_keys(state.file_list, seed());
    if (!write_random_order_file(order_path, state.file_list)) {
      // The order then holds for this set-up only; the next one draws afresh.
      write_status_line("Unable to write file " + order_path);
    }
  }
  std::sort(state.file_list.begin(), state.file_list.end());
  return SetupOutcome::complete;
}
