// meravel fit with the automatic segmentation: the egg found where the default threshold finds
// the wrong object, no fit for a photograph without an egg, and the details row saying how the
// object was found.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "batch_test_support.h"
#include "fit/segmentation.h"
#include "series/csv_text.h"
#include "series/details_file.h"
#include "tools/demo_photo_conditions.h"

using namespace meravel;

namespace {

BatchRunResult run_with(const std::string& directory, bool automatic) {
  BatchSettings settings;
  settings.directory = directory;
  settings.automatic_segmentation = automatic;
  return run_batch_with(settings);
}

// The details rows by file name, each as column name -> field.
std::map<std::string, std::map<std::string, std::string>> details_of(const TempDirectory& dir) {
  std::ifstream in(dir.file(kDetailsFileName));
  std::stringstream text;
  text << in.rdbuf();
  const CsvText csv = parse_csv(text.str());
  std::map<std::string, std::map<std::string, std::string>> rows;
  if (csv.records.empty()) return rows;
  const std::vector<std::string>& header = csv.records[0].fields;
  for (size_t r = 1; r < csv.records.size(); ++r) {
    const std::vector<std::string>& fields = csv.records[r].fields;
    std::map<std::string, std::string> row;
    for (size_t i = 0; i < header.size() && i < fields.size(); ++i) row[header[i]] = fields[i];
    rows[row["file"]] = row;
  }
  return rows;
}

TEST(SegmentationBatch, FindsTheEggAndRecordsHowOrSaysThereIsNone) {
  TempDirectory series;
  const cv::Size size(800, 600);
  const DemoObject egg = demo_condition_egg(size, 3);
  // A brown egg on white paper: at the default threshold the object is the paper.
  ASSERT_TRUE(write_demo_jpeg(series.file("brown.jpg"),
                              render_condition_photo(size, egg, DemoCondition::kBrownOnPaper, 3),
                              92, {}));
  ASSERT_TRUE(
      write_demo_jpeg(series.file("empty.jpg"), cv::Mat(size, CV_8UC3, cv::Scalar(40)), 92, {}));

  const BatchRunResult run = run_with(series.path(), true);
  EXPECT_EQ(run.summary.measured, 1u);
  EXPECT_EQ(run.summary.failed, 1u);
  // A blind run names the photograph by its position only.
  EXPECT_NE(run.progress.find(": No egg found in the photograph: no object stands out"),
            std::string::npos)
      << run.progress;
  EXPECT_EQ(run.progress.find("empty.jpg"), std::string::npos) << run.progress;
  auto rows = details_of(series);
  ASSERT_EQ(rows.count("brown.jpg"), 1u);
  std::map<std::string, std::string> row = rows["brown.jpg"];
  EXPECT_EQ(row["segmentation"], "automatic");
  EXPECT_EQ(row["polarity"], "dark_on_light");
  EXPECT_GT(std::stod(row["candidate_score"]), kPlausibleEggScore);
  EXPECT_LT(std::stod(row["runner_up_score"]), std::stod(row["candidate_score"]));
  const double length = std::stod(row["length_px"]);
  EXPECT_NEAR(length, egg.height, 0.03 * egg.height);

  // With the threshold given, the largest outline at it: on the paper that is the image's frame,
  // which is no measurement and is not recorded; a cream egg on a dark ground is recorded with
  // the threshold and no scores.
  TempDirectory given;
  std::filesystem::copy_file(series.file("brown.jpg"), given.file("brown.jpg"));
  ASSERT_TRUE(write_demo_jpeg(given.file("cream.jpg"),
                              render_condition_photo(size, egg, DemoCondition::kClean, 3), 92, {}));
  const BatchRunResult threshold = run_with(given.path(), false);
  EXPECT_EQ(threshold.summary.measured, 1u);
  rows = details_of(given);
  EXPECT_EQ(rows.count("brown.jpg"), 0u);
  ASSERT_EQ(rows.count("cream.jpg"), 1u);
  row = rows["cream.jpg"];
  EXPECT_EQ(row["segmentation"], "threshold");
  EXPECT_EQ(row["threshold"], "131");
  EXPECT_EQ(row["candidate_score"], "");
  EXPECT_EQ(row["runner_up_score"], "");
}

}  // namespace
