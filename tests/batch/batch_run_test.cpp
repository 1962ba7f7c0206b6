// The batch measuring of a whole series, in-process: records in measuring order, skipping and
// --again, bad photographs, one job against several.
#include <gtest/gtest.h>

#include <map>
#include <opencv2/imgcodecs.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "batch_test_support.h"
#include "series/measures_file.h"
#include "series/random_order_file.h"
#include "tools/demo_photo.h"

using namespace meravel;

namespace {

// The names of the order file, in measuring order.
std::vector<std::string> measuring_order(const TempDirectory& directory) {
  std::vector<SeriesEntry> entries;
  EXPECT_TRUE(read_random_order_file(directory.file("random_order.csv"), entries));
  std::stable_sort(entries.begin(), entries.end());
  std::vector<std::string> names;
  for (const SeriesEntry& entry : entries) names.push_back(entry.name);
  return names;
}

std::string name_of(const std::string& record) { return record.substr(0, record.find(';')); }

class BatchRun : public testing::Test {
 protected:
  void SetUp() override { make_demo_series(series_); }
  TempDirectory series_;
};

TEST_F(BatchRun, MeasuresEveryPhotographInMeasuringOrder) {
  const BatchRunResult run = run_batch_on(series_.path(), 1);
  EXPECT_EQ(batch_exit_status(run.summary), 0) << run.progress;
  EXPECT_EQ(run.summary.measured, 8u);
  EXPECT_EQ(run.summary.failed, 0u);
  EXPECT_NE(run.out.find("Measured 8, skipped 0, failed 0, flagged 0."), std::string::npos)
      << run.out;

  const std::vector<std::string> lines = lines_of(series_.read("measures.csv"));
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0], kMeasuresHeader);
  const std::vector<std::string> order = measuring_order(series_);
  for (size_t i = 1; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    EXPECT_EQ(name_of(lines[i]), order.at(i - 1));
    EXPECT_NE(lines[i].find(";2012-04-02 09:05:03;"), std::string::npos);
  }
  // Without a terminal, one line per photograph, by its place in the order.
  const std::vector<std::string> progress = lines_of(run.progress);
  ASSERT_EQ(progress.size(), 8u) << run.progress;
  EXPECT_EQ(progress[0].rfind("[1/8] file 1: lambda ", 0), 0u) << progress[0];
  EXPECT_EQ(progress[7].rfind("[8/8] file 8: lambda ", 0), 0u) << progress[7];
}

TEST_F(BatchRun, SkipsMeasuredPhotographsUnlessAgain) {
  run_batch_on(series_.path(), 2);
  const std::string first = series_.read("measures.csv");

  const BatchRunResult skipping = run_batch_on(series_.path(), 2);
  EXPECT_EQ(batch_exit_status(skipping.summary), 0);
  EXPECT_EQ(skipping.summary.measured, 0u);
  EXPECT_EQ(skipping.summary.skipped, 8u);
  EXPECT_EQ(series_.read("measures.csv"), first);

  const BatchRunResult again = run_batch_on(series_.path(), 2, true);
  EXPECT_EQ(again.summary.measured, 8u);
  EXPECT_EQ(again.summary.skipped, 0u);
  const std::vector<std::string> before = lines_of(first);
  // The same fits once more, after the first ones, and no second header.
  EXPECT_EQ(series_.read("measures.csv"), first + first.substr(before[0].size() + 1));
}

TEST_F(BatchRun, SkipsOnlyThePhotographsWithARecord) {
  run_batch_on(series_.path(), 1);
  const std::vector<std::string> all = lines_of(series_.read("measures.csv"));
  const std::vector<std::string> all_details = lines_of(series_.read("measures_details.csv"));
  // Two records kept, as if only those had been measured so far; in both files, which hold the
  // same records.
  std::ofstream(series_.file("measures.csv"), std::ios::trunc) << all[0] << "\n"
                                                               << all[3] << "\n"
                                                               << all[6] << "\n";
  std::ofstream(series_.file("measures_details.csv"), std::ios::trunc) << all_details[0] << "\n"
                                                                       << all_details[3] << "\n"
                                                                       << all_details[6] << "\n";
  const BatchRunResult run = run_batch_on(series_.path(), 2);
  EXPECT_EQ(run.summary.measured, 6u);
  EXPECT_EQ(run.summary.skipped, 2u);
  const std::vector<std::string> lines = lines_of(series_.read("measures.csv"));
  ASSERT_EQ(lines.size(), 9u);
  std::vector<std::string> expected{all[0], all[3], all[6]};
  for (size_t i = 1; i < all.size(); ++i)
    if (i != 3 && i != 6) expected.push_back(all[i]);
  EXPECT_EQ(lines, expected);
}

TEST_F(BatchRun, OneJobAndSeveralGiveTheSameFile) {
  TempDirectory copy_two;
  TempDirectory copy_three;
  run_batch_on(series_.path(), 1, false);  // draws the order; the copies get it
  const std::string single = series_.read("measures.csv");
  for (const TempDirectory* copy : {&copy_two, &copy_three}) {
    copy_series(series_, *copy);
    std::remove(copy->file("measures.csv").c_str());
    std::remove(copy->file("measures_details.csv").c_str());
  }
  run_batch_on(copy_two.path(), 2);
  run_batch_on(copy_three.path(), 3);
  EXPECT_EQ(copy_two.read("measures.csv"), single);
  EXPECT_EQ(copy_three.read("measures.csv"), single);
}

TEST_F(BatchRun, BadPhotographsAreReportedOnOneLineEachAndTheRunGoesOn) {
  series_.write("IMG_broken.jpg", "not a photograph at all");
  // A dark photograph: nothing above the threshold, no outline.
  ASSERT_TRUE(write_demo_jpeg(series_.file("IMG_black.jpg"),
                              cv::Mat(300, 400, CV_8UC3, cv::Scalar::all(20)), 90, DemoExif{}));
  const BatchRunResult run = run_batch_on(series_.path(), 2);
  EXPECT_EQ(batch_exit_status(run.summary), 1);
  EXPECT_EQ(run.summary.measured, 8u);
  EXPECT_EQ(run.summary.failed, 2u);
  EXPECT_NE(run.out.find("Measured 8, skipped 0, failed 2, flagged 0."), std::string::npos)
      << run.out;

  // Each failure on one line, by position only: no line names a photograph.
  const std::vector<std::string> order = measuring_order(series_);
  for (const char* bad : {"IMG_broken.jpg", "IMG_black.jpg"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(run.progress.find(bad), std::string::npos) << run.progress;
    EXPECT_EQ(run.out.find(bad), std::string::npos) << run.out;
    const size_t position = std::find(order.begin(), order.end(), bad) - order.begin() + 1;
    const std::string prefix = "file " + std::to_string(position) + ": ";
    size_t failure_lines = 0;
    for (const std::string& line : lines_of(run.progress)) {
      if (line.rfind(prefix, 0) != 0) continue;
      ++failure_lines;
      EXPECT_NE(line.find(bad == std::string("IMG_broken.jpg") ? "Cannot load the photograph"
                                                               : "No outline"),
                std::string::npos)
          << line;
    }
    EXPECT_EQ(failure_lines, 1u) << run.progress;
  }

  // Whole records of the others only; the bad ones have none and are tried again next time.
  const std::vector<std::string> lines = lines_of(series_.read("measures.csv"));
  ASSERT_EQ(lines.size(), 9u);
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), ';'), 5) << lines[i];
    EXPECT_NE(name_of(lines[i]), "IMG_broken.jpg");
    EXPECT_NE(name_of(lines[i]), "IMG_black.jpg");
  }
  const BatchRunResult next = run_batch_on(series_.path(), 2);
  EXPECT_EQ(next.summary.skipped, 8u);
  EXPECT_EQ(next.summary.failed, 2u);
}

// Lambda of each record, by file name.
std::map<std::string, double> lambda_by_name(const TempDirectory& directory) {
  std::map<std::string, double> lambdas;
  for (const std::string& line : lines_of(directory.read("measures.csv"))) {
    if (line == kMeasuresHeader) continue;
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, ';');) fields.push_back(field);
    if (fields.size() >= 4) lambdas[fields[0]] = std::stod(fields[3]);
  }
  return lambdas;
}

// Dark objects on a light ground (the demo photographs inverted): measured as dark objects they
// give the lambdas of the light originals; measured as light ones, the outline is the frame and
// every fit is flagged.
TEST_F(BatchRun, DarkObjectsAreMeasuredWithTheInvertedGrey) {
  run_batch_on(series_.path(), 2);
  TempDirectory dark, dark_as_light;
  for (const std::string& name : measuring_order(series_)) {
    cv::Mat inverted = cv::Scalar::all(255) - cv::imread(series_.file(name));
    ASSERT_TRUE(cv::imwrite(dark.file(name), inverted, {cv::IMWRITE_JPEG_QUALITY, 95}));
    ASSERT_TRUE(cv::imwrite(dark_as_light.file(name), inverted, {cv::IMWRITE_JPEG_QUALITY, 95}));
  }
  SessionStart dark_start;
  dark_start.polarity = ObjectPolarity::kDarkOnLight;
  const BatchRunResult run = run_batch_on(dark.path(), 2, false, {}, dark_start);
  EXPECT_EQ(batch_exit_status(run.summary), 0) << run.progress;
  EXPECT_TRUE(run.summary.flagged.empty()) << run.out;
  const std::map<std::string, double> light = lambda_by_name(series_);
  const std::map<std::string, double> measured = lambda_by_name(dark);
  ASSERT_EQ(measured.size(), 8u);
  for (const auto& [name, lambda] : measured) {
    SCOPED_TRACE(name);
    EXPECT_NEAR(lambda, light.at(name), 0.005 * light.at(name));
  }
  EXPECT_NE(dark.read("measures_details.csv").find(",dark_on_light,"), std::string::npos);

  // Measured as light objects, the outline is the frame: no measurement, nothing recorded, and
  // the next run (with the right polarity) measures them all.
  const BatchRunResult wrong = run_batch_on(dark_as_light.path(), 2);
  EXPECT_EQ(wrong.summary.failed, 8u) << wrong.out;
  EXPECT_EQ(wrong.summary.measured, 0u);
  EXPECT_EQ(batch_exit_status(wrong.summary), 1);
  EXPECT_NE(wrong.progress.find("the frame of the image"), std::string::npos) << wrong.progress;
  EXPECT_TRUE(lines_of(dark_as_light.read("measures.csv")).size() <= 1u);
  const BatchRunResult retried = run_batch_on(dark_as_light.path(), 2, false, {}, dark_start);
  EXPECT_EQ(retried.summary.measured, 8u) << retried.out;
  EXPECT_EQ(retried.summary.skipped, 0u);
}

// Photographs without a capture date and pictures the name rules leave out are each one count in
// the summary, not a line per photograph naming it.
TEST_F(BatchRun, MissingDatesAndLeftOutFilesAreCountedOnce) {
  cv::Mat photo;
  for (const auto& entry : std::filesystem::directory_iterator(series_.path()))
    if (entry.path().extension() == ".JPG" || entry.path().extension() == ".jpg")
      photo = cv::imread(entry.path().string());
  ASSERT_FALSE(photo.empty());
  DemoExif no_exif;
  no_exif.present = false;
  DemoExif no_date;
  no_date.date_time.reset();
  ASSERT_TRUE(write_demo_jpeg(series_.file("IMG_noexif.jpg"), photo, 90, no_exif));
  ASSERT_TRUE(write_demo_jpeg(series_.file("IMG_nodate.jpg"), photo, 90, no_date));
  for (const char* other : {"IMG_a.jpeg", "IMG_b.png", "IMG_c.TIF", "1.jpg"})
    ASSERT_TRUE(cv::imwrite(series_.file(other), photo));
  series_.write("notes.txt", "not a picture");

  const BatchRunResult run = run_batch_on(series_.path(), 2);
  EXPECT_EQ(run.summary.measured, 10u) << run.progress;
  EXPECT_EQ(run.progress.find("EXIF"), std::string::npos) << run.progress;
  EXPECT_EQ(run.progress.find("Exif"), std::string::npos) << run.progress;
  EXPECT_EQ(run.progress.find("IMG_no"), std::string::npos) << run.progress;
  const std::vector<std::string> out = lines_of(run.out);
  for (const char* line : {"2 photographs had no capture date; their date is empty.",
                           "3 files left out: only .jpg and .JPG are measured.",
                           "1 file left out: a photograph's name needs at least six characters."}) {
    EXPECT_EQ(std::count(out.begin(), out.end(), line), 1) << run.out;
  }
}

// Two runs on one series at once: whether a photograph still needs measuring is decided again
// when its record is saved, so each photograph is saved once, by one of them, and the other
// counts it as skipped. The two record files stay in step.
TEST_F(BatchRun, TwoRunsAtOnceSaveEachPhotographOnce) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    TempDirectory series;
    copy_series(series_, series);
    BatchRunResult first, second;
    std::thread other([&] { second = run_batch_on(series.path(), 1); });
    first = run_batch_on(series.path(), 1);
    other.join();
    EXPECT_EQ(first.summary.measured + second.summary.measured, 8u);
    EXPECT_EQ(first.summary.measured + first.summary.skipped, 8u);
    EXPECT_EQ(second.summary.measured + second.summary.skipped, 8u);
    EXPECT_EQ(batch_exit_status(first.summary), 0) << first.progress;
    EXPECT_EQ(batch_exit_status(second.summary), 0) << second.progress;
    std::vector<std::string> names;
    for (const std::string& line : lines_of(series.read("measures.csv"))) {
      if (line != kMeasuresHeader) names.push_back(name_of(line));
    }
    std::vector<std::string> unique = names;
    std::sort(unique.begin(), unique.end());
    unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
    EXPECT_EQ(names.size(), 8u);
    EXPECT_EQ(unique.size(), names.size());
    EXPECT_EQ(lines_of(series.read("measures_details.csv")).size(), names.size() + 1);
  }
}

// Record files that no save may append to stop the run before anything is fitted, with the file
// and what is wrong; an order file that lists no photograph is no series.
TEST_F(BatchRun, RecordFilesOutOfStepOrAnEmptyOrderFileStopTheRun) {
  run_batch_on(series_.path(), 2);
  // measures.csv one record ahead of the details file, as a hand edit leaves it.
  std::vector<std::string> details = lines_of(series_.read("measures_details.csv"));
  details.pop_back();
  std::ofstream out(series_.file("measures_details.csv"), std::ios::trunc);
  for (const std::string& line : details) out << line << "\n";
  out.close();
  const std::string measures = series_.read("measures.csv");
  const BatchRunResult run = run_batch_on(series_.path(), 2, true);
  EXPECT_EQ(batch_exit_status(run.summary), 1);
  EXPECT_EQ(run.summary.measured, 0u);
  EXPECT_NE(run.progress.find("Nothing is measured: measures.csv: the two record files are out "
                              "of step from record 8 on (measures.csv holds 8 records, "
                              "measures_details.csv 7)"),
            std::string::npos)
      << run.progress;
  EXPECT_EQ(series_.read("measures.csv"), measures);

  TempDirectory empty_order;
  copy_series(series_, empty_order);
  empty_order.write("random_order.csv", "");
  const BatchRunResult none = run_batch_on(empty_order.path(), 1);
  EXPECT_EQ(batch_exit_status(none.summary), 2);
  EXPECT_NE(none.progress.find("No photographs to measure"), std::string::npos);
}

TEST(BatchRunSeries, ADirectoryWithoutPhotographsIsAWrongArgument) {
  TempDirectory empty;
  const BatchRunResult run = run_batch_on(empty.path(), 1);
  EXPECT_FALSE(run.summary.series_found);
  EXPECT_EQ(batch_exit_status(run.summary), 2);
  EXPECT_NE(run.progress.find("No photographs to measure in " + empty.path()), std::string::npos);
  EXPECT_FALSE(empty.exists("measures.csv"));
}

}  // namespace
