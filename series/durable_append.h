// Appending to the program's record files exactly once: the bytes are in the file and on disk, or
// the file holds exactly what it held before, whatever fails and however many instances of the
// program append at the same time.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "series/file_operations.h"

namespace meravel {

// What a file holds at its end once the append holds its lock.
struct LockedFileEnd {
  off_t size = 0;  // bytes before this append
  // Whether the last byte is a line break. Also true for an empty file, and for a file whose last
  // byte cannot be read (opened write-only): every append ends its bytes with a line break, and a
  // stray empty line is what a wrong guess would cost.
  bool ends_with_line_break = true;
};

// One file's part of a save: its path, and the bytes to append, chosen from what the file holds
// while it is locked (a header for an empty file, a line break after a last line without one).
struct PlannedAppend {
  std::string path;
  std::function<std::string(const LockedFileEnd&)> bytes;
};

struct AppendOutcome {
  bool saved = false;
  // When not saved: the one line for the user, e.g. "ERROR writing file: No space left on device
  // (measures.csv). Nothing was saved."
  std::string failure;
  // The first part of that line, without the file name and the closing sentence, e.g.
  // "ERROR writing file: No space left on device".
  std::string reason;
  // Only after a failed write whose roll-back failed too: the file may still hold part of the
  // bytes. `failure` then says so instead of "Nothing was saved.".
  bool file_left_changed = false;
  // A save made only for a photograph without a record found one under the lock (another
  // instance saved it meanwhile): nothing was written, and it is no failure.
  bool already_measured = false;
};

// Appends to each file of `appends`, all of them or none:
//  1. opens every file (creating a missing one) and takes its exclusive lock, in the order given,
//     so that two saves of the same files never wait for each other in a circle; a file that is
//     not a regular file is refused before anything is written;
//  2. asks each for its bytes, seeing its end under the lock, and appends them through a second
//     descriptor, which is synced and closed: an error that only close reports (a network file
//     system) counts like a failed write; a new file's directory is synced too;
//  3. on any failure cuts every file appended so far back to its size before this call, syncs it,
//     and only then releases the locks, so that no other instance appends in between and no
//     record of another instance is ever cut.
// Returns saved only when every byte of every file reached the disk.
AppendOutcome append_durably(const std::vector<PlannedAppend>& appends,
                             FileOperations& operations = posix_file_operations());

}  // namespace meravel
