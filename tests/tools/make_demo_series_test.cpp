// The demo series generator as scripts/run uses it: a directory of photographs with capture dates
// and a ground-truth file that describes them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "series/exif_date.h"
#include "test_support.h"

namespace {

std::vector<std::string> split_fields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, ';');) fields.push_back(field);
  return fields;
}

}  // namespace

TEST(MakeDemoSeries, WritesPhotographsThatMatchTheirGroundTruth) {
  const TempDirectory scratch;
  const std::filesystem::path dir = scratch.path();
  const std::string command = std::string(MERAVEL_BUILD_DIR) + "/make_demo_series " +
                              (dir / "samples").string() + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);

  std::ifstream truth(dir / "samples" / "ground_truth.csv");
  std::string line;
  ASSERT_TRUE(std::getline(truth, line));
  EXPECT_EQ(line,
            "file;lambda;width;height;rotation;center_x;center_y;object_width_px;"
            "image_width;image_height;capture_date;");
  int photographs = 0;
  while (std::getline(truth, line)) {
    SCOPED_TRACE(line);
    const std::vector<std::string> f = split_fields(line);
    ASSERT_EQ(f.size(), 11u);
    ++photographs;
    const std::string path = (dir / "samples" / f[0]).string();
    const cv::Mat photo = cv::imread(path, cv::IMREAD_GRAYSCALE);
    ASSERT_FALSE(photo.empty());
    EXPECT_EQ(photo.cols, std::stoi(f[8]));
    EXPECT_EQ(photo.rows, std::stoi(f[9]));
    // Light at the object's centre, dark in the corners, for the default threshold 131.
    EXPECT_GT(photo.at<uchar>(std::stoi(f[6]), std::stoi(f[5])), 131);
    EXPECT_LT(photo.at<uchar>(2, 2), 131);
    EXPECT_LT(photo.at<uchar>(photo.rows - 3, photo.cols - 3), 131);
    // The capture date is the one the ground truth names.
    const CaptureDate date = read_capture_date(path);
    ASSERT_EQ(date.status, CaptureDate::found);
    std::string expected = f[10];
    expected[4] = expected[7] = '-';
    EXPECT_EQ(date.text, expected);
  }
  EXPECT_GE(photographs, 6);
}
