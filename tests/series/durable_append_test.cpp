// Appending to several files all or nothing, files that are no place for a record, and several
// processes appending to one file at once.
#include "series/durable_append.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "series/file_faults.h"
#include "series/measures_file.h"
#include "test_support.h"

using namespace meravel;

namespace {

using Call = FaultyFileOperations::Call;

const std::string kHeader = "Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;\n";

PlannedAppend constant_append(const std::string& path, const std::string& bytes) {
  return {path, [bytes](const LockedFileEnd&) { return bytes; }};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The exit status of a child that ran `body`, or -1 when it did not exit by itself.
int wait_for(pid_t child) {
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

template <class Body>
pid_t run_in_child(Body body) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) _exit(body() ? 0 : 1);
  return child;
}

}  // namespace

// A save of two files: when the second fails, the first is cut back while both are locked, so
// the files never disagree.
TEST(DurableAppend, TwoFilesAreAppendedBothOrNeither) {
  struct Case {
    const char* what;
    Call call;
    int error;
    const char* path_ending;
    bool saved;
    const char* failure;
  } const cases[] = {
      {"both written", Call::write, ENOSPC, "unused.csv", true, ""},
      {"second file's disk is full", Call::write, ENOSPC, "b.csv", false,
       "ERROR writing file: No space left on device (b.csv). Nothing was saved."},
      {"second file cannot be synced", Call::fsync, EIO, "b.csv", false,
       "ERROR syncing file: Input/output error (b.csv). Nothing was saved."},
      {"second file's close fails", Call::close, EIO, "b.csv", false,
       "ERROR closing file: Input/output error (b.csv). Nothing was saved."},
      {"second file cannot be opened", Call::open, EACCES, "b.csv", false,
       "ERROR opening file: Permission denied (b.csv). Nothing was saved."},
      {"second file stays locked", Call::lock, EWOULDBLOCK, "b.csv", false,
       "ERROR locking file: another program keeps it locked (b.csv). Nothing was saved."},
      {"first file's disk is full", Call::write, ENOSPC, "a.csv", false,
       "ERROR writing file: No space left on device (a.csv). Nothing was saved."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDirectory dir;
    dir.write("a.csv", "a1\n");
    dir.write("b.csv", "b1\n");
    FaultyFileOperations operations;
    operations.fail(c.call, c.error, c.path_ending);
    const AppendOutcome outcome = append_durably(
        {constant_append(dir / "a.csv", "a2\n"), constant_append(dir / "b.csv", "b2\n")},
        operations);
    EXPECT_EQ(outcome.saved, c.saved);
    EXPECT_EQ(outcome.failure, c.failure);
    EXPECT_FALSE(outcome.file_left_changed);
    EXPECT_EQ(dir.read("a.csv"), c.saved ? "a1\na2\n" : "a1\n");
    EXPECT_EQ(dir.read("b.csv"), c.saved ? "b1\nb2\n" : "b1\n");
  }
}

TEST(DurableAppend, AFirstFileThatCannotBeCutBackIsNamed) {
  TempDirectory dir;
  dir.write("a.csv", "a1\n");
  dir.write("b.csv", "b1\n");
  FaultyFileOperations operations;
  operations.fail(Call::write, ENOSPC, "b.csv");
  operations.fail(Call::ftruncate, EIO, "a.csv");
  const AppendOutcome outcome = append_durably(
      {constant_append(dir / "a.csv", "a2\n"), constant_append(dir / "b.csv", "b2\n")}, operations);
  EXPECT_FALSE(outcome.saved);
  EXPECT_TRUE(outcome.file_left_changed);
  EXPECT_EQ(outcome.failure,
            "ERROR writing file: No space left on device (b.csv), and cutting a.csv back failed "
            "too: it may hold part of this record; check it before saving again.");
  EXPECT_EQ(dir.read("a.csv"), "a1\na2\n");
  EXPECT_EQ(dir.read("b.csv"), "b1\n");
}

// Only a regular file takes a record; anything else is refused before a byte is written, and a
// FIFO does not make the program wait for its other end.
TEST(DurableAppend, OnlyRegularFilesAreAppendedTo) {
  TempDirectory dir;
  dir.write("target.csv", "t1\n");
  ASSERT_EQ(symlink("target.csv", (dir / "link.csv").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "fifo.csv").c_str(), 0644), 0);
  dir.make_directory("directory.csv");
  struct Case {
    std::string path;
    const char* failure;  // empty: saved
  } const cases[] = {
      {dir / "link.csv", ""},
      {dir / "fifo.csv", "ERROR opening file: not a regular file (fifo.csv). Nothing was saved."},
      {dir / "directory.csv",
       "ERROR opening file: Is a directory (directory.csv). Nothing was saved."},
      {"/dev/full", "ERROR opening file: not a regular file (full). Nothing was saved."},
      {"/dev/null", "ERROR opening file: not a regular file (null). Nothing was saved."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const AppendOutcome outcome = append_durably({constant_append(c.path, "x\n")});
    EXPECT_EQ(outcome.saved, std::string(c.failure).empty());
    EXPECT_EQ(outcome.failure, c.failure);
  }
  EXPECT_EQ(dir.read("target.csv"), "t1\nx\n");  // through the link
}

// A lock that is never released (a hung or stopped instance) ends the wait with a line instead
// of a frozen window.
TEST(DurableAppend, ALockHeldTooLongEndsTheWait) {
  TempDirectory dir;
  dir.write("measures.csv", kHeader);
  const int holder = open((dir / "measures.csv").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  PosixFileOperations short_wait(std::chrono::milliseconds(100));
  const AppendOutcome outcome =
      append_measures_record(dir / "measures.csv", "a;;;1;1;\n", short_wait);
  EXPECT_FALSE(outcome.saved);
  EXPECT_EQ(
      outcome.failure,
      "ERROR locking file: another program keeps it locked (measures.csv). Nothing was saved.");
  EXPECT_EQ(dir.read("measures.csv"), kHeader);

  close(holder);
  EXPECT_TRUE(append_measures_record(dir / "measures.csv", "a;;;1;1;\n", short_wait).saved);
  EXPECT_EQ(dir.read("measures.csv"), kHeader + "a;;;1;1;\n");
}

// A file deleted or renamed while the save waited for its lock is not where anyone looks: the
// record goes to the file the path names after that.
TEST(DurableAppend, AFileReplacedWhileWaitingIsNotWrittenTo) {
  TempDirectory dir;
  dir.write("measures.csv", kHeader + "old;;;1;1;\n");
  FaultyFileOperations operations;
  int locks = 0;
  operations.after_lock = [&] {
    if (locks++ > 0) return;
    ASSERT_EQ(std::rename((dir / "measures.csv").c_str(), (dir / "measures.old").c_str()), 0);
    dir.write("measures.csv", kHeader + "new;;;1;1;\n");
  };
  const AppendOutcome outcome =
      append_measures_record(dir / "measures.csv", "a;;;1;1;\n", operations);
  EXPECT_TRUE(outcome.saved) << outcome.failure;
  EXPECT_EQ(locks, 2);
  EXPECT_EQ(dir.read("measures.old"), kHeader + "old;;;1;1;\n");
  EXPECT_EQ(dir.read("measures.csv"), kHeader + "new;;;1;1;\na;;;1;1;\n");
}

// Two instances of the program save to one measures file at the same moment. The first holds the
// lock and is slow (a test hook sleeps before each of its writes); the second must wait for it,
// must not cut its record off when the first fails, and only the one that finds the file empty
// writes the header.
TEST(DurableAppend, TwoProcessesAppendingAtOnceLoseNoRecord) {
  const std::string slow_record = "slow.jpg;;2012-04-02 09:05:03;1;1;\n";
  const std::string fast_record = "fast.jpg;;2012-04-02 09:05:04;2;2;\n";
  struct Case {
    const char* what;
    bool file_exists;
    bool slow_one_fails;  // with a full disk after part of its record
    std::string after;
  } const cases[] = {
      {"new file, both succeed", false, false, kHeader + slow_record + fast_record},
      {"new file, the slow one fails", false, true, kHeader + fast_record},
      {"existing file, both succeed", true, false,
       kHeader + "a;;;1;1;\n" + slow_record + fast_record},
      {"existing file, the slow one fails", true, true, kHeader + "a;;;1;1;\n" + fast_record},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDirectory dir;
    const std::string file = dir / "measures.csv";
    if (c.file_exists) dir.write("measures.csv", kHeader + "a;;;1;1;\n");
    int locked[2];
    ASSERT_EQ(pipe(locked), 0);
    const pid_t slow = run_in_child([&] {
      FaultyFileOperations operations;
      operations.after_lock = [&] {
        const char byte = 1;
        (void)!write(locked[1], &byte, 1);
      };
      operations.before_write = [] { usleep(300 * 1000); };
      if (c.slow_one_fails) {
        operations.fail(Call::write, ENOSPC);
        operations.bytes_before_failure = (c.file_exists ? 0 : kHeader.size()) + 10;
      }
      return append_measures_record(file, slow_record, operations).saved != c.slow_one_fails;
    });
    char byte = 0;
    ASSERT_EQ(read(locked[0], &byte, 1), 1);  // the slow one holds the lock now
    const pid_t fast =
        run_in_child([&] { return append_measures_record(file, fast_record).saved; });
    EXPECT_EQ(wait_for(slow), 0);
    EXPECT_EQ(wait_for(fast), 0);
    close(locked[0]);
    close(locked[1]);
    EXPECT_EQ(dir.read("measures.csv"), c.after);
  }
}

TEST(DurableAppend, ManyProcessesAppendingKeepEveryRecordAndOneHeader) {
  constexpr int kProcesses = 6;
  constexpr int kRecordsEach = 25;
  TempDirectory dir;
  const std::string file = dir / "measures.csv";
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(run_in_child([&] {
      for (int r = 0; r < kRecordsEach; ++r) {
        const std::string record =
            "p" + std::to_string(p) + "_" + std::to_string(r) + ".jpg;;;1;1;\n";
        if (!append_measures_record(file, record).saved) return false;
      }
      return true;
    }));
  }
  for (pid_t child : children) EXPECT_EQ(wait_for(child), 0);

  const std::vector<std::string> lines = lines_of(dir.read("measures.csv"));
  ASSERT_EQ(lines.size(), 1u + kProcesses * kRecordsEach);
  EXPECT_EQ(lines[0] + "\n", kHeader);
  std::map<std::string, int> seen;
  for (std::size_t i = 1; i < lines.size(); ++i) ++seen[lines[i]];
  for (int p = 0; p < kProcesses; ++p) {
    int last = -1;  // each process's records keep their order
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const std::string prefix = "p" + std::to_string(p) + "_";
      if (lines[i].rfind(prefix, 0) != 0) continue;
      const int r = std::stoi(lines[i].substr(prefix.size()));
      EXPECT_EQ(r, last + 1) << lines[i];
      last = r;
    }
    EXPECT_EQ(last, kRecordsEach - 1);
  }
  for (const auto& [line, count] : seen) EXPECT_EQ(count, 1) << line;
}
