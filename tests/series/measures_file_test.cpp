// The measures file: the form of its numbers, dates and records, and appending to it without ever
// losing or damaging what it already holds.
#include "series/measures_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>

#include "series/file_faults.h"
#include "test_support.h"
#include "tools/demo_photo.h"

using namespace meravel;

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A fresh directory per test, removed afterwards.
class MeasuresDirectory : public testing::Test {
 protected:
  std::string path(const char* name) const { return directory_ / name; }
  std::string dir() const { return directory_.path(); }

  TempDirectory directory_;
};

// For the rest of the scope, a process running as root acts as the user nobody, so that file
// permissions bind it.
class AsOtherUser {
 public:
  AsOtherUser() {
    if (::geteuid() == 0) dropped_ = ::seteuid(65534) == 0;
  }
  ~AsOtherUser() {
    if (dropped_) {
      EXPECT_EQ(::seteuid(0), 0);
    }
  }

 private:
  bool dropped_ = false;
};

// Makes a file unwritable for the rest of the scope, also when the tests run as root (which
// ignores permission bits): the effective user then becomes "nobody" until the scope ends.
class WriteProtection {
 public:
  explicit WriteProtection(const std::string& path) : path_(path) {
    ::chmod(path.c_str(), 0444);
    if (::geteuid() == 0) dropped_ = ::seteuid(65534) == 0;
  }
  ~WriteProtection() {
    if (dropped_) {
      EXPECT_EQ(::seteuid(0), 0);
    }
    ::chmod(path_.c_str(), 0644);
  }

 private:
  std::string path_;
  bool dropped_ = false;
};

const std::string kHeader = "Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;\n";

}  // namespace

TEST(MeasuresFormat, NumbersAreWrittenLikePercentGWithADecimalPoint) {
  struct Case {
    double value;
    const char* text;
  } const cases[] = {
      {1.0, "1"},
      {1.25, "1.25"},
      {1.1, "1.1"},
      {3.456789, "3.45679"},
      {1234567.0, "1.23457e+06"},
      {999999.0, "999999"},
      {0.0001, "0.0001"},
      {0.00001234, "1.234e-05"},
      {0.0, "0"},
      {1.05, "1.05"},
      {std::numeric_limits<double>::infinity(), "inf"},
  };
  // A locale whose decimal separator is a comma must not leak into the file.
  const std::string old_locale = std::setlocale(LC_ALL, nullptr);
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 locale missing";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%g", 1.5);
  EXPECT_STREQ(probe, "1,5") << "the locale should have a decimal comma";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(format_measure_number(c.value), c.text);
  }
  const std::string record =
      format_measures_record("a.jpg", "", local_time(2012, 4, 2, 9, 5, 3), 1.25, 0.5);
  EXPECT_EQ(record, "a.jpg;;2012-04-02 09:05:03;1.25;0.5;\n");
  std::setlocale(LC_ALL, old_locale.c_str());
}

// printf's %g in the "C" locale is the yardstick for any value.
TEST(MeasuresFormat, NumbersMatchPrintfOnRandomValues) {
  std::mt19937_64 random(20120402);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-12, 12);
  for (int i = 0; i < 20000; ++i) {
    const double value = mantissa(random) * std::pow(10.0, exponent(random));
    char expected[64];
    std::snprintf(expected, sizeof expected, "%g", value);
    ASSERT_EQ(format_measure_number(value), expected) << value;
  }
}

TEST(MeasuresFormat, MeasuringDateHasFixedWidthPartsAndAPlainYear) {
  struct Case {
    std::tm time;
    const char* text;
  } const cases[] = {
      {local_time(2012, 4, 2, 9, 5, 3), "2012-04-02 09:05:03"},
      {local_time(1999, 12, 31, 23, 59, 59), "1999-12-31 23:59:59"},
      {local_time(2024, 1, 1, 0, 0, 0), "2024-01-01 00:00:00"},
      {local_time(987, 6, 7, 8, 9, 10), "987-06-07 08:09:10"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(format_measuring_date(c.time), c.text);
  }
}

TEST(MeasuresFormat, RecordOfTheExampleAndACaptureDateThatWouldBreakIt) {
  const std::tm measured = local_time(2012, 4, 2, 9, 5, 3);
  EXPECT_EQ(format_measures_record("IMG_0001.JPG", "2012-04-01 18:00:00", measured, 1.1, 3.456789),
            "IMG_0001.JPG;2012-04-01 18:00:00;2012-04-02 09:05:03;1.1;3.45679;\n");
  // A ";" or a line break in the photograph's text would add a field or a line.
  EXPECT_EQ(format_measures_record("b.JPG", "2012;04\r\n01\t\x7f", measured, 2, 1e300 * 1e300),
            "b.JPG;2012 04  01  ;2012-04-02 09:05:03;2;inf;\n");
}

TEST_F(MeasuresDirectory, AppendsAfterWhateverTheFileHolds) {
  const std::string record = "x.jpg;;2012-04-02 09:05:03;1;2;\n";
  struct Case {
    const char* name;
    const char* before;  // nullptr: no file
    bool last_byte_unreadable;
    std::string after;
  } const cases[] = {
      {"missing file", nullptr, false, kHeader + record},
      {"empty file, left by a failed first write", "", false, kHeader + record},
      {"file with header and a record", "H;\na;;;1;1;\n", false, "H;\na;;;1;1;\n" + record},
      {"last line without its line break", "H;\na;;;1;1;", false, "H;\na;;;1;1;\n" + record},
      {"CR LF line breaks", "H;\r\na;;;1;1;\r\n", false, "H;\r\na;;;1;1;\r\n" + record},
      // As with a write-only file: neither a blank line nor a second header in the middle.
      {"last byte cannot be read", "H;\na;;;1;1;\n", true, "H;\na;;;1;1;\n" + record},
      {"empty, and nothing can be read", "", true, kHeader + record},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = path("measures.csv");
    std::filesystem::remove(file);
    if (c.before) write_file(file, c.before);
    FaultyFileOperations operations;
    if (c.last_byte_unreadable) operations.fail(FaultyFileOperations::Call::pread, EBADF);
    const AppendOutcome outcome = append_measures_record(file, record, operations);
    EXPECT_TRUE(outcome.saved) << outcome.failure;
    EXPECT_EQ(read_file(file), c.after);
  }
}

// A file the user may write but not read: the program cannot see what it holds, and appends the
// record alone.
TEST_F(MeasuresDirectory, WriteOnlyFileGetsTheRecordAlone) {
  const std::string file = path("measures.csv");
  const std::string before = kHeader + "a.jpg;;;1;1;\n";
  write_file(file, before);
  ASSERT_EQ(::chmod(dir().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(file.c_str(), 0222), 0);
  AppendOutcome outcome;
  std::ostringstream out;
  {
    AsOtherUser other_user;
    const int readable = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (readable >= 0) ::close(readable);
    if (readable >= 0) GTEST_SKIP() << "cannot give up read access";
    outcome = save_measurement(dir(), "b.jpg", 1.5, 2, out, fixed_measuring_time);
  }
  ::chmod(file.c_str(), 0644);
  EXPECT_TRUE(outcome.saved) << outcome.failure;
  EXPECT_EQ(read_file(file), before + "b.jpg;;2012-04-02 09:05:03;1.5;2;\n");
}

TEST_F(MeasuresDirectory, WriteProtectedFileIsReportedAndLeftAlone) {
  const std::string file = path("measures.csv");
  write_file(file, kHeader + "a.jpg;;;1;1;\n");
  AppendOutcome outcome;
  {
    WriteProtection protection(file);
    outcome = append_measures_record(file, "b.jpg;;;1;1;\n");
  }
  EXPECT_FALSE(outcome.saved);
  EXPECT_EQ(outcome.failure,
            "ERROR opening file: Permission denied (measures.csv). Nothing was saved.");
  EXPECT_EQ(read_file(file), kHeader + "a.jpg;;;1;1;\n");
}

TEST_F(MeasuresDirectory, MissingDirectoryIsReported) {
  const AppendOutcome outcome =
      append_measures_record(path("gone") + "/measures.csv", "a;;;1;1;\n");
  EXPECT_FALSE(outcome.saved);
  EXPECT_EQ(outcome.failure,
            "ERROR opening file: No such file or directory (measures.csv). Nothing was saved.");
}

// Every way a save can fail after the file was opened: the user reads one line that says nothing
// was saved, and the file holds exactly what it held before, so that saving again gives the
// record once.
TEST_F(MeasuresDirectory, AFailedSaveLeavesTheFileAsItWas) {
  using Call = FaultyFileOperations::Call;
  const std::string record = "b.jpg;2012-04-01 18:00:00;2012-04-02 09:05:03;1.1;3.45679;\n";
  const std::string earlier = kHeader + "a.jpg;;2012-04-01 10:00:00;1;1;\n";
  struct Case {
    const char* what;
    Call call;
    int error;
    std::size_t bytes_before_failure;  // of a failing write
    const char* failure;               // before " (measures.csv). Nothing was saved."
  } const cases[] = {
      {"full disk at the first byte", Call::write, ENOSPC, 0,
       "ERROR writing file: No space left on device"},
      {"full disk in the middle of the record", Call::write, ENOSPC, 30,
       "ERROR writing file: No space left on device"},
      {"write error after the header", Call::write, EIO, kHeader.size(),
       "ERROR writing file: Input/output error"},
      {"sync fails: the record may not be on disk", Call::fsync, EIO, 0,
       "ERROR syncing file: Input/output error"},
      {"close reports a failed write", Call::close, EIO, 0,
       "ERROR closing file: Input/output error"},
      {"quota exceeded only at close", Call::close, EDQUOT, 0,
       "ERROR closing file: Disk quota exceeded"},
      {"lock held by a hung program", Call::lock, EWOULDBLOCK, 0,
       "ERROR locking file: another program keeps it locked"},
      {"locks not supported", Call::lock, ENOLCK, 0, "ERROR locking file: No locks available"},
      {"cannot be opened", Call::open, EACCES, 0, "ERROR opening file: Permission denied"},
  };
  for (const bool file_existed : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (file_existed ? ", file with records" : ", no file"));
      const std::string file = path("measures.csv");
      std::filesystem::remove(file);
      if (file_existed) write_file(file, earlier);
      FaultyFileOperations operations;
      operations.fail(c.call, c.error);
      operations.bytes_before_failure = c.bytes_before_failure;

      const AppendOutcome outcome = append_measures_record(file, record, operations);
      EXPECT_FALSE(outcome.saved);
      EXPECT_FALSE(outcome.file_left_changed);
      EXPECT_EQ(outcome.failure, std::string(c.failure) + " (measures.csv). Nothing was saved.");
      EXPECT_EQ(outcome.reason, c.failure);
      // A file that was created for the save stays, empty: its header comes with the next record.
      EXPECT_EQ(read_file(file), file_existed ? earlier : "");

      const AppendOutcome retried = append_measures_record(file, record);
      EXPECT_TRUE(retried.saved) << retried.failure;
      EXPECT_EQ(read_file(file), (file_existed ? earlier : kHeader) + record);
    }
  }
}

// A file newly made by the save is only safe once its directory entry is on disk too.
TEST_F(MeasuresDirectory, ANewFileWhoseDirectoryCannotBeSyncedIsNotSaved) {
  using Call = FaultyFileOperations::Call;
  struct Case {
    int error;
    bool saved;
  } const cases[] = {
      {EIO, false},
      {EINVAL, true},  // a file system that cannot sync directories keeps its entries otherwise
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::strerror(c.error));
    const std::string file = path("measures.csv");
    std::filesystem::remove(file);
    FaultyFileOperations operations;
    operations.fail(Call::directory_fsync, c.error);
    const AppendOutcome outcome = append_measures_record(file, "a;;;1;1;\n", operations);
    EXPECT_EQ(outcome.saved, c.saved) << outcome.failure;
    EXPECT_EQ(read_file(file), c.saved ? kHeader + "a;;;1;1;\n" : "");
    if (!c.saved) {
      EXPECT_EQ(outcome.failure,
                "ERROR syncing directory: Input/output error (measures.csv). Nothing was saved.");
    }
  }
  // Once the file holds bytes its directory entry is on disk, and no later save syncs it again.
  const std::string file = path("measures.csv");
  ASSERT_TRUE(append_measures_record(file, "b;;;1;1;\n").saved);
  FaultyFileOperations operations;
  operations.fail(Call::directory_fsync, EIO);
  const AppendOutcome later = append_measures_record(file, "c;;;1;1;\n", operations);
  EXPECT_TRUE(later.saved) << later.failure;
}

// When the bytes of a failed write cannot be cut off again, the line must not claim that nothing
// was saved: the user has to look at the file before saving again.
TEST_F(MeasuresDirectory, AFailedRollBackIsSaidSo) {
  using Call = FaultyFileOperations::Call;
  const std::string file = path("measures.csv");
  const std::string earlier = kHeader + "a.jpg;;;1;1;\n";
  write_file(file, earlier);
  FaultyFileOperations operations;
  operations.fail(Call::write, ENOSPC);
  operations.bytes_before_failure = 6;
  operations.fail(Call::ftruncate, EIO);
  const AppendOutcome outcome = append_measures_record(file, "b.jpg;;;1;1;\n", operations);
  EXPECT_FALSE(outcome.saved);
  EXPECT_TRUE(outcome.file_left_changed);
  EXPECT_EQ(outcome.failure,
            "ERROR writing file: No space left on device (measures.csv), and cutting measures.csv "
            "back failed too: it may hold part of this record; check it before saving again.");
  EXPECT_EQ(read_file(file), earlier + "b.jpg;");
}

// A record that fits only in part (here a file size limit stops it after a few bytes) must not stay
// half written: the file keeps exactly its earlier content.
TEST_F(MeasuresDirectory, RecordCutShortLeavesTheFileAsItWas) {
  const std::string file = path("measures.csv");
  const std::string before = kHeader + "a.jpg;;;1;1;";  // no final line break either
  write_file(file, before);
  rlimit old_limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit limit = old_limit;
  limit.rlim_cur = before.size() + 12;
  auto* old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  const AppendOutcome outcome =
      append_measures_record(file, "b.jpg;2012-04-01 18:00:00;2012-04-02 09:05:03;1;1;\n");
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(outcome.saved);
  EXPECT_EQ(outcome.failure.rfind("ERROR writing file", 0), 0u) << outcome.failure;
  EXPECT_EQ(read_file(file), before);
}

TEST_F(MeasuresDirectory, SavingRecordsTheCaptureDateOrSaysWhyThereIsNone) {
  const cv::Mat photo = render_demo_photo({160, 120}, {1.1, 700, 80, 0, 80, 60});
  struct Case {
    const char* name;
    DemoExif exif;
    std::string message;  // "@" stands for the photograph's path
    const char* capture_date;
  } const cases[] = {
      {"dated.jpg", {true, "2012:04:01 18:00:00", std::nullopt}, "", "2012-04-01 18:00:00"},
      {"no_exif.jpg",
       {false, std::nullopt, std::nullopt},
       "File not readable or no EXIF data in file @\n",
       ""},
      {"no_tag.JPG", {true, std::nullopt, "2012:04:01 18:00:00"}, "Exif entry not found!\n", ""},
      {"semicolon.jpg", {true, "2012:04:01;18:00\n00", std::nullopt}, "", "2012-04-01 18:00 00"},
  };
  std::string expected = kHeader;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(write_demo_jpeg(path(c.name), photo, 90, c.exif));
    std::ostringstream out;
    const AppendOutcome outcome =
        save_measurement(dir(), c.name, 1.1, 3.456789, out, fixed_measuring_time);
    EXPECT_TRUE(outcome.saved) << outcome.failure;
    std::string message = c.message;
    if (const size_t at = message.find('@'); at != std::string::npos) {
      message.replace(at, 1, dir() + "/" + c.name);
    }
    EXPECT_EQ(out.str(), message);
    // The header comes once, with the first record; each save adds exactly its own line.
    expected += std::string(c.name) + ";" + c.capture_date + ";2012-04-02 09:05:03;1.1;3.45679;\n";
    EXPECT_EQ(read_file(path("measures.csv")), expected);
  }
}

// The capture date as the photograph gave it when loaded: the file itself is not read again, so
// its name may now stand for nothing, or for another photograph.
TEST_F(MeasuresDirectory, SavingWithTheLoadedCaptureDateReadsNoFile) {
  const cv::Mat photo = render_demo_photo({160, 120}, {1.1, 700, 80, 0, 80, 60});
  ASSERT_TRUE(write_demo_jpeg(path("replaced.jpg"), photo, 90, {true, "2019:09:09 09:09:09", {}}));
  struct Case {
    const char* name;
    CaptureDate loaded;
    std::string message;  // "@" stands for the photograph's path
  } const cases[] = {
      {"gone.jpg", {CaptureDate::found, "2012-04-01 18:00:00", ""}, ""},
      {"replaced.jpg", {CaptureDate::found, "2012-04-01 18:00:00", ""}, ""},
      {"replaced.jpg",
       {CaptureDate::no_exif_data, "", ""},
       "File not readable or no EXIF data in file @\n"},
      {"replaced.jpg", {CaptureDate::no_entry, "", ""}, "Exif entry not found!\n"},
  };
  std::string expected = kHeader;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.loaded.text);
    std::ostringstream out;
    const AppendOutcome outcome =
        save_measurement(dir(), c.name, c.loaded, 1.1, 3.456789, out, fixed_measuring_time);
    EXPECT_TRUE(outcome.saved) << outcome.failure;
    std::string message = c.message;
    if (const size_t at = message.find('@'); at != std::string::npos) {
      message.replace(at, 1, dir() + "/" + c.name);
    }
    EXPECT_EQ(out.str(), message);
    expected += std::string(c.name) + ";" + c.loaded.text + ";2012-04-02 09:05:03;1.1;3.45679;\n";
    EXPECT_EQ(read_file(path("measures.csv")), expected);
  }
}

TEST_F(MeasuresDirectory, MissingPhotographStillGetsItsRecordAfterTheMessage) {
  std::ostringstream out;
  const AppendOutcome outcome =
      save_measurement(dir(), "vanished.jpg", 1, 2, out, fixed_measuring_time);
  EXPECT_TRUE(outcome.saved);
  EXPECT_EQ(out.str(), "File not readable or no EXIF data in file " + dir() + "/vanished.jpg\n");
  EXPECT_EQ(read_file(path("measures.csv")), kHeader + "vanished.jpg;;2012-04-02 09:05:03;1;2;\n");
}
