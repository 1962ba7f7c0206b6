// The demo series generator as scripts/run uses it: a directory of photographs with capture dates
// and scale bars, and a ground-truth file that describes them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fit/fit_W.h"
#include "series/exif_date.h"
#include "test_support.h"
#include "tools/demo_photo.h"

using namespace meravel;

namespace {

cv::Rect2d bounding_box(const std::vector<cv::Point2d>& points) {
  double min_x = points[0].x, max_x = min_x, min_y = points[0].y, max_y = min_y;
  for (const cv::Point2d& p : points) {
    min_x = std::min(min_x, p.x), max_x = std::max(max_x, p.x);
    min_y = std::min(min_y, p.y), max_y = std::max(max_y, p.y);
  }
  return {min_x, min_y, max_x - min_x, max_y - min_y};
}

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
            "image_width;image_height;capture_date;px_per_mm;scale_bar_mm;"
            "scale_bar_x1;scale_bar_y1;scale_bar_x2;scale_bar_y2;");
  int photographs = 0;
  while (std::getline(truth, line)) {
    SCOPED_TRACE(line);
    const std::vector<std::string> f = split_fields(line);
    ASSERT_EQ(f.size(), 17u);
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

    // The object is the program's outline at the default threshold, with its true extent; the
    // scale bar is another contour, as long as the ground truth says, and well clear of it.
    DemoObject object;
    object.lambda = std::stod(f[1]);
    object.width = std::stod(f[2]);
    object.height = std::stod(f[3]);
    object.rotation_deg = std::stod(f[4]);
    object.center_x = std::stod(f[5]);
    object.center_y = std::stod(f[6]);
    const cv::Rect2d object_box = bounding_box(demo_object_outline(object));
    const cv::Mat colour = cv::imread(path, cv::IMREAD_COLOR);
    std::vector<std::vector<cv::Point>> contours;
    const Outline found = find_outline(colour, 131, &contours);
    const std::vector<cv::Point>& outline = found.contour;
    ASSERT_FALSE(outline.empty());
    EXPECT_NEAR(found.box.width, object_box.width, 3.0);
    EXPECT_NEAR(found.box.height, object_box.height, 3.0);
    const double px_per_mm = std::stod(f[11]), bar_mm = std::stod(f[12]);
    const cv::Point2d bar_start(std::stod(f[13]), std::stod(f[14]));
    const cv::Point2d bar_end(std::stod(f[15]), std::stod(f[16]));
    EXPECT_DOUBLE_EQ(cv::norm(bar_end - bar_start), bar_mm * px_per_mm);
    bool bar_found = false;
    double nearest_to_object = 1e9;  // of the points of all other contours
    for (const std::vector<cv::Point>& contour : contours) {
      if (contour == outline) continue;
      for (const cv::Point& p : contour) {
        nearest_to_object =
            std::min(nearest_to_object, -cv::pointPolygonTest(outline, cv::Point2f(p), true));
      }
      const cv::Rect box = cv::boundingRect(contour);
      if (!box.contains(cv::Point(cvRound(bar_start.x) + 2, cvRound(bar_start.y)))) continue;
      bar_found = true;
      EXPECT_NEAR(box.x, bar_start.x, 1.0);
      EXPECT_NEAR(box.x + box.width - 1, bar_end.x, 1.0);
      EXPECT_LT(contour.size(), outline.size() * 0.7);
    }
    EXPECT_TRUE(bar_found);
    // Far beyond the reach of the blur and of the JPEG's blocks: the bar changes no pixel of the
    // object's outline.
    EXPECT_GT(nearest_to_object, 40.0);
    // Eggs of realistic size: 40 to 60 mm long.
    EXPECT_GT(object.height / px_per_mm, 40.0);
    EXPECT_LT(object.height / px_per_mm, 60.0);
  }
  EXPECT_GE(photographs, 6);
}

// Help and mistyped options are answered, not taken for the name of a folder to fill.
TEST(MakeDemoSeries, HelpAndOptionsWriteNoSeries) {
  struct Case {
    const char* arguments;
    int status;
    const char* out_has;  // on standard output ("" for nothing at all)
    const char* err_has;  // on standard error ("" for nothing at all)
  };
  const Case cases[] = {
      {"--help", 0, "Usage: make_demo_series DIR", ""},
      {"-h", 0, "Usage: make_demo_series DIR", ""},
      {"--out", 2, "", "unknown option '--out'"},
      {"", 2, "", "Usage: make_demo_series DIR"},
      {"one two", 2, "", "Usage: make_demo_series DIR"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const TempDirectory scratch;
    const std::string command = "cd " + scratch.path() + " && " + MERAVEL_BUILD_DIR +
                                "/make_demo_series " + c.arguments + " > out.txt 2> err.txt";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.status);
    const std::string out = scratch.read("out.txt");
    const std::string err = scratch.read("err.txt");
    if (*c.out_has)
      EXPECT_NE(out.find(c.out_has), std::string::npos) << out;
    else
      EXPECT_EQ(out, "");
    if (*c.err_has)
      EXPECT_NE(err.find(c.err_has), std::string::npos) << err;
    else
      EXPECT_EQ(err, "");
    EXPECT_EQ(scratch.names(), (std::set<std::string>{"err.txt", "out.txt"}));
  }
}
