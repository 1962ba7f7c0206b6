// The measures file: the form of its numbers, dates and records, and appending to it without ever
// losing or damaging what it already holds.
#include "series/measures_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>

#include "test_support.h"
#include "tools/demo_photo.h"

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
  void SetUp() override {
    saved_clock_ = measuring_clock;
    measuring_clock = fixed_measuring_time;
  }
  void TearDown() override { measuring_clock = saved_clock_; }
  std::string path(const char* name) const { return directory_ / name; }
  std::string dir() const { return directory_.path(); }

  TempDirectory directory_;
  std::function<std::tm()> saved_clock_;
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
    bool write_header;   // the file could not be read before
    std::string after;
  } const cases[] = {
      {"missing file", nullptr, true, kHeader + record},
      {"empty file, left by a failed first write", "", false, kHeader + record},
      {"file with header and a record", "H;\na;;;1;1;\n", false, "H;\na;;;1;1;\n" + record},
      {"last line without its line break", "H;\na;;;1;1;", false, "H;\na;;;1;1;\n" + record},
      {"CR LF line breaks", "H;\r\na;;;1;1;\r\n", false, "H;\r\na;;;1;1;\r\n" + record},
      {"unreadable before", "H;\na;;;1;1;\n", true, "H;\na;;;1;1;\n" + kHeader + record},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = path("measures.csv");
    std::filesystem::remove(file);
    if (c.before) write_file(file, c.before);
    const AppendOutcome outcome = append_measures_record(file, record, c.write_header);
    EXPECT_TRUE(outcome.saved) << outcome.failure;
    EXPECT_EQ(read_file(file), c.after);
  }
}

TEST_F(MeasuresDirectory, WriteProtectedFileIsReportedAndLeftAlone) {
  const std::string file = path("measures.csv");
  write_file(file, kHeader + "a.jpg;;;1;1;\n");
  AppendOutcome outcome;
  {
    WriteProtection protection(file);
    outcome = append_measures_record(file, "b.jpg;;;1;1;\n", false);
  }
  EXPECT_FALSE(outcome.saved);
  EXPECT_EQ(outcome.failure, "ERROR opening file");
  EXPECT_EQ(read_file(file), kHeader + "a.jpg;;;1;1;\n");
}

TEST_F(MeasuresDirectory, MissingDirectoryIsReported) {
  const AppendOutcome outcome =
      append_measures_record(path("gone") + "/measures.csv", "a;;;1;1;\n", true);
  EXPECT_FALSE(outcome.saved);
  EXPECT_EQ(outcome.failure, "ERROR opening file");
}

// A full disk in the middle of a record: /dev/full refuses every write with ENOSPC.
TEST(MeasuresAppend, FailedWriteIsReportedAsSuch) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  const AppendOutcome outcome = append_measures_record("/dev/full", "a;;;1;1;\n", false);
  EXPECT_FALSE(outcome.saved);
  EXPECT_EQ(outcome.failure.rfind("ERROR writing file", 0), 0u) << outcome.failure;
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
      append_measures_record(file, "b.jpg;2012-04-01 18:00:00;2012-04-02 09:05:03;1;1;\n", false);
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
    const AppendOutcome outcome = save_measurement(dir(), c.name, 1.1, 3.456789, out);
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

TEST_F(MeasuresDirectory, MissingPhotographStillGetsItsRecordAfterTheMessage) {
  std::ostringstream out;
  const AppendOutcome outcome = save_measurement(dir(), "vanished.jpg", 1, 2, out);
  EXPECT_TRUE(outcome.saved);
  EXPECT_EQ(out.str(), "File not readable or no EXIF data in file " + dir() + "/vanished.jpg\n");
  EXPECT_EQ(read_file(path("measures.csv")), kHeader + "vanished.jpg;;2012-04-02 09:05:03;1;2;\n");
}
