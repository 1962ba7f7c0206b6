// Checking the two record files, measures.csv and measures_details.csv, before anything is
// appended to them: a save adds its record only to files that this program can read back as a
// whole and that hold the same measurements in the same order. Called while the save's lock is
// held (records_journal.h), so that what was checked is what the save appends to.
#pragma once

#include <string>
#include <vector>

#include "series/file_operations.h"

namespace meravel {

struct RecordFilesCheck {
  // Empty when both files may be appended to; otherwise what is wrong, naming the file:
  // "measures_details.csv: its last row is cut off (line 12)". The save then writes nothing.
  std::string problem;
  // The file the problem is in, for the save's failure line.
  std::string problem_file;
  // The photograph names of measures.csv's records, in file order (empty when it cannot be read).
  std::vector<std::string> measured_names;
  // The details file's header is an earlier version's: the first columns of the present list,
  // in order. Its rows get the new columns (empty) before the next row is appended.
  bool details_header_is_older = false;
};

// Reads both files of `directory` and checks each one's header (measures.csv's exact header line;
// the details file's column list kDetailsColumns, or a leading part of it), its records (each
// with all its fields: a last line cut off lacks some; one whose line break alone is missing is
// whole, and the append puts the break in), that neither is missing or empty while the other
// holds records, and that both hold the same photographs in the same order. A file that exists
// but cannot be read (write only) is not checked.
RecordFilesCheck check_record_files(const std::string& directory);

// Rewrites the details file of `directory`, whose header is a leading part of kDetailsColumns,
// with the whole header and the missing columns empty in every row. The new text goes to a
// temporary file that is synced and then renamed over the old one, so that a kill leaves the old
// or the new file, never a mixture. Returns the reason of a failure, or the empty text.
std::string migrate_details_header(const std::string& directory);

}  // namespace meravel
