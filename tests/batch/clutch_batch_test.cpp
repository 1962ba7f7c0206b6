// meravel fit --objects all: every egg of a clutch its own record in both files, numbered left to
// right, the touching pair flagged; a rerun skips the photograph, --again measures every egg anew.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "batch_test_support.h"
#include "series/csv_text.h"
#include "series/details_file.h"
#include "series/file_overview.h"
#include "tools/demo_photo_clutch.h"

using namespace meravel;

namespace {

// The details rows, each as column name -> field, in file order.
std::vector<std::map<std::string, std::string>> details_rows(const TempDirectory& dir) {
  std::ifstream in(dir.file(kDetailsFileName));
  std::stringstream text;
  text << in.rdbuf();
  const CsvText csv = parse_csv(text.str());
  std::vector<std::map<std::string, std::string>> rows;
  if (csv.records.empty()) return rows;
  const std::vector<std::string>& header = csv.records[0].fields;
  for (size_t r = 1; r < csv.records.size(); ++r) {
    std::map<std::string, std::string> row;
    for (size_t i = 0; i < header.size() && i < csv.records[r].fields.size(); ++i)
      row[header[i]] = csv.records[r].fields[i];
    rows.push_back(row);
  }
  return rows;
}

BatchRunResult run_all(const TempDirectory& series, bool again) {
  BatchSettings settings;
  settings.directory = series.path();
  settings.automatic_segmentation = true;
  settings.every_egg = true;
  settings.again = again;
  settings.review_path = series.file("review.png");
  return run_batch_with(settings);
}

TEST(ClutchBatch, EveryEggItsOwnRecordInTheClutchOrder) {
  TempDirectory series;
  const cv::Size size(720, 540);
  const DemoClutch three = make_demo_clutch(size, 3, ClutchGround::kCardWithRuler, 2);
  const DemoClutch two = make_demo_clutch(size, 2, ClutchGround::kCloth, 5, false);
  ASSERT_TRUE(write_demo_jpeg(series.file("three.jpg"), three.photo, 92, {}));
  ASSERT_TRUE(write_demo_jpeg(series.file("two.jpg"), two.photo, 92, {}));

  const BatchRunResult run = run_all(series, false);
  EXPECT_EQ(run.summary.measured, 2u);
  EXPECT_EQ(run.summary.eggs_measured, 5u);
  EXPECT_NE(run.out.find("5 eggs measured, each its own record."), std::string::npos) << run.out;
  EXPECT_TRUE(std::ifstream(series.file("review.png")).good());
  // Flagged eggs are named by position and egg, never by the photograph's name.
  EXPECT_TRUE(std::regex_search(run.out, std::regex("Flagged: file [12]\\.[123]: [^\\n]*touches "
                                                    "another egg")))
      << run.out;
  EXPECT_EQ(run.out.find("three.jpg"), std::string::npos);

  const std::vector<std::map<std::string, std::string>> rows = details_rows(series);
  ASSERT_EQ(rows.size(), 5u);
  std::map<std::string, int> per_file;
  for (size_t r = 0; r < rows.size(); ++r) {
    const auto& row = rows[r];
    SCOPED_TRACE(row.at("file") + " egg " + row.at("egg_index"));
    const bool is_three = row.at("file") == "three.jpg";
    const DemoClutch& demo = is_three ? three : two;
    EXPECT_EQ(row.at("egg_count"), std::to_string(demo.eggs.size()));
    EXPECT_EQ(row.at("egg_index"), std::to_string(++per_file[row.at("file")]));
    // Left to right: each egg's centre right of the one before it in the same photograph.
    if (r > 0 && rows[r - 1].at("file") == row.at("file")) {
      EXPECT_GT(std::stoi(row.at("centre_x_px")), std::stoi(rows[r - 1].at("centre_x_px")));
    }
    const cv::Point centre(std::stoi(row.at("centre_x_px")), std::stoi(row.at("centre_y_px")));
    const cv::Rect box(std::stoi(row.at("bbox_x_px")), std::stoi(row.at("bbox_y_px")),
                       std::stoi(row.at("bbox_width_px")), std::stoi(row.at("bbox_height_px")));
    EXPECT_TRUE(box.contains(centre));
    // The egg at that centre, and whether it is one of the pair that touch.
    int truth = -1;
    for (size_t i = 0; i < demo.eggs.size(); ++i) {
      if (std::hypot(centre.x - demo.eggs[i].center_x, centre.y - demo.eggs[i].center_y) <
          0.1 * demo.eggs[i].height)
        truth = static_cast<int>(i);
    }
    ASSERT_GE(truth, 0);
    const bool touches = truth == demo.touching[0] || truth == demo.touching[1];
    EXPECT_EQ(row.at("warn_egg_touching"), touches ? "1" : "0");
    // The model's lambda describes the egg from the end it takes for the top: the truth's or its
    // inverse.
    const double lambda = std::stod(row.at("lambda")), want = demo.eggs[truth].lambda;
    EXPECT_LT(std::min(std::fabs(lambda / want - 1), std::fabs(lambda * want - 1)), 0.05) << lambda;
  }
  // One line of measures.csv per egg.
  const std::vector<int> counts =
      count_measures(series.file(kMeasuresFileName), {{"three.jpg"}, {"two.jpg"}});
  EXPECT_EQ(counts, (std::vector<int>{3, 2}));

  const BatchRunResult skipped = run_all(series, false);
  EXPECT_EQ(skipped.summary.skipped, 2u);
  EXPECT_EQ(details_rows(series).size(), 5u);
  const BatchRunResult again = run_all(series, true);
  EXPECT_EQ(again.summary.eggs_measured, 5u);
  EXPECT_EQ(details_rows(series).size(), 10u);
}

}  // namespace
