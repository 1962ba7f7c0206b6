// Saving a measurement into measures.csv and measures_details.csv at once: the details row made
// from what the session handed back, the scale in force for the photograph, and a save that either
// gives both files their record or leaves both as they were.
#include "series/measurement_save.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "file_faults.h"
#include "file_protection.h"
#include "measurement/session_record.h"
#include "series/csv_text.h"
#include "series/scale_file.h"
#include "test_support.h"
#include "tools/demo_photo.h"

using namespace meravel;

namespace {

const std::string kMeasuresHeaderLine = std::string(kMeasuresHeader) + "\n";

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// What a session accepted on a 640 x 480 photograph cut to a region.
SessionResult accepted_result() {
  SessionResult r;
  r.end = SessionEnd::kAccepted;
  r.threshold = 117;
  r.lambda = 1.005;
  r.energy = 0.592503;
  r.region = cv::Rect(20, 30, 600, 420);
  r.cut_offs = {2, 7};
  r.model = {1005, 3000, 360, 328, 306, 205};
  r.model_origin_in_photo = cv::Point(20, 30);
  r.photo_size = cv::Size(640, 480);
  r.keys = "s k r a";
  return r;
}

// The details file's rows by column name; the header must be exactly the columns.
std::vector<std::map<std::string, std::string>> details_rows(const std::string& path) {
  const CsvText csv = parse_csv(read_file(path));
  EXPECT_EQ(csv.problem, "");
  std::vector<std::map<std::string, std::string>> rows;
  if (csv.records.empty()) return rows;
  EXPECT_EQ(csv.records[0].fields, kDetailsColumns);
  for (size_t i = 1; i < csv.records.size(); ++i) {
    const std::vector<std::string>& fields = csv.records[i].fields;
    EXPECT_EQ(fields.size(), kDetailsColumns.size());
    std::map<std::string, std::string> row;
    for (size_t c = 0; c < fields.size() && c < kDetailsColumns.size(); ++c) {
      row[kDetailsColumns[c]] = fields[c];
    }
    rows.push_back(row);
  }
  return rows;
}

class MeasurementSave : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(write_demo_jpeg(directory_ / "b.jpg", cv::Mat(48, 64, CV_8UC3, cv::Scalar(40)), 90,
                                {true, "2012:04:02 09:05:03", "2012:04:01 18:00:00"}));
  }
  std::string measures() const { return directory_ / "measures.csv"; }
  std::string details() const { return directory_ / "measures_details.csv"; }

  AppendOutcome save(std::ostream& out, FileOperations& operations = posix_file_operations()) {
    const SessionResult result = accepted_result();
    return save_measurement_with_details(directory_.path(), read_capture_date(directory_ / "b.jpg"),
                                         result.lambda, details_record_of(result, "b.jpg"), out,
                                         fixed_measuring_time, operations);
  }

  TempDirectory directory_;
};

const char kMeasuresLine[] = "b.jpg;2012-04-02 09:05:03;2012-04-02 09:05:03;1.005;0.592503;\n";

}  // namespace

// Every value the session held goes into its column; without a region the fit saw the whole
// photograph, from its corner.
TEST(DetailsRecordOf, TakesEveryValueOfTheSession) {
  SessionResult whole = accepted_result();
  whole.region = cv::Rect(15, 25, 0, 0);  // dropped: no region
  whole.model_origin_in_photo = cv::Point(0, 0);
  whole.keys = "m p";
  const struct {
    const char* what;
    SessionResult result;
    cv::Rect region;
  } cases[] = {
      {"cut to a region", accepted_result(), cv::Rect(20, 30, 600, 420)},
      {"whole photograph", whole, cv::Rect(0, 0, 640, 480)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const DetailsRecord r = details_record_of(c.result, "sub dir/b, 1.jpg");
    EXPECT_EQ(r.file, "sub dir/b, 1.jpg");
    EXPECT_EQ(r.energy_px, 0.592503);
    EXPECT_EQ(r.lambda_milli, 1005);
    EXPECT_EQ(r.width, 3000);
    EXPECT_EQ(r.height_px, 360);
    EXPECT_EQ(r.rotation_deg, 328);
    EXPECT_EQ(r.translation_x_px, 306);
    EXPECT_EQ(r.translation_y_px, 205);
    EXPECT_EQ(r.threshold, 117);
    EXPECT_FALSE(r.dark_on_light);
    EXPECT_EQ(cv::Rect(r.roi_x_px, r.roi_y_px, r.roi_width_px, r.roi_height_px), c.region);
    EXPECT_EQ(r.cut_off_top_percent, 2);
    EXPECT_EQ(r.cut_off_bottom_percent, 7);
    EXPECT_EQ(r.image_width_px, 640);
    EXPECT_EQ(r.image_height_px, 480);
    EXPECT_EQ(r.keys, c.result.keys);
  }
}

// The row's dates, time, dimensions and scale, for each state of scale.csv: the millimetres follow
// the scale in force for the photograph, and an unusable scale file gives one line and none.
TEST_F(MeasurementSave, BothFilesGetTheMeasurementWithTheScaleInForce) {
  const std::string series_row = "series,a.jpg,8,40,508,280,508,30,2026-12-10T09:14:27+01:00\n";
  const std::string own_row = "photograph,b.jpg,16,0,0,480,0,30,2026-12-10T09:20:03+01:00\n";
  const std::string other_row = "photograph,c.jpg,4,0,0,120,0,30,2026-12-10T09:20:03+01:00\n";
  const std::string header = std::string(kScaleHeader) + "\n";
  const struct {
    const char* what;
    const char* scale_file;  // nullptr: none
    std::string text;
    double px_per_mm;  // 0: no scale
    const char* source;
    std::string printed;
  } cases[] = {
      {"no scale file", nullptr, "", 0, "none", ""},
      {"a series scale", "scale.csv", header + series_row, 8, "series", ""},
      {"the photograph's own scale wins", "scale.csv", header + own_row + series_row, 16,
       "photograph", ""},
      {"another photograph's scale", "scale.csv", header + other_row, 0, "none", ""},
      {"another program's file", "scale.csv", "a;b;c\n1;2;3\n", 0, "none", "scale.csv"},
      {"a damaged row", "scale.csv", header + "series,a.jpg,eight,40,508,280,508,30,x\n", 0, "none",
       "scale.csv"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(measures());
    std::filesystem::remove(details());
    std::filesystem::remove(directory_ / "scale.csv");
    if (c.scale_file) directory_.write(c.scale_file, c.text);

    std::ostringstream out;
    const AppendOutcome outcome = save(out);
    ASSERT_TRUE(outcome.saved) << outcome.failure;
    if (c.printed.empty()) {
      EXPECT_EQ(out.str(), "");
    } else {
      // One line, naming the file, saying that no scale is used.
      EXPECT_NE(out.str().find(c.printed), std::string::npos) << out.str();
      EXPECT_NE(out.str().find("no scale is used"), std::string::npos) << out.str();
      const std::string printed = out.str();
      EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    }
    EXPECT_EQ(read_file(measures()), kMeasuresHeaderLine + kMeasuresLine);

    const auto rows = details_rows(details());
    ASSERT_EQ(rows.size(), 1u);
    const auto& row = rows[0];
    EXPECT_EQ(row.at("file"), "b.jpg");
    EXPECT_EQ(row.at("capture_date_original"), "2012-04-01 18:00:00");
    EXPECT_EQ(row.at("capture_date"), "2012-04-02 09:05:03");
    EXPECT_EQ(row.at("measured_at"), "2012-04-02T09:05:03+00:00");  // the fixed clock's time
    EXPECT_EQ(row.at("lambda"), "1.005");
    EXPECT_EQ(row.at("energy_px"), "0.592503");
    EXPECT_EQ(row.at("roi_x_px") + " " + row.at("roi_y_px") + " " + row.at("roi_width_px") + " " +
                  row.at("roi_height_px"),
              "20 30 600 420");
    EXPECT_EQ(row.at("keys"), "s k r a");
    const EggDimensions px = egg_dimensions_of_model(1005, 3000, 360).value();
    EXPECT_DOUBLE_EQ(std::stod(row.at("length_px")), px.length);
    EXPECT_NEAR(std::stod(row.at("volume_px3")), px.volume, 1e-9 * px.volume);
    EXPECT_EQ(row.at("scale_source"), c.source);
    if (c.px_per_mm == 0) {
      for (const char* column :
           {"length_mm", "breadth_mm", "volume_mm3", "surface_mm2", "px_per_mm"}) {
        EXPECT_EQ(row.at(column), "") << column;
      }
    } else {
      EXPECT_EQ(std::stod(row.at("px_per_mm")), c.px_per_mm);
      EXPECT_NEAR(std::stod(row.at("length_mm")), px.length / c.px_per_mm, 1e-9);
      EXPECT_NEAR(std::stod(row.at("breadth_mm")), px.breadth / c.px_per_mm, 1e-9);
      const double cube = c.px_per_mm * c.px_per_mm * c.px_per_mm;
      EXPECT_NEAR(std::stod(row.at("volume_mm3")), px.volume / cube, 1e-8 * px.volume / cube);
    }
  }
}

// Saves append to both files alike: one header each, the rows in the order of the lines, after a
// last line that was edited without its line break.
TEST_F(MeasurementSave, LaterSavesAppendToBothFilesInStep) {
  std::ostringstream out;
  ASSERT_TRUE(save(out).saved);
  // Hand-edited: both files lose their last line break.
  std::string measures_text = read_file(measures());
  std::string details_text = read_file(details());
  measures_text.pop_back();
  details_text.pop_back();
  std::ofstream(measures(), std::ios::binary | std::ios::trunc) << measures_text;
  std::ofstream(details(), std::ios::binary | std::ios::trunc) << details_text;

  ASSERT_TRUE(save(out).saved);
  EXPECT_EQ(read_file(measures()),
            kMeasuresHeaderLine + kMeasuresLine + std::string(kMeasuresLine));
  const auto rows = details_rows(details());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], rows[1]);
}

// Whichever file fails, and however (a full disk at its first byte or in the middle of its row, a
// failed sync, no permission), neither file keeps any part of the save, the line names the file
// that failed, and the same save succeeds once the fault is gone.
TEST_F(MeasurementSave, AFailedSaveLeavesBothFilesAsTheyWere) {
  using Call = FaultyFileOperations::Call;
  const struct {
    const char* what;
    Call call;
    int error;
    std::size_t bytes_before_failure;
    const char* file;  // the one that fails
    const char* failure;
  } cases[] = {
      {"details: full disk at the first byte", Call::write, ENOSPC, 0, "measures_details.csv",
       "ERROR writing file: No space left on device (measures_details.csv). Nothing was saved."},
      {"details: full disk part-way through", Call::write, ENOSPC, 100, "measures_details.csv",
       "ERROR writing file: No space left on device (measures_details.csv). Nothing was saved."},
      {"details: sync fails", Call::fsync, EIO, 0, "measures_details.csv",
       "ERROR syncing file: Input/output error (measures_details.csv). Nothing was saved."},
      {"details: cannot be opened", Call::open, EACCES, 0, "measures_details.csv",
       "ERROR opening file: Permission denied (measures_details.csv). Nothing was saved."},
      {"measures: full disk inside the line", Call::write, ENOSPC, 20, "measures.csv",
       "ERROR writing file: No space left on device (measures.csv). Nothing was saved."},
  };
  for (const bool files_existed : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (files_existed ? ", files with records" : ", no files"));
      std::filesystem::remove(measures());
      std::filesystem::remove(details());
      std::ostringstream out;
      if (files_existed) {
        ASSERT_TRUE(save(out).saved);
      }
      const std::string measures_before = read_file(measures());
      const std::string details_before = read_file(details());

      FaultyFileOperations operations;
      operations.fail(c.call, c.error, std::string("/") + c.file);
      operations.bytes_before_failure = c.bytes_before_failure;
      const AppendOutcome outcome = save(out, operations);
      EXPECT_FALSE(outcome.saved);
      EXPECT_FALSE(outcome.file_left_changed);
      EXPECT_EQ(outcome.failure, c.failure);
      EXPECT_EQ(read_file(measures()), measures_before);
      EXPECT_EQ(read_file(details()), details_before);

      const AppendOutcome retried = save(out);
      ASSERT_TRUE(retried.saved) << retried.failure;
      EXPECT_EQ(read_file(measures()),
                kMeasuresHeaderLine + kMeasuresLine + (files_existed ? kMeasuresLine : ""));
      EXPECT_EQ(details_rows(details()).size(), files_existed ? 2u : 1u);
    }
  }
}

// A details file the user cannot write: the measurement is not saved in measures.csv either, and
// can be taken again once the file is writable.
TEST_F(MeasurementSave, WriteProtectedDetailsFileSavesNothing) {
  std::ostringstream out;
  ASSERT_TRUE(save(out).saved);
  const std::string measures_before = read_file(measures());
  const std::string details_before = read_file(details());
  // measures.csv stays writable for whoever runs the save (the user nobody, when the tests run as
  // root): only the details file refuses.
  ASSERT_EQ(::chmod(measures().c_str(), 0666), 0);
  AppendOutcome outcome;
  {
    FileProtection protection(details(), 0444);
    outcome = save(out);
  }
  EXPECT_FALSE(outcome.saved);
  EXPECT_EQ(outcome.failure,
            "ERROR opening file: Permission denied (measures_details.csv). Nothing was saved.");
  EXPECT_EQ(read_file(measures()), measures_before);
  EXPECT_EQ(read_file(details()), details_before);

  ASSERT_TRUE(save(out).saved);
  EXPECT_EQ(read_file(measures()), measures_before + kMeasuresLine);
  EXPECT_EQ(details_rows(details()).size(), 2u);
}

// A scale key c read from the photograph, or key y carried over, is saved for it in place of
// scale.csv's, with its method, error and source; without one scale.csv's holds as before.
TEST_F(MeasurementSave, TheSessionsOwnScaleStandsInForTheScaleFile) {
  std::ofstream(directory_ / "scale.csv")
      << kScaleHeader << "\nseries,a.jpg,8,40,508,280,508,30,2026-12-10T09:14:27+01:00\n";
  SessionScale read;
  read.method = "ruler";
  read.px_per_mm = 12;
  read.px_per_mm_se = 0.006;
  read.spacing_varies = true;
  SessionScale carried = read;
  carried.method = "carried";
  carried.from = "3";
  carried.spacing_varies = false;
  const struct {
    const char* what;
    SessionScale scale;
    std::map<std::string, std::string> expected;
  } cases[] = {
      {"none: the scale file's",
       {},
       {{"scale_method", "clicked"}, {"px_per_mm", "8"}, {"scale_source", "series"}}},
      {"read by key c",
       read,
       {{"scale_method", "ruler"},
        {"px_per_mm", "12"},
        {"px_per_mm_se", "0.006"},
        {"scale_source", "photograph"},
        {"warn_scale_spacing_varies", "1"}}},
      {"carried by key y",
       carried,
       {{"scale_method", "carried"},
        {"px_per_mm", "12"},
        {"scale_from", "3"},
        {"scale_source", "series"},
        {"warn_scale_spacing_varies", "0"}}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].what);
    SessionResult result = accepted_result();
    result.scale = cases[i].scale;
    std::ostringstream out;
    ASSERT_TRUE(save_measurement_with_details(
                    directory_.path(), read_capture_date(directory_ / "b.jpg"), result.lambda,
                    details_record_of(result, "b.jpg"), out, fixed_measuring_time)
                    .saved);
    const std::vector<std::map<std::string, std::string>> rows = details_rows(details());
    ASSERT_EQ(rows.size(), i + 1);
    for (const auto& [column, text] : cases[i].expected) {
      SCOPED_TRACE(column);
      EXPECT_EQ(rows.back().at(column), text);
    }
  }
}
