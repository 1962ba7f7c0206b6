#include "series/series_from_directory.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <set>
#include <vector>

#include "series/random_order_file.h"
#include "series/status_line.h"

namespace meravel {

const char kNoSeriesMessage[] = "No jpg containing directory selected.";

unsigned time_order_seed() { return static_cast<unsigned>(std::time(nullptr)); }

namespace {

const char kQuoteMessage[] = "File name with '\"' left out of the series: ";

bool ends_with(const std::string& text, const char* suffix) {
  const std::size_t length = std::char_traits<char>::length(suffix);
  return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// The name with CR, LF and NUL shown as \r, \n and \0, so that a message naming it stays one
// line.
std::string printable_name(const std::string& name) {
  std::string text;
  for (char c : name) {
    if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '\0') {
      text += "\\0";
    } else {
      text += c;
    }
  }
  return text;
}

// Whether a listed entry is a regular file, following a symbolic link. The listing's own type
// saves a stat for most entries; some file systems do not give it.
bool is_regular_entry(DIR* listing, const dirent* entry) {
  if (entry->d_type == DT_REG) return true;
  if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) return false;
  struct stat status {};
  return fstatat(dirfd(listing), entry->d_name, &status, 0) == 0 && S_ISREG(status.st_mode);
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
      if (!is_storable_name(name)) {
        // Its name would split or end a line of the order file or the measures file.
        write_status_line("File name with ';' or a line break left out of the series: " +
                          printable_name(name));
      } else if (name.find('"') != std::string::npos) {
        // A reader of the details file's quoted fields would take it for the end of a field.
        write_status_line(kQuoteMessage + printable_name(name));
      } else if (const char* problem = series_name_problem(name)) {
        // Only "\\" can come from a listing: the order file would not let it in again.
        write_status_line(problem + printable_name(name));
      } else if (!is_regular_entry(listing, entry)) {
        // A directory has no pixels, and reading a FIFO or a device would block or never end.
        write_status_line("Not a regular file, left out of the series: " + printable_name(name));
      } else {
        scan.images.push_back({name, 0});
      }
    } else if (name == kRandomOrderFileName) {
      scan.has_order_file = true;
    }
  }
  return scan;
}

// Leaves out the entries read from an order file whose names could reach outside the series
// directory; a hand-edited order file is not trusted.
// A name listed twice would be measured twice in one run; the first line counts.
void drop_unsafe_names(std::vector<SeriesEntry>& entries, const std::string& order_path) {
  std::vector<SeriesEntry> kept;
  kept.reserve(entries.size());
  std::set<std::string> names;
  for (SeriesEntry& entry : entries) {
    if (const char* problem = series_name_problem(entry.name)) {
      write_status_line(problem + printable_name(entry.name));
    } else if (entry.name.find('"') != std::string::npos) {
      write_status_line(kQuoteMessage + printable_name(entry.name));
    } else if (!names.insert(entry.name).second) {
      write_status_line(order_path + " lists " + printable_name(entry.name) +
                        " more than once: it is measured once.");
    } else {
      kept.push_back(std::move(entry));
    }
  }
  entries = std::move(kept);
}

}  // namespace

bool is_series_image_name(const std::string& name) {
  // Six characters is the shortest name taken: "1.jpg" is left out, "12.jpg" is taken.
  return name.size() > 5 && (ends_with(name, ".jpg") || ends_with(name, ".JPG"));
}

bool is_storable_name(const std::string& name) {
  return name.find_first_of(";\r\n") == std::string::npos;
}

const char* series_name_problem(const std::string& name) {
  // The path of a photograph is the directory, "/" and the name: these would lead elsewhere, and
  // the C library would read a name with a NUL byte only up to it.
  if (name.find('\0') != std::string::npos)
    return "File name with a NUL byte left out of the series: ";
  if (name.find_first_of("/\\") != std::string::npos)
    return "File name with '/' or '\\' left out of the series: ";
  if (name == "." || name == "..") return "File name '.' or '..' left out of the series: ";
  return nullptr;
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
  bool order_stored = true;
  if (scan.has_order_file) {
    // The series is the list in the order file, whatever the directory holds now.
    OrderFileText order = read_order_file_text(order_path);
    if (!order.read) {
      write_status_line("Unable to open file " + order_path);
      return SetupOutcome::order_file_unreadable;
    }
    for (const auto& [number, line] : order.unread_lines) {
      write_status_line(
          "Line " + std::to_string(number) + " of " + order_path +
          " is not a name and a key, each ended by ';', and adds nothing: " + printable_name(line));
    }
    state.file_list = std::move(order.entries);
    drop_unsafe_names(state.file_list, order_path);
    if (state.file_list.empty()) write_status_line(order_path + " lists no photographs.");
  } else {
    state.file_list = std::move(scan.images);
    draw_order_keys(state.file_list, seed());
    if (!write_random_order_file(order_path, state.file_list)) {
      // The order then holds for this set-up only; the next one draws afresh.
      write_status_line("Unable to write file " + order_path);
      order_stored = false;
    }
  }
  std::sort(state.file_list.begin(), state.file_list.end());
  return order_stored ? SetupOutcome::complete : SetupOutcome::complete_order_not_stored;
}

}  // namespace meravel
