// The synthetic photographs: the object lies where its parameters put it, and the EXIF date
// written into the JPEG reads back through the program's own EXIF reader.
#include "tools/demo_photo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "fit/fit_W.h"
#include "fit/geometry.h"
#include "series/exif_date.h"
#include "test_support.h"

using namespace meravel;

namespace {

constexpr int kDefaultThreshold = 131;

struct Case {
  const char* name;
  cv::Size size;
  DemoObject object;
  DemoLook look;
};

const Case kCases[] = {
    {"upright, lambda 1", {800, 600}, {1.0, 2450, 300, 0, 400, 300}, {}},
    {"lambda 1.1, turned 30 degrees", {800, 600}, {1.1, 3500, 400, 30, 380, 310}, {}},
    {"lambda 2.5, upside down", {1024, 768}, {2.5, 3380, 500, 180, 520, 400}, {}},
    {"lambda 0.6, lying on its side", {640, 480}, {0.6, 2200, 260, 90, 330, 250}, {}},
    {"small, off centre", {800, 600}, {1.4, 390, 90, 300, 150, 450}, {}},
    {"dark object on light ground", {800, 600}, {1.2, 3000, 350, 15, 400, 300}, dark_object_look()},
};

cv::Mat grey_of(const cv::Mat& bgr) {
  cv::Mat grey;
  cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
  return grey;
}

int grey_at(const cv::Mat& grey, cv::Point2d p) {
  return grey.at<uchar>(cvRound(p.y), cvRound(p.x));
}

// Whether the pixel nearest `p` falls on the object's side of the default threshold.
bool on_object_side(const cv::Mat& grey, cv::Point2d p, const DemoLook& look) {
  const bool light_object = look.object_level > look.background_level;
  return light_object ? grey_at(grey, p) > kDefaultThreshold
                      : grey_at(grey, p) <= kDefaultThreshold;
}

}  // namespace

// The widest point of a W-curve lies where (h/2)e^t = lambda e^(-lambda t): at depth
// h lambda / (1 + lambda) below the top, with offset a / ((1 + lambda) e^(-lambda t)) from the
// axis. Just inside it the photograph is dark, just outside light, on both sides.
TEST(DemoPhoto, WidestPointsLieWhereTheClosedFormPutsThem) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const DemoObject& o = c.object;
    const cv::Mat grey = grey_of(render_demo_photo(c.size, o, c.look));
    const double offset = pixel_width_for_width(o.lambda, o.height, o.width) / 2;
    const double depth_from_centre = o.height * o.lambda / (1 + o.lambda) - o.height / 2;
    const double theta = radians_from_degrees(o.rotation_deg);
    const cv::Point2d out(std::cos(theta), std::sin(theta));  // the model's +x, rotated
    const cv::Point2d centre(o.center_x - depth_from_centre * std::sin(theta),
                             o.center_y + depth_from_centre * std::cos(theta));
    for (double side : {1.0, -1.0}) {
      SCOPED_TRACE(side > 0 ? "right half" : "left half");
      const cv::Point2d edge = centre + side * offset * out;
      EXPECT_TRUE(on_object_side(grey, edge - side * 1.5 * out, c.look));
      EXPECT_FALSE(on_object_side(grey, edge + side * 1.5 * out, c.look));
    }
  }
}

// All along the outline, a pixel 1.5 px inside is dark and one 1.5 px outside is light; and the
// default threshold moves the edge by less than a quarter pixel on average (the area it keeps
// differs from the polygon's by less than a quarter pixel times the perimeter).
TEST(DemoPhoto, ThresholdSeparatesTheObjectAlongItsWholeOutline) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::vector<cv::Point2d> outline = demo_object_outline(c.object);
    const cv::Mat grey = grey_of(render_demo_photo(c.size, c.object, c.look));
    std::vector<cv::Point2f> polygon(outline.begin(), outline.end());

    // About 200 probes, evenly spaced along the outline's length.
    const double spacing = cv::arcLength(polygon, true) / 200;
    int checked = 0;
    double walked = 0;
    for (size_t i = 1; i < outline.size(); ++i) {
      walked += std::hypot(outline[i].x - outline[i - 1].x, outline[i].y - outline[i - 1].y);
      if (walked < spacing) continue;
      walked = 0;
      size_t before = i, after = i;  // neighbours 2 px away on either side give the tangent
      while (before > 0 && cv::norm(outline[before] - outline[i]) < 2) --before;
      while (after + 1 < outline.size() && cv::norm(outline[after] - outline[i]) < 2) ++after;
      const cv::Point2d tangent = outline[after] - outline[before];
      const double length = std::hypot(tangent.x, tangent.y);
      if (length < 3) continue;
      const cv::Point2d normal(-tangent.y / length, tangent.x / length);
      cv::Point2d inside = outline[i] + 1.5 * normal, outside = outline[i] - 1.5 * normal;
      if (cv::pointPolygonTest(polygon, inside, true) < 0) std::swap(inside, outside);
      // At the tips and where the curve turns sharply, a probe can land near another part of the
      // outline; those are left out.
      if (cv::pointPolygonTest(polygon, inside, true) < 1.2 ||
          cv::pointPolygonTest(polygon, outside, true) > -1.2) {
        continue;
      }
      SCOPED_TRACE(testing::Message() << "outline point " << outline[i]);
      ASSERT_TRUE(on_object_side(grey, inside, c.look));
      ASSERT_FALSE(on_object_side(grey, outside, c.look));
      ++checked;
    }
    EXPECT_GT(checked, 150);

    cv::Mat object_pixels;
    cv::threshold(
        grey, object_pixels, kDefaultThreshold, 255,
        c.look.object_level > c.look.background_level ? cv::THRESH_BINARY : cv::THRESH_BINARY_INV);
    const double area = cv::contourArea(polygon);
    EXPECT_NEAR(cv::countNonZero(object_pixels), area, 0.25 * cv::arcLength(polygon, true));
  }
}

// The program's outline is the contour with the most points. On the default look that is the
// object's own border, with the object's extent; on a light background the contour inside the
// image frame wins, which is why the default object is light.
TEST(DemoPhoto, ProgramsOutlineIsTheObjectOnTheDefaultLook) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::vector<cv::Point2d> outline = demo_object_outline(c.object);
    double min_x = outline[0].x, max_x = min_x, min_y = outline[0].y, max_y = min_y;
    for (const cv::Point2d& p : outline) {
      min_x = std::min(min_x, p.x), max_x = std::max(max_x, p.x);
      min_y = std::min(min_y, p.y), max_y = std::max(max_y, p.y);
    }
    const Outline found =
        find_outline(render_demo_photo(c.size, c.object, c.look), kDefaultThreshold);
    ASSERT_FALSE(found.contour.empty());
    const OutlineBox& box = found.box;
    if (c.look.object_level < c.look.background_level) {
      EXPECT_GE(box.width, c.size.width - 4);
      EXPECT_GE(box.height, c.size.height - 4);
      continue;
    }
    // Extreme pixel centres of the object lie within 1.5 px inside its true extent at each end.
    EXPECT_NEAR(box.width, max_x - min_x, 3.0);
    EXPECT_NEAR(box.height, max_y - min_y, 3.0);
    EXPECT_NEAR(box.center_x, (min_x + max_x) / 2, 1.5);
    EXPECT_NEAR(box.center_y, (min_y + max_y) / 2, 1.5);
  }
}

// The scale bar: a light strip between its two ends with one dark tick per millimetre inside it,
// a contour of its own with few points, and not a pixel changed beyond the blur's reach of it.
TEST(DemoPhoto, ScaleBarIsAStripOfItsLengthThatLeavesTheRestAlone) {
  struct BarCase {
    const char* name;
    cv::Size size;
    DemoObject object;
    DemoScaleBar bar;
  } const cases[] = {
      {"30 mm at 8 px/mm", {800, 600}, {1.1, 4044, 450, 325, 400, 300}, {30, 8, 40, 492}},
      {"25 mm at 8.8 px/mm", {800, 600}, {1.05, 4050, 445, 327, 392, 300}, {25, 8.8, 40, 492}},
      {"30 mm at 16 px/mm", {1600, 1200}, {1.15, 11368, 905, 324, 816, 600}, {30, 16, 80, 984}},
      {"10 mm at 5 px/mm, fractional ends",
       {320, 240},
       {1.2, 600, 100, 0, 220, 110},
       {10, 5, 20.5, 170.25}},
  };
  for (const BarCase& c : cases) {
    SCOPED_TRACE(c.name);
    const cv::Mat with_bar = render_demo_photo(c.size, c.object, {}, c.bar);
    const cv::Mat without = render_demo_photo(c.size, c.object);
    const cv::Rect2d box = demo_scale_bar_box(c.bar);
    ASSERT_GT(box.area(), 0);
    const cv::Rect2d reach(box.x - 4, box.y - 4, box.width + 8, box.height + 8);
    int changed_outside = 0, changed_inside = 0;
    for (int y = 0; y < with_bar.rows; ++y) {
      for (int x = 0; x < with_bar.cols; ++x) {
        if (with_bar.at<cv::Vec3b>(y, x) == without.at<cv::Vec3b>(y, x)) continue;
        (reach.contains(cv::Point2d(x, y)) ? changed_inside : changed_outside) += 1;
      }
    }
    EXPECT_EQ(changed_outside, 0);
    EXPECT_GT(changed_inside, c.bar.length_mm * c.bar.px_per_mm * 10);

    // Light between the ends, dark just beyond them; along a line through the ticks, one dark run
    // per inner millimetre mark.
    const cv::Mat grey = grey_of(with_bar);
    const auto [start, end] = demo_scale_bar_ends(c.bar);
    EXPECT_DOUBLE_EQ(end.x - start.x, c.bar.length_mm * c.bar.px_per_mm);
    EXPECT_LT(grey_at(grey, start - cv::Point2d(2, 0)), kDefaultThreshold);
    EXPECT_LT(grey_at(grey, end + cv::Point2d(2, 0)), kDefaultThreshold);
    const double tick_row = c.bar.top_px + 0.3 * 4 * c.bar.px_per_mm;
    int runs = 0;
    bool dark = false;
    for (int x = cvRound(start.x) + 2; x <= cvRound(end.x) - 2; ++x) {
      const bool dark_here = grey.at<uchar>(cvRound(tick_row), x) <= kDefaultThreshold;
      if (dark_here && !dark) ++runs;
      dark = dark_here;
    }
    EXPECT_EQ(runs, c.bar.length_mm - 1);

    // The object stays the outline, point for point; the bar's own contour spans its ends and has
    // about as many points as its rectangle's perimeter, the ticks being holes and not notches.
    std::vector<std::vector<cv::Point>> bar_photo_contours;
    const Outline plain_outline = find_outline(without, kDefaultThreshold);
    EXPECT_EQ(find_outline(with_bar, kDefaultThreshold, &bar_photo_contours).contour,
              plain_outline.contour);
    int bar_contours = 0;
    for (const std::vector<cv::Point>& contour : bar_photo_contours) {
      const cv::Rect bounds = cv::boundingRect(contour);
      if (!bounds.contains(cv::Point(cvRound(start.x) + 1, cvRound(start.y)))) continue;
      ++bar_contours;
      EXPECT_NEAR(bounds.x, start.x, 1.0);
      EXPECT_NEAR(bounds.x + bounds.width - 1, end.x, 1.0);
      EXPECT_NEAR(bounds.height, 4 * c.bar.px_per_mm, 1.5);
      EXPECT_LT(contour.size(), 1.1 * 2 * (bounds.width + bounds.height));
    }
    EXPECT_EQ(bar_contours, 1);
  }
}

TEST(DemoPhoto, SameSeedGivesTheSamePhotographAndAnotherSeedOtherNoise) {
  DemoLook look;
  const cv::Mat first = render_demo_photo({320, 240}, {1.1, 80, 150, 10, 160, 120}, look);
  const cv::Mat again = render_demo_photo({320, 240}, {1.1, 80, 150, 10, 160, 120}, look);
  look.noise_seed = 2;
  const cv::Mat other = render_demo_photo({320, 240}, {1.1, 80, 150, 10, 160, 120}, look);
  ASSERT_EQ(first.type(), CV_8UC3);
  EXPECT_EQ(cv::norm(first, again, cv::NORM_INF), 0);
  EXPECT_GT(cv::norm(first, other, cv::NORM_INF), 0);
}

TEST(DemoPhoto, ExifDateReadsBackThroughTheProgramsReader) {
  struct ExifCase {
    const char* name;
    DemoExif exif;
    CaptureDate::Status status;
    const char* text;
  } const cases[] = {
      {"standard date",
       {true, "2012:04:02 09:05:03", std::nullopt},
       CaptureDate::found,
       "2012-04-02 09:05:03"},
      {"only the first two colons change",
       {true, "2019:12:31 23:59:58:7", std::nullopt},
       CaptureDate::found,
       "2019-12-31 23:59:58:7"},
      {"only DateTimeOriginal",
       {true, std::nullopt, "2012:04:01 18:00:00"},
       CaptureDate::no_entry,
       ""},
      {"no EXIF block", {false, std::nullopt, std::nullopt}, CaptureDate::no_exif_data, ""},
  };
  const cv::Mat photo = render_demo_photo({160, 120}, {1.2, 40, 80, 0, 80, 60});
  const TempDirectory dir;
  for (const ExifCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file("exif.jpg");
    ASSERT_TRUE(write_demo_jpeg(path, photo, 90, c.exif));
    const CaptureDate date = read_capture_date(path);
    EXPECT_EQ(date.status, c.status);
    EXPECT_EQ(date.text, c.text);
    // The APP1 segment leaves the picture as the encoder made it.
    std::vector<unsigned char> plain;
    ASSERT_TRUE(cv::imencode(".jpg", photo, plain, {cv::IMWRITE_JPEG_QUALITY, 90}));
    const cv::Mat decoded = cv::imread(path, cv::IMREAD_COLOR);
    ASSERT_EQ(decoded.size(), photo.size());
    EXPECT_EQ(cv::norm(decoded, cv::imdecode(plain, cv::IMREAD_COLOR), cv::NORM_INF), 0);
    std::remove(path.c_str());
  }
  EXPECT_EQ(read_capture_date(dir.file("missing.jpg")).status, CaptureDate::no_exif_data);
}

TEST(DemoPhoto, WritingIntoAMissingDirectoryFails) {
  const cv::Mat photo = render_demo_photo({64, 48}, {1.0, 20, 30, 0, 32, 24});
  const TempDirectory dir;
  EXPECT_FALSE(write_demo_jpeg(dir.file("no/such/dir.jpg"), photo, 90, {}));
}
