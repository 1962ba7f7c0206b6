// The random order file "random_order.csv": the fixed measuring order of a directory.
//
// Plain text, no header, one line per image file in the order the directory listing gave them
// when the file was created: the name, ";", the order key in decimal, ";", a line break. Once it
// exists the series of its directory is the list in this file, not the directory's contents.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "series/series_state.h"

namespace meravel {

// File name of the random order file inside the series directory.
extern const char kRandomOrderFileName[];

// Reads one line (without its LF) into `entry`. The name ends at the first ";" at a position
// above 0, the key at the next ";" and is read with atoi; anything after the second ";" (more
// fields, a CR) is ignored. Returns false, leaving `entry` alone, when either ";" is missing.
bool parse_random_order_line(const std::string& line, SeriesEntry& entry);

// Reads the whole file at `path` into `entries` (replacing their contents), lines ending at LF; a
// UTF-8 byte-order mark at its start is skipped.
// Returns false when the file cannot be opened, is not a regular file (a FIFO would block the
// program) or a read fails before its end; `entries` is then empty, since a partly read order
// would silently drop files from the series.
bool read_random_order_file(const std::string& path, std::vector<SeriesEntry>& entries);

// The whole file at `path` as read_random_order_file reads it, and which lines it left out.
struct OrderFileText {
  bool read = false;  // false: missing, unreadable, not a regular file or a failed read
  std::vector<SeriesEntry> entries;
  // The lines that are neither empty nor a name and key each ended by ";": their 1-based numbers
  // and their text (without the LF).
  std::vector<std::pair<int, std::string>> unread_lines;
};

// Reads the order file as read_random_order_file does, and also tells which lines it left out. A
// UTF-8 byte-order mark at the start of the file (an editor's addition) is not part of the first
// name.
OrderFileText read_order_file_text(const std::string& path);

// Gives every entry, from index 0 upwards, the next value of the C library's generator seeded
// with `seed` as its key.
void draw_order_keys(std::vector<SeriesEntry>& entries, unsigned seed);

// Writes `entries` in their present order to `path`, whole or not at all: the lines go to a
// temporary file in the same directory, which replaces `path` only after it was written and
// closed without error. On failure the temporary file is removed, `path` is left as it was and
// false is returned.
bool write_random_order_file(const std::string& path, const std::vector<SeriesEntry>& entries);

}  // namespace meravel
