// The intent journal of the two record files, "measures.journal" in the series directory: what
// makes a save over measures.csv and measures_details.csv one step. Before the first byte of a
// save is appended, the sizes both files had are written to the journal and synced; once both
// appends are on disk, the journal is emptied and synced. A journal that still holds sizes when
// the next save (or the next start) takes its lock belongs to a save that was cut short (a kill, a
// power cut): both files are cut back to those sizes, so that they hold the same records again.
// A save cut short was never reported as saved, so taking it back loses nothing that was promised.
//
// The journal file is also the lock of the whole save: every save of the program takes its
// exclusive lock first and keeps it until the journal is empty again, so the records of two
// instances never interleave and whether a photograph still needs measuring can be decided under
// it. Its form, one line per file: the size in bytes, a blank, the file's name; then "end".
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "series/file_operations.h"

namespace meravel {

// File name of the journal inside the series directory.
extern const char kRecordsJournalFileName[];

// A file of a save and its size before it.
struct JournalEntry {
  std::string name;  // inside the series directory
  off_t size = 0;
};

// The journal of one series directory, locked while this object lives (open succeeded).
class RecordsJournal {
 public:
  explicit RecordsJournal(FileOperations& operations = posix_file_operations())
      : operations_(operations) {}
  ~RecordsJournal();
  RecordsJournal(const RecordsJournal&) = delete;
  RecordsJournal& operator=(const RecordsJournal&) = delete;

  // Opens the journal of `directory` (creating it), takes its lock, waiting as an append waits,
  // and takes back a save that was cut short. Returns the reason of a failure ("ERROR opening
  // file: Permission denied"), or the empty text.
  // A journal that this user may read but not write (another user made it, in a shared series
  // whose record files both may write) is locked all the same, and the save goes on without its
  // sizes written, as saves went before there was a journal; one that holds sizes it cannot take
  // back refuses the save. A directory where this user may not make the journal saves without one.
  std::string open(const std::string& directory);

  // The files that the opening cut back, by name; empty when there was nothing to take back.
  const std::vector<std::string>& rolled_back() const { return rolled_back_; }

  // Writes the sizes of the files a save is about to append to, and syncs them. A missing file
  // counts as 0 bytes. Returns the reason of a failure, or the empty text.
  std::string begin(const std::vector<std::string>& names);

  // Empties the journal and syncs that: the save is complete (or was taken back by its own
  // roll-back). Returns the reason of a failure, or the empty text; the journal then still holds
  // its sizes and the next opening takes the save back.
  std::string commit();

 private:
  std::string roll_back(const std::string& text);

  FileOperations& operations_;
  std::string directory_;
  int fd_ = -1;
  bool writable_ = false;
  std::vector<std::string> rolled_back_;
};

// The journal's text for `entries`, and the entries a text holds: empty when the text is not a
// whole journal (one written part-way was never followed by an append).
std::string format_journal(const std::vector<JournalEntry>& entries);
std::vector<JournalEntry> parse_journal(const std::string& text);

}  // namespace meravel
