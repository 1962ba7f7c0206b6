// A photograph of two eggs measured in the main window: key e finds both, key a fits the one it
// chose, and ENTER saves each in turn as its own record (the next egg fitted as it comes).
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/measurement.h"
#include "app/myqtapp.h"
#include "series/csv_text.h"
#include "series/series_state.h"
#include "test_support.h"
#include "windows/window_test_support.h"

using namespace meravel;

namespace {

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ClutchSession, EnterSavesEachEggOfThePhotographAsItsOwnRecord) {
  window_test::Watchdog watchdog(300);
  TempDirectory directory;
  window_test::write_two_eggs(directory, "clutch_of_two.jpg");
  series_state() = SeriesState();
  myQtApp window;
  window.set_measuring_clock(fixed_measuring_time);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QTest::keyClicks(window.findChild<QLineEdit*>("lineEdit_directory"),
                   QString::fromStdString(directory.path()));
  QTest::mouseClick(window.findChild<QPushButton*>("pushButton_process"), Qt::LeftButton);
  ASSERT_EQ(series_state().file_list.size(), 1u);

  window_test::ScriptedUser user(window.measuring_window(),
                                 {window_test::key('e'), window_test::key('a'),
                                  window_test::key('\r'), window_test::key('\r')});
  testing::internal::CaptureStdout();
  QTest::mouseClick(window.findChild<QPushButton*>("pushButton_do"), Qt::LeftButton);
  const std::string printed = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(user.finished());
  EXPECT_NE(printed.find("2 eggs found"), std::string::npos) << printed;
  EXPECT_NE(printed.find("Measurement for file 1 SAVED."), std::string::npos) << printed;

  // Two measures.csv lines and two details rows, one per egg, each fitted on its own egg.
  const std::string measures = read_text(directory.file("measures.csv"));
  EXPECT_EQ(std::count(measures.begin(), measures.end(), '\n'), 3) << measures;
  const CsvText csv = parse_csv(read_text(directory.file("measures_details.csv")));
  ASSERT_EQ(csv.problem, "");
  ASSERT_EQ(csv.records.size(), 3u);
  std::map<std::string, size_t> column;
  for (size_t c = 0; c < csv.records[0].fields.size(); ++c) column[csv.records[0].fields[c]] = c;
  std::vector<int> centres_x;
  for (size_t r = 1; r < 3; ++r) {
    EXPECT_EQ(csv.records[r].fields[column.at("file")], "clutch_of_two.jpg");
    EXPECT_EQ(csv.records[r].fields[column.at("segmentation")], "automatic");
    centres_x.push_back(std::stoi(csv.records[r].fields[column.at("translation_x_px")]));
    // Each row says which egg it is, where it lies (its area's centre, a few pixels from the
    // axis' midpoint towards the broad end) and that the photograph holds two.
    const int egg = std::stoi(csv.records[r].fields[column.at("egg_index")]);
    ASSERT_TRUE(egg == 1 || egg == 2) << egg;
    EXPECT_EQ(csv.records[r].fields[column.at("egg_count")], "2");
    const auto& truth = window_test::kTwoEggs[egg - 1];
    EXPECT_NEAR(std::stod(csv.records[r].fields[column.at("centre_x_px")]), truth.center_x, 10);
    EXPECT_NEAR(std::stod(csv.records[r].fields[column.at("centre_y_px")]), truth.center_y, 10);
    const double box_x = std::stod(csv.records[r].fields[column.at("bbox_x_px")]);
    const double box_width = std::stod(csv.records[r].fields[column.at("bbox_width_px")]);
    EXPECT_LT(box_x, truth.center_x);
    EXPECT_GT(box_x + box_width, truth.center_x);
  }
  EXPECT_NE(csv.records[1].fields[column.at("egg_index")],
            csv.records[2].fields[column.at("egg_index")]);
  std::sort(centres_x.begin(), centres_x.end());
  EXPECT_NEAR(centres_x[0], window_test::kTwoEggs[0].center_x, 4);
  EXPECT_NEAR(centres_x[1], window_test::kTwoEggs[1].center_x, 4);
  series_state() = SeriesState();
}

}  // namespace
