// The realistic condition photographs: one per condition and seed, each egg where its truth row
// says, the truth's length the curve's height.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "tools/demo_photo_conditions.h"

using namespace meravel;

namespace {

std::vector<std::string> split_commas(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
  return fields;
}

}  // namespace

TEST(MakeConditionSeries, WritesEachConditionWithTheEggItsTruthDescribes) {
  TempDirectory dir;
  const std::string command = std::string(MERAVEL_BUILD_DIR) + "/make_condition_series " +
                              dir.path() + " 320 240 2 > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream truth(dir.file("condition_truth.csv"));
  std::string line;
  std::getline(truth, line);
  EXPECT_EQ(line,
            "file,condition,lambda,width,height,rotation,center_x,center_y,length_px,"
            "breadth_px");
  size_t rows = 0;
  while (std::getline(truth, line)) {
    const std::vector<std::string> f = split_commas(line);
    ASSERT_EQ(f.size(), 10u) << line;
    SCOPED_TRACE(f[0]);
    ++rows;
    const cv::Mat photo = cv::imread(dir.file(f[0]));
    ASSERT_EQ(photo.size(), cv::Size(320, 240));
    EXPECT_DOUBLE_EQ(std::stod(f[8]), std::stod(f[4]));  // the length is the curve's height
    EXPECT_GT(std::stod(f[8]), std::stod(f[9]));
    // The shell at the egg's centre differs from the ground in the corner.
    const cv::Vec3b centre =
        photo.at<cv::Vec3b>(static_cast<int>(std::stod(f[7])), static_cast<int>(std::stod(f[6])));
    const cv::Vec3b corner = photo.at<cv::Vec3b>(3, 3);
    EXPECT_GT(cv::norm(cv::Vec3d(centre) - cv::Vec3d(corner)), 30.0) << line;
  }
  EXPECT_EQ(rows, 2 * kDemoConditions.size());
}
