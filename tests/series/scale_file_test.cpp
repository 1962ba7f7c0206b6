// The scale: the typed length, pixels per millimetre from two points, which row holds for a
// photograph, and scale.csv, which is only appended to and gives no scale at all, with one line
// saying why, when it is damaged or not a scale file.
#include "series/scale_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <limits>
#include <string>
#include <vector>

#include "file_protection.h"
#include "test_support.h"

using namespace meravel;

namespace {

const std::string kHeader = "scope,file,px_per_mm,x1_px,y1_px,x2_px,y2_px,length_mm,set_at\n";

std::tm local_time(int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 10;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_gmtoff = 3600;
  return t;
}

ScaleRow row(ScaleScope scope, const std::string& file, PointPx first, PointPx second,
             double length_mm, int minute = 14) {
  return make_scale_row(scope, file, first, second, length_mm, local_time(9, minute, 27)).value();
}

}  // namespace

TEST(ScaleLength, TypedLengthsWithAPointOrAComma) {
  struct Case {
    const char* typed;
    std::optional<double> mm;
  } const cases[] = {
      {"12.5", 12.5},  {"12,5", 12.5},  {"30", 30},       {" 30 ", 30},  {".5", 0.5},
      {",5", 0.5},     {"5.", 5},       {"0.001", 0.001}, {"", {}},      {"  ", {}},
      {"0", {}},       {"0,0", {}},     {"-5", {}},       {"+5", {}},    {"1e3", {}},
      {"1.000,5", {}}, {"1,000.5", {}}, {"1.2.3", {}},    {"12 mm", {}}, {"12mm", {}},
      {"1 2", {}},     {".", {}},       {",", {}},        {"inf", {}},   {"nan", {}},
      {"0x10", {}},    {"12\n", {}},    {"٣", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    EXPECT_EQ(parse_length_mm(c.typed), c.mm);
  }
}

TEST(ScaleGeometry, PixelsPerMillimetreFromTwoPoints) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    PointPx first, second;
    double length_mm;
    std::optional<double> px_per_mm;
  } const cases[] = {
      {"along a row", {40, 552}, {280, 552}, 30, 8.0},
      {"backwards along a column", {100, 900}, {100, 300}, 50, 12.0},
      {"slanted, 3-4-5", {10, 20}, {10 + 300, 20 + 400}, 25, 20.0},
      {"sub-pixel points", {0.5, 0.25}, {10.5, 0.25}, 2.5, 4.0},
      {"one point twice", {40, 552}, {40, 552}, 30, {}},
      {"no length", {40, 552}, {280, 552}, 0, {}},
      {"negative length", {40, 552}, {280, 552}, -30, {}},
      {"length not a number", {40, 552}, {280, 552}, nan, {}},
      {"point not a number", {nan, 552}, {280, 552}, 30, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<double> px_per_mm = px_per_mm_from(c.first, c.second, c.length_mm);
    ASSERT_EQ(px_per_mm.has_value(), c.px_per_mm.has_value());
    if (px_per_mm) {
      EXPECT_DOUBLE_EQ(*px_per_mm, *c.px_per_mm);
    }
  }
  EXPECT_FALSE(make_scale_row(ScaleScope::photograph, "", {0, 0}, {10, 0}, 1, local_time(9, 0, 0)));
  const std::optional<ScaleRow> series =
      make_scale_row(ScaleScope::series, "", {0, 0}, {10, 0}, 1, local_time(9, 0, 0));
  ASSERT_TRUE(series);
  EXPECT_EQ(series->set_at, "2026-12-10T09:00:00+01:00");
  EXPECT_EQ(series->px_per_mm, 10);
}

// Rows with awkward file names and fractional points are written and read back as they were.
TEST(ScaleFileText, RowsReadBackAsWritten) {
  const std::vector<ScaleRow> rows = {
      row(ScaleScope::series, "IMG_0001.JPG", {40, 552}, {280, 552}, 30),
      row(ScaleScope::photograph, "sub dir/IMG,0006 \"b\".JPG", {80.5, 1104.25}, {560, 1104}, 30.1),
      row(ScaleScope::photograph, "two\nlines.jpg", {1, 2}, {3, 5}, 0.7),
      row(ScaleScope::series, "", {0, 0}, {2.0 / 3, 0}, 1.0 / 3),
  };
  std::string text = kHeader;
  for (const ScaleRow& r : rows) text += format_scale_row(r);
  EXPECT_EQ(format_scale_row(rows[0]),
            "series,IMG_0001.JPG,8,40,552,280,552,30,2026-12-10T09:14:27+01:00\n");
  const ScaleFile file = parse_scale_file(text, "scale.csv");
  ASSERT_EQ(file.problem, "");
  ASSERT_EQ(file.rows.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    const ScaleRow& a = file.rows[i];
    const ScaleRow& b = rows[i];
    EXPECT_EQ(a.scope, b.scope);
    EXPECT_EQ(a.file, b.file);
    EXPECT_EQ(a.px_per_mm, b.px_per_mm);
    EXPECT_EQ(a.first.x, b.first.x);
    EXPECT_EQ(a.first.y, b.first.y);
    EXPECT_EQ(a.second.x, b.second.x);
    EXPECT_EQ(a.second.y, b.second.y);
    EXPECT_EQ(a.length_mm, b.length_mm);
    EXPECT_EQ(a.set_at, b.set_at);
  }
}

// What a spreadsheet or an editor may leave is still read: CRLF, a byte order mark, blank lines,
// no line break at the end, a header only.
TEST(ScaleFileText, FilesAnEditorLeftAreRead) {
  const std::string good = "series,a.jpg,8,40,552,280,552,30,2026-12-10T09:14:27+01:00";
  struct Case {
    const char* name;
    std::string text;
    size_t rows;
  } const cases[] = {
      {"empty", "", 0},
      {"header only", kHeader, 0},
      {"CRLF", "scope,file,px_per_mm,x1_px,y1_px,x2_px,y2_px,length_mm,set_at\r\n" + good + "\r\n",
       1},
      {"byte order mark", "\xEF\xBB\xBF" + kHeader + good + "\n", 1},
      {"blank lines", kHeader + "\n" + good + "\n\n" + good + "\n\n", 2},
      {"no final line break", kHeader + good, 1},
      {"px_per_mm written with other digits",
       kHeader + "series,a.jpg,8.0000000000,40.0,552,280,552,30.0,2026-12-10T09:14:27Z\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScaleFile file = parse_scale_file(c.text, "scale.csv");
    EXPECT_EQ(file.problem, "");
    EXPECT_EQ(file.rows.size(), c.rows);
  }
}

// A damaged or foreign file gives no scale at all, not the rows before the damage, and one line
// naming the file, the line and what is wrong.
TEST(ScaleFileText, DamagedOrForeignFilesGiveNoScaleAndOneLine) {
  const std::string good = "series,a.jpg,8,40,552,280,552,30,2026-12-10T09:14:27+01:00\n";
  const std::string tail = "; no scale is used until the file is repaired";
  struct Case {
    const char* name;
    std::string text;
    std::string problem;
  } const cases[] = {
      {"the measures file",
       "Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;\nIMG_0001.JPG;;;1.1;0.5;\n",
       "dir/scale.csv line 1: not a scale file (its first line is not "
       "scope,file,px_per_mm,x1_px,y1_px,x2_px,y2_px,length_mm,set_at)" +
           tail},
      {"rows without a header", good,
       "dir/scale.csv line 1: not a scale file (its first line is not "
       "scope,file,px_per_mm,x1_px,y1_px,x2_px,y2_px,length_mm,set_at)" +
           tail},
      {"binary", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),
       "dir/scale.csv line 1: not a scale file (its first line is not "
       "scope,file,px_per_mm,x1_px,y1_px,x2_px,y2_px,length_mm,set_at)" +
           tail},
      {"row cut short after good rows", kHeader + good + good + "series,a.jpg,8,40,55",
       "dir/scale.csv line 4: expected 9 fields, found 5" + tail},
      {"a field too many", kHeader + good + "series,a.jpg,8,40,552,280,552,30,x,y\n",
       "dir/scale.csv line 3: expected 9 fields, found 10" + tail},
      {"scope", kHeader + "Series,a.jpg,8,40,552,280,552,30,2026-12-10T09:14:27+01:00\n",
       "dir/scale.csv line 2: scope \"Series\" is neither series nor photograph" + tail},
      {"photograph row without a file",
       kHeader + "photograph,,8,40,552,280,552,30,2026-12-10T09:14:27+01:00\n",
       "dir/scale.csv line 2: a photograph row without a file" + tail},
      {"decimal comma",
       kHeader + "series,a.jpg,\"8,5\",40,552,280,552,30,2026-12-10T09:14:27+01:00\n",
       "dir/scale.csv line 2: px_per_mm \"8,5\" is not a number" + tail},
      {"point not a number", kHeader + "series,a.jpg,8,40,552,280,,30,2026-12-10T09:14:27+01:00\n",
       "dir/scale.csv line 2: y2_px \"\" is not a number" + tail},
      {"zero length", kHeader + "series,a.jpg,8,40,552,280,552,0,2026-12-10T09:14:27+01:00\n",
       "dir/scale.csv line 2: px_per_mm and length_mm must be > 0" + tail},
      {"px_per_mm changed by hand",
       kHeader + "series,a.jpg,8.5,40,552,280,552,30,2026-12-10T09:14:27+01:00\n",
       "dir/scale.csv line 2: px_per_mm 8.5 does not match the two points and length_mm" + tail},
      {"time", kHeader + "series,a.jpg,8,40,552,280,552,30,2026-12-10 09:14:27\n",
       "dir/scale.csv line 2: set_at \"2026-12-10 09:14:27\" is not a time like "
       "2026-12-10T09:14:27+01:00" +
           tail},
      {"quote not closed", kHeader + good + "photograph,\"a.jpg,8,40,552,280,552,30,x\n" + good,
       "dir/scale.csv line 3: a quoted field is not closed" + tail},
      {"line after a multi-line file name",
       kHeader + "photograph,\"a\nb.jpg\",8,40,552,280,552,30,2026-12-10T09:14:27+01:00\nx\n",
       "dir/scale.csv line 4: expected 9 fields, found 1" + tail},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScaleFile file = parse_scale_file(c.text, "dir/scale.csv");
    EXPECT_EQ(file.problem, c.problem);
    EXPECT_TRUE(file.rows.empty());
  }
}

// The latest series row holds for every photograph; a photograph's latest own row overrides it,
// also when a series scale is set after it.
TEST(ScaleLookupRule, PhotographRowsOverrideTheSeriesScale) {
  const ScaleRow series_8 = row(ScaleScope::series, "a.jpg", {0, 0}, {80, 0}, 10);
  const ScaleRow series_9 = row(ScaleScope::series, "c.jpg", {0, 0}, {90, 0}, 10);
  const ScaleRow b_16 = row(ScaleScope::photograph, "b.jpg", {0, 0}, {160, 0}, 10);
  const ScaleRow b_15 = row(ScaleScope::photograph, "b.jpg", {0, 0}, {150, 0}, 10);
  struct Case {
    const char* name;
    std::vector<ScaleRow> rows;
    const char* file;
    ScaleSource source;
    double px_per_mm;
  } const cases[] = {
      {"no rows", {}, "a.jpg", ScaleSource::none, 0},
      {"one series row, another photograph", {series_8}, "z.jpg", ScaleSource::series, 8},
      {"the latest series row", {series_8, series_9}, "a.jpg", ScaleSource::series, 9},
      {"own row", {series_8, b_16}, "b.jpg", ScaleSource::photograph, 16},
      {"another photograph's row", {series_8, b_16}, "a.jpg", ScaleSource::series, 8},
      {"own row before a later series row", {b_16, series_9}, "b.jpg", ScaleSource::photograph, 16},
      {"only another photograph's row", {b_16}, "a.jpg", ScaleSource::none, 0},
      {"own latest row", {b_16, series_9, b_15}, "b.jpg", ScaleSource::photograph, 15},
      {"names compared exactly", {series_8, b_16}, "B.jpg", ScaleSource::series, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScaleLookup lookup = scale_for_photograph(c.rows, c.file);
    EXPECT_EQ(lookup.source, c.source);
    if (c.source != ScaleSource::none) {
      EXPECT_EQ(lookup.row.px_per_mm, c.px_per_mm);
    }
  }
  EXPECT_STREQ(scale_source_name(ScaleSource::none), "none");
  EXPECT_STREQ(scale_source_name(ScaleSource::series), "series");
  EXPECT_STREQ(scale_source_name(ScaleSource::photograph), "photograph");
}

class ScaleFileOnDisk : public testing::Test {
 protected:
  // Traversable by "nobody", whom FileProtection becomes when the tests run as root.
  void SetUp() override { ::chmod(directory_.path().c_str(), 0755); }
  std::string path() const { return directory_ / "scale.csv"; }

  TempDirectory directory_;
};

TEST_F(ScaleFileOnDisk, AppendsRowsWithTheHeaderFirst) {
  const ScaleRow first = row(ScaleScope::series, "a.jpg", {40, 552}, {280, 552}, 30);
  const ScaleRow second = row(ScaleScope::photograph, "b.jpg", {0, 0}, {160, 0}, 10, 20);
  EXPECT_TRUE(read_scale_file(path()).rows.empty());
  EXPECT_EQ(read_scale_file(path()).problem, "");

  ScaleWriteOutcome outcome = append_scale_row(path(), first);
  EXPECT_TRUE(outcome.saved) << outcome.failure;
  outcome = append_scale_row(path(), second);
  EXPECT_TRUE(outcome.saved) << outcome.failure;
  EXPECT_EQ(directory_.read("scale.csv"),
            kHeader + format_scale_row(first) + format_scale_row(second));
  const ScaleFile file = read_scale_file(path());
  EXPECT_EQ(file.problem, "");
  EXPECT_EQ(file.rows.size(), 2u);
  EXPECT_EQ(scale_for_photograph(file.rows, "b.jpg").row.px_per_mm, 16);
  EXPECT_EQ(scale_for_photograph(file.rows, "c.jpg").row.px_per_mm, 8);
}

TEST_F(ScaleFileOnDisk, AppendsAfterAnEmptyFileOrALastLineWithoutABreak) {
  const ScaleRow r = row(ScaleScope::series, "a.jpg", {40, 552}, {280, 552}, 30);
  const std::string row_text = format_scale_row(r);
  struct Case {
    const char* name;
    std::string before;
    std::string after;
  } const cases[] = {
      {"empty", "", kHeader + row_text},
      {"header without a line break", kHeader.substr(0, kHeader.size() - 1), kHeader + row_text},
      {"row without a line break", kHeader + row_text.substr(0, row_text.size() - 1),
       kHeader + row_text + row_text},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    directory_.write("scale.csv", c.before);
    const ScaleWriteOutcome outcome = append_scale_row(path(), r);
    EXPECT_TRUE(outcome.saved) << outcome.failure;
    EXPECT_EQ(directory_.read("scale.csv"), c.after);
  }
}

// A damaged file is left as it is: a row appended to it would never be read.
TEST_F(ScaleFileOnDisk, DamagedFileIsNotAppendedTo) {
  const std::string damaged = kHeader + "series,a.jpg,8,40\n";
  directory_.write("scale.csv", damaged);
  const ScaleWriteOutcome outcome =
      append_scale_row(path(), row(ScaleScope::series, "a.jpg", {40, 552}, {280, 552}, 30));
  EXPECT_FALSE(outcome.saved);
  EXPECT_EQ(outcome.failure, "Scale not saved: " + path() +
                                 " line 2: expected 9 fields, found 4; no scale is used until the "
                                 "file is repaired");
  EXPECT_EQ(directory_.read("scale.csv"), damaged);
}

TEST_F(ScaleFileOnDisk, UnreadableWriteProtectedOrOddFilesAreReported) {
  const std::string before =
      kHeader + format_scale_row(row(ScaleScope::series, "a.jpg", {40, 552}, {280, 552}, 30));
  directory_.write("scale.csv", before);
  ScaleWriteOutcome outcome;
  {
    FileProtection protection(path(), 0444);
    EXPECT_EQ(read_scale_file(path()).rows.size(), 1u);
    outcome = append_scale_row(path(), row(ScaleScope::series, "b.jpg", {0, 0}, {90, 0}, 10));
  }
  EXPECT_FALSE(outcome.saved);
  EXPECT_EQ(outcome.failure,
            "ERROR opening file: Permission denied (scale.csv). Nothing was saved.");
  EXPECT_EQ(directory_.read("scale.csv"), before);

  ScaleFile unreadable;
  {
    FileProtection protection(path(), 0);
    unreadable = read_scale_file(path());
  }
  EXPECT_EQ(unreadable.problem, path() + " cannot be read (Permission denied); no scale is used");
  EXPECT_TRUE(unreadable.rows.empty());

  directory_.make_directory("dir.csv");
  EXPECT_EQ(read_scale_file(directory_ / "dir.csv").problem,
            directory_ / "dir.csv" +
                " is not a scale file (not a plain file of at most 16 MiB); no scale is used "
                "until the file is repaired");
  const ScaleWriteOutcome missing_directory = append_scale_row(
      directory_ / "gone/scale.csv", row(ScaleScope::series, "a.jpg", {0, 0}, {90, 0}, 10));
  EXPECT_FALSE(missing_directory.saved);
  EXPECT_EQ(missing_directory.failure,
            "ERROR opening file: No such file or directory (scale.csv). Nothing was saved.");
}

// A row that fits only in part (a file size limit stops it after a few bytes, as a full disk
// would) is cut off again: the file keeps exactly its earlier content.
TEST_F(ScaleFileOnDisk, RowCutShortLeavesTheFileAsItWas) {
  const std::string before =
      kHeader + format_scale_row(row(ScaleScope::series, "a.jpg", {40, 552}, {280, 552}, 30));
  directory_.write("scale.csv", before);
  rlimit old_limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit limit = old_limit;
  limit.rlim_cur = before.size() + 12;
  auto* old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  const ScaleWriteOutcome outcome =
      append_scale_row(path(), row(ScaleScope::photograph, "b.jpg", {0, 0}, {90, 0}, 10));
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(outcome.saved);
  EXPECT_EQ(outcome.failure.rfind("ERROR writing file: ", 0), 0u) << outcome.failure;
  EXPECT_EQ(directory_.read("scale.csv"), before);
}
