// A series measured with its scale read from each photograph, given, or carried from one
// photograph; a scale that cannot be had stops the run before anything is measured.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "batch_test_support.h"
#include "series/csv_text.h"
#include "series/random_order_file.h"

using namespace meravel;

namespace {

// make_scale_series DIR KIND 3 1200 900 (photographs small enough to be quick).
void make_scale_series(const TempDirectory& directory, const std::string& kind) {
  const std::string command = std::string(MERAVEL_BUILD_DIR) + "/make_scale_series " +
                              directory.path() + " " + kind + " 3 1200 900 > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
}

using Row = std::map<std::string, std::string>;

// The rows of a comma-separated file with a header, by file name.
std::map<std::string, Row> rows_by_file(const std::string& text) {
  const CsvText csv = parse_csv(text);
  EXPECT_TRUE(csv.problem.empty()) << csv.problem;
  std::map<std::string, Row> rows;
  if (csv.records.empty()) return rows;
  const std::vector<std::string>& header = csv.records[0].fields;
  for (size_t r = 1; r < csv.records.size(); ++r) {
    Row row;
    for (size_t i = 0; i < header.size() && i < csv.records[r].fields.size(); ++i) {
      row[header[i]] = csv.records[r].fields[i];
    }
    rows[row["file"]] = row;
  }
  return rows;
}

double number(const std::string& text) { return parse_number(text).value_or(NAN); }

BatchRunResult run_with_scale(const TempDirectory& series, const ScaleRequest& scale,
                              const std::string& scale_from = {}) {
  BatchSettings settings;
  settings.directory = series.path();
  settings.jobs = 2;
  // As meravel fit does without --threshold: the egg, not the largest outline (the ruler's).
  settings.automatic_segmentation = true;
  settings.scale = scale;
  settings.scale_from = scale_from;
  return run_batch_with(settings);
}

TEST(ScaleRun, EachPhotographsRulerGivesItsOwnScale) {
  TempDirectory series;
  make_scale_series(series, "ruler");
  ScaleRequest ruler;
  ruler.kind = ScaleRequest::Kind::ruler;
  const BatchRunResult run = run_with_scale(series, ruler);
  EXPECT_EQ(run.summary.measured, 3u) << run.progress;
  const std::map<std::string, Row> truth = rows_by_file(series.read("scale_truth.csv"));
  const std::map<std::string, Row> details = rows_by_file(series.read("measures_details.csv"));
  ASSERT_EQ(details.size(), 3u);
  for (const auto& [file, row] : details) {
    SCOPED_TRACE(file);
    const double expected = number(truth.at(file).at("px_per_mm"));
    EXPECT_NEAR(number(row.at("px_per_mm")), expected, 0.005 * expected);
    EXPECT_EQ(row.at("scale_method"), "ruler");
    EXPECT_EQ(row.at("scale_source"), "photograph");
    EXPECT_GT(number(row.at("px_per_mm_se")), 0);
    EXPECT_NEAR(number(row.at("length_mm")) * number(row.at("px_per_mm")),
                number(row.at("length_px")), 1e-6 * number(row.at("length_px")));
  }
  // Each photograph of this series was taken at its own scale: they stand out from the median.
  EXPECT_NE(run.out.find("the scale is more than 2 % from the series' median"), std::string::npos)
      << run.out;
}

TEST(ScaleRun, NoScaleIsInventedAndEachPhotographSaysSo) {
  TempDirectory series;
  make_scale_series(series, "none");
  ScaleRequest automatic;
  automatic.kind = ScaleRequest::Kind::automatic;
  automatic.size_mm = 20;
  const BatchRunResult run = run_with_scale(series, automatic);
  EXPECT_EQ(batch_exit_status(run.summary), 0) << run.progress;
  for (const auto& [file, row] : rows_by_file(series.read("measures_details.csv"))) {
    SCOPED_TRACE(file);
    EXPECT_EQ(row.at("scale_method"), "none");
    EXPECT_EQ(row.at("px_per_mm"), "");
    EXPECT_EQ(row.at("length_mm"), "");
  }
  size_t said = 0;
  for (size_t at = 0;
       (at = run.progress.find("the values stay in pixels", at)) != std::string::npos; ++at) {
    ++said;
  }
  EXPECT_EQ(said, 3u) << run.progress;
}

TEST(ScaleRun, AGivenOrCarriedScaleHoldsForEveryPhotograph) {
  TempDirectory series;
  make_scale_series(series, "marker");
  const std::map<std::string, Row> truth = rows_by_file(series.read("scale_truth.csv"));

  ScaleRequest given;
  given.kind = ScaleRequest::Kind::given;
  given.px_per_mm = 12.5;
  ASSERT_EQ(batch_exit_status(run_with_scale(series, given).summary), 0);
  for (const auto& [file, row] : rows_by_file(series.read("measures_details.csv"))) {
    SCOPED_TRACE(file);
    EXPECT_EQ(row.at("scale_method"), "given");
    EXPECT_EQ(row.at("px_per_mm"), "12.5");
    EXPECT_EQ(row.at("px_per_mm_se"), "");
  }

  // Carried from the second photograph: its marker's side as the truth has it, and its position
  // in the measuring order as the source.
  TempDirectory carried;
  copy_series(series, carried);
  std::filesystem::remove(carried.file("measures.csv"));
  std::filesystem::remove(carried.file("measures_details.csv"));
  ScaleRequest marker;
  marker.kind = ScaleRequest::Kind::marker;
  marker.size_mm = number(truth.at("IMG_0002.JPG").at("reference_mm"));
  const BatchRunResult run = run_with_scale(carried, marker, carried.file("IMG_0002.JPG"));
  ASSERT_EQ(batch_exit_status(run.summary), 0) << run.progress;
  std::vector<SeriesEntry> order;
  ASSERT_TRUE(read_random_order_file(carried.file("random_order.csv"), order));
  std::stable_sort(order.begin(), order.end());
  std::string position;
  for (size_t i = 0; i < order.size(); ++i) {
    if (order[i].name == "IMG_0002.JPG") position = std::to_string(i + 1);
  }
  const double source = number(truth.at("IMG_0002.JPG").at("px_per_mm"));
  for (const auto& [file, row] : rows_by_file(carried.read("measures_details.csv"))) {
    SCOPED_TRACE(file);
    EXPECT_EQ(row.at("scale_method"), "carried");
    EXPECT_EQ(row.at("scale_from"), position);
    EXPECT_NEAR(number(row.at("px_per_mm")), source, 0.005 * source);
  }
  EXPECT_EQ(run.out.find("the scale is more than 2 %"), std::string::npos) << run.out;
}

TEST(ScaleRun, AScaleThatCannotBeHadMeasuresNothing) {
  TempDirectory series;
  make_scale_series(series, "none");
  ScaleRequest ruler;
  ruler.kind = ScaleRequest::Kind::ruler;
  struct Case {
    const char* name;
    ScaleRequest scale;
    std::string scale_from;
    std::string scale_file;  // written as scale.csv first when not empty
    const char* message;
  };
  const Case cases[] = {
      {"carried from a photograph without one", ruler, series.file("IMG_0001.JPG"), "",
       "No scale found in"},
      {"carried from a missing photograph", ruler, series.file("missing.jpg"), "", "missing.jpg"},
      {"a scale file of another form", {}, "", "px_per_mm\n20\n", "Nothing was measured"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.scale_file.empty()) {
      std::ofstream(series.file("scale.csv")) << c.scale_file;
    }
    const BatchRunResult run = run_with_scale(series, c.scale, c.scale_from);
    EXPECT_EQ(batch_exit_status(run.summary), 2);
    EXPECT_NE(run.progress.find(c.message), std::string::npos) << run.progress;
    EXPECT_EQ(run.summary.measured, 0u);
    EXPECT_FALSE(series.exists("measures.csv"));
  }
}

}  // namespace
