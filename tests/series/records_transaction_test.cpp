// The two record files as one: a save killed at any write or sync of its own leaves files that the
// next start brings back into step; record files in a bad state refuse a save and stay as they
// were; a save that is only wanted for an unmeasured photograph does nothing once it has a record.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "series/csv_text.h"
#include "series/measurement_save.h"
#include "series/records_check.h"
#include "series/records_journal.h"
#include "test_support.h"

using namespace meravel;

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The real calls, except that the process kills itself at its `kill_at`-th write, sync or
// truncation (from 1; 0 never): a write first puts half its bytes through, as a kill in the middle
// of a large write would leave them.
class KillingFileOperations : public PosixFileOperations {
 public:
  explicit KillingFileOperations(int kill_at) : kill_at_(kill_at) {}
  int calls() const { return calls_; }

  ssize_t write(int fd, const void* data, std::size_t size) override {
    if (next_is_fatal()) {
      (void)!PosixFileOperations::write(fd, data, size / 2);
      ::raise(SIGKILL);
    }
    return PosixFileOperations::write(fd, data, size);
  }
  int fsync(int fd) override {
    if (next_is_fatal()) ::raise(SIGKILL);
    return PosixFileOperations::fsync(fd);
  }
  int ftruncate(int fd, off_t length) override {
    if (next_is_fatal()) ::raise(SIGKILL);
    return PosixFileOperations::ftruncate(fd, length);
  }

 private:
  bool next_is_fatal() { return ++calls_ == kill_at_; }
  int kill_at_;
  int calls_ = 0;
};

DetailsRecord record_of(const std::string& name) {
  DetailsRecord record;
  record.file = name;
  record.energy_px = 0.5;
  record.lambda_milli = 1100;
  record.width = 300;
  record.height_px = 360;
  return record;
}

AppendOutcome save(const std::string& directory, const std::string& name,
                   FileOperations& operations = posix_file_operations(),
                   SaveIf condition = SaveIf::always()) {
  std::ostringstream out;
  return save_measurement_with_details(directory, CaptureDate{}, 1.1, record_of(name), out,
                                       fixed_measuring_time, operations, condition);
}

// The names of measures.csv's records and of the details file's rows, as a reader takes them.
std::vector<std::string> measures_names(const std::string& directory) {
  std::vector<std::string> names;
  std::istringstream lines(read_file(directory + "/measures.csv"));
  std::string line;
  std::getline(lines, line);  // the header
  while (std::getline(lines, line)) {
    if (!line.empty()) names.push_back(line.substr(0, line.find(';')));
  }
  return names;
}

std::vector<std::string> details_names(const std::string& directory) {
  const CsvText csv = parse_csv(read_file(directory + "/measures_details.csv"));
  EXPECT_EQ(csv.problem, "");
  std::vector<std::string> names;
  for (std::size_t i = 1; i < csv.records.size(); ++i) {
    EXPECT_EQ(csv.records[i].fields.size(), kDetailsColumns.size());
    names.push_back(csv.records[i].fields.front());
  }
  return names;
}

// Runs `save` in a child process and returns how it ended: the signal that killed it, or 0.
int signal_ending(const std::function<void()>& body) {
  const pid_t child = ::fork();
  if (child == 0) {
    body();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

}  // namespace

// A kill at each write, sync and truncation of a save, into new files and into files with records:
// after the next start both files hold the same records, the earlier ones untouched, and the save
// made again lands in both.
TEST(RecordsTransaction, AKillAtAnyStepOfASaveLeavesBothFilesInStepAtTheNextStart) {
  for (const int earlier_records : {0, 2}) {
    // How many steps a whole save takes, counted on a save that is not killed.
    int steps = 0;
    {
      TempDirectory directory;
      for (int i = 0; i < earlier_records; ++i) ASSERT_TRUE(save(directory.path(), "a.jpg").saved);
      KillingFileOperations counting(0);
      ASSERT_TRUE(save(directory.path(), "b.jpg", counting).saved);
      steps = counting.calls();
    }
    ASSERT_GE(steps, 6);  // journal, two appends with their syncs, the journal emptied
    for (int kill_at = 1; kill_at <= steps; ++kill_at) {
      SCOPED_TRACE(std::to_string(earlier_records) + " records, killed at step " +
                   std::to_string(kill_at) + " of " + std::to_string(steps));
      TempDirectory directory;
      for (int i = 0; i < earlier_records; ++i) ASSERT_TRUE(save(directory.path(), "a.jpg").saved);
      const std::vector<std::string> before(earlier_records, "a.jpg");
      ASSERT_EQ(signal_ending([&] {
                  KillingFileOperations killing(kill_at);
                  save(directory.path(), "b.jpg", killing);
                }),
                SIGKILL);

      const SeriesRecords next_start = open_series_records(directory.path());
      EXPECT_EQ(next_start.problem, "");
      const std::vector<std::string> measured = measures_names(directory.path());
      EXPECT_EQ(measured, details_names(directory.path()));
      // Taken back, or whole in both when only the journal's emptying was cut short.
      std::vector<std::string> with_b = before;
      with_b.push_back("b.jpg");
      EXPECT_TRUE(measured == before || measured == with_b);

      ASSERT_TRUE(save(directory.path(), "c.jpg").saved);
      EXPECT_EQ(measures_names(directory.path()), details_names(directory.path()));
      EXPECT_EQ(measures_names(directory.path()).back(), "c.jpg");
    }
  }
}

// A journal left by a save cut short is taken back by the next save itself, without a start.
TEST(RecordsTransaction, TheNextSaveTakesBackAnUnfinishedOne) {
  TempDirectory directory;
  ASSERT_TRUE(save(directory.path(), "a.jpg").saved);
  const std::string measures = read_file(directory / "measures.csv");
  // Killed after measures.csv's record was synced, before the details row.
  ASSERT_EQ(signal_ending([&] {
              KillingFileOperations killing(5);  // journal write, sync; measures write, sync; ...
              save(directory.path(), "b.jpg", killing);
            }),
            SIGKILL);
  ASSERT_NE(read_file(directory / "measures.csv"), measures);  // one record ahead
  ASSERT_TRUE(save(directory.path(), "c.jpg").saved);
  EXPECT_EQ(measures_names(directory.path()), (std::vector<std::string>{"a.jpg", "c.jpg"}));
  EXPECT_EQ(details_names(directory.path()), measures_names(directory.path()));
}

// Record files that a save would break further: each refuses the save with the file's name and
// what is wrong, and neither file changes.
TEST(RecordsTransaction, RecordFilesInABadStateRefuseTheSave) {
  const std::string header = format_details_header();
  const std::string measures_header = std::string(kMeasuresHeader) + "\n";
  const std::string line = "a.jpg;;2026-01-01 10:00:00;1.1;0.5;\n";
  std::string row;
  {
    TempDirectory scratch;
    ASSERT_TRUE(save(scratch.path(), "a.jpg").saved);
    const std::string details = read_file(scratch / "measures_details.csv");
    row = details.substr(header.size());
  }
  const std::string whole_measures = measures_header + line;
  const std::string none = "-";  // no file
  const struct {
    const char* what;
    std::string measures;
    std::string details;
    const char* failure;
  } cases[] = {
      {"foreign measures header", "name;date;\na.jpg;x;\n", none,
       "ERROR checking file: its first line is not the header"},
      {"measures cut off mid-line", measures_header + line.substr(0, 12), none,
       "line 2 is not a whole record (2 of its 5"},
      {"foreign details header", whole_measures, "a,b,c\n1,2,3\n",
       "its header is not the column list of this program's details file (measures_details.csv)"},
      {"details reordered header", whole_measures, "capture_date,file\n",
       "its header is not the column list"},
      {"details cut inside a quoted field", whole_measures, header + "\"a.jpg,",
       "it cannot be read from line 2 on"},
      {"details cut mid-row", whole_measures, header + row.substr(0, row.size() / 2),
       "the row on line 2 has"},
      {"details missing, measures with records", whole_measures, none,
       "the file is missing or empty, while measures.csv holds 1 records (measures_details.csv)"},
      {"measures empty, details with records", "", header + row,
       "the file is missing or empty, while measures_details.csv holds 1 records (measures.csv)"},
      {"one record more in measures", whole_measures, header,
       "out of step from record 1 on (measures.csv holds 1 records, measures_details.csv 0)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDirectory directory;
    directory.write("measures.csv", c.measures);
    if (c.details != none) directory.write("measures_details.csv", c.details);
    const std::string measures_before = read_file(directory / "measures.csv");
    const std::string details_before = read_file(directory / "measures_details.csv");
    const bool details_existed = directory.exists("measures_details.csv");

    const AppendOutcome outcome = save(directory.path(), "b.jpg");
    EXPECT_FALSE(outcome.saved);
    EXPECT_NE(outcome.failure.find(c.failure), std::string::npos) << outcome.failure;
    EXPECT_NE(outcome.failure.find("Nothing was saved."), std::string::npos);
    EXPECT_EQ(read_file(directory / "measures.csv"), measures_before);
    EXPECT_EQ(read_file(directory / "measures_details.csv"), details_before);
    EXPECT_EQ(directory.exists("measures_details.csv"), details_existed);
    // The start of work on the series says the same.
    EXPECT_NE(open_series_records(directory.path()).problem, "");
  }
}

// A details file written by an earlier version has fewer columns, the first ones of today's list:
// it is rewritten with today's header and its rows get the new columns empty, then the save goes
// on in step.
TEST(RecordsTransaction, AnEarlierVersionsDetailsFileGetsTheNewColumns) {
  TempDirectory directory;
  ASSERT_TRUE(save(directory.path(), "a.jpg").saved);
  const CsvText today = parse_csv(read_file(directory / "measures_details.csv"));
  std::vector<std::string> old_header = kDetailsColumns;
  old_header.resize(kDetailsColumns.size() - 3);
  std::vector<std::string> old_row = today.records[1].fields;
  old_row.resize(old_header.size());
  directory.write("measures_details.csv", csv_record(old_header) + csv_record(old_row));

  ASSERT_TRUE(save(directory.path(), "b.jpg").saved);
  const CsvText migrated = parse_csv(read_file(directory / "measures_details.csv"));
  ASSERT_EQ(migrated.records.size(), 3u);
  EXPECT_EQ(migrated.records[0].fields, kDetailsColumns);
  std::vector<std::string> expected = old_row;
  expected.resize(kDetailsColumns.size());
  EXPECT_EQ(migrated.records[1].fields, expected);
  const size_t version_at = std::find(kDetailsColumns.begin(), kDetailsColumns.end(), "version") -
                            kDetailsColumns.begin();
  EXPECT_EQ(migrated.records[2].fields.at(version_at), kProgramVersion);
  EXPECT_EQ(details_names(directory.path()), measures_names(directory.path()));
}

// A save wanted only while the photograph has the records seen at the start writes nothing once
// another save came between, whoever made it; one that always saves (the window's ENTER) saves
// again.
TEST(RecordsTransaction, ASaveForAnUnmeasuredPhotographSkipsOneMeasuredMeanwhile) {
  TempDirectory directory;
  ASSERT_TRUE(save(directory.path(), "a.jpg").saved);
  const AppendOutcome skipped =
      save(directory.path(), "a.jpg", posix_file_operations(), SaveIf::records_unchanged(0));
  EXPECT_FALSE(skipped.saved);
  EXPECT_TRUE(skipped.already_measured);
  EXPECT_EQ(skipped.failure, "");
  EXPECT_TRUE(
      save(directory.path(), "b.jpg", posix_file_operations(), SaveIf::records_unchanged(0)).saved);
  // A photograph measured again (its record withdrawn) is saved while its count is the one seen.
  EXPECT_FALSE(
      save(directory.path(), "a.jpg", posix_file_operations(), SaveIf::records_unchanged(0)).saved);
  EXPECT_TRUE(
      save(directory.path(), "b.jpg", posix_file_operations(), SaveIf::records_unchanged(1)).saved);
  EXPECT_TRUE(save(directory.path(), "a.jpg").saved);
  EXPECT_EQ(measures_names(directory.path()),
            (std::vector<std::string>{"a.jpg", "b.jpg", "b.jpg", "a.jpg"}));
}

// The journal's form: what was written reads back; a journal cut short anywhere reads as none.
TEST(RecordsJournalText, ACutShortJournalHoldsNoSizes) {
  const std::vector<JournalEntry> entries = {{"measures.csv", 120}, {"measures_details.csv", 0}};
  const std::string text = format_journal(entries);
  const std::vector<JournalEntry> read = parse_journal(text);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].name, "measures.csv");
  EXPECT_EQ(read[0].size, 120);
  EXPECT_EQ(read[1].size, 0);
  for (std::size_t length = 0; length < text.size(); ++length) {
    SCOPED_TRACE(length);
    EXPECT_TRUE(parse_journal(text.substr(0, length)).empty());
  }
}
