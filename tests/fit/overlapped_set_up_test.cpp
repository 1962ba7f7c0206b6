// The set-up whose distance map is made on a second thread gives the fit that the plain set-up
// gives: the same outline, box and map bit for bit, the same first status line and the same Output
// view, whether the map is waited for explicitly or by the first refresh's energy.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "fit/fit_W.h"
#include "fit/geometry.h"
#include "tools/demo_photo.h"

namespace {

bool same_pixels(const cv::Mat& a, const cv::Mat& b) {
  if (a.empty() || b.empty()) return a.empty() && b.empty();
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

cv::Mat object_photo(cv::Size size, int background) {
  DemoLook look;
  look.background_level = background;
  look.object_level = 200;
  DemoObject object;
  object.lambda = 1.2;
  object.height = 0.6 * size.height;
  object.width = width_for_pixel_width(object.lambda, object.height, 0.5 * object.height);
  object.rotation_deg = 6;
  object.center_x = 0.5 * size.width;
  object.center_y = 0.5 * size.height;
  return render_demo_photo(size, object, look);
}

struct Case {
  const char* name;
  cv::Mat photo;
  cv::Rect region;
  bool explicit_wait;  // finish_outline_distance before the refresh, or the refresh's own wait
};

}  // namespace

TEST(OverlappedSetUp, GivesThePlainSetUpsFitAndFirstView) {
  const Case cases[] = {
      {"whole photograph", object_photo({640, 480}, 50), {}, false},
      {"whole photograph, map waited for first", object_photo({640, 480}, 50), {}, true},
      {"region of interest", object_photo({640, 480}, 50), {100, 40, 420, 400}, false},
      {"taller than 4:3", object_photo({300, 500}, 50), {}, false},
      {"no outline at all", cv::Mat(240, 320, CV_8UC3, cv::Scalar(10, 10, 10)), {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SessionStart start;
    start.threshold = 131;
    start.lambda = 1.1;
    start.region = c.region;
    start.cut_offs = {2, 5};

    FitState plain;
    prepare_fit(plain, c.photo, start);
    std::ostringstream plain_status;
    compose_output_view(plain, plain_status);

    FitState overlapped;
    overlapped.show_distance = plain.show_distance;
    prepare_fit_overlapped(overlapped, c.photo, start);
    EXPECT_EQ(overlapped.outline_contour, plain.outline_contour);
    EXPECT_EQ(overlapped.image_size, plain.image_size);
    if (c.explicit_wait) finish_outline_distance(overlapped);
    std::ostringstream overlapped_status;
    compose_output_view(overlapped, overlapped_status);

    EXPECT_FALSE(overlapped.distance_in_progress.valid());
    EXPECT_EQ(overlapped_status.str(), plain_status.str());
    EXPECT_TRUE(same_pixels(overlapped.distance_image, plain.distance_image));
    EXPECT_TRUE(same_pixels(overlapped.output_display, plain.output_display));
    EXPECT_TRUE(same_pixels(overlapped.deviation_image, plain.deviation_image));
    EXPECT_EQ(overlapped.outline_box().width, plain.outline_box().width);
    EXPECT_EQ(overlapped.outline_box().height, plain.outline_box().height);
    EXPECT_EQ(overlapped.outline_box().center_x, plain.outline_box().center_x);
    EXPECT_EQ(overlapped.outline_box().center_y, plain.outline_box().center_y);
    EXPECT_EQ(overlapped.source_origin_in_photo, plain.source_origin_in_photo);
    EXPECT_EQ(overlapped.energy, plain.energy);
  }
}

// A step that replaces the map (a new threshold) while the first one is still being made keeps
// the new one: the old map never lands on top of it.
TEST(OverlappedSetUp, ANewOutlineWhileTheMapIsMadeKeepsTheNewMap) {
  const cv::Mat photo = object_photo({800, 600}, 120);
  SessionStart start;
  start.threshold = 131;
  FitState state;
  prepare_fit_overlapped(state, photo, start);
  state.threshold = 100;  // the background (120) becomes foreground: another outline
  rebuild_outline(state);
  EXPECT_FALSE(state.distance_in_progress.valid());

  FitState expected;
  start.threshold = 100;
  prepare_fit(expected, photo, start);
  EXPECT_EQ(state.outline_contour, expected.outline_contour);
  EXPECT_TRUE(same_pixels(state.distance_image, expected.distance_image));
  finish_outline_distance(state);  // nothing left to wait for: the map stays
  EXPECT_TRUE(same_pixels(state.distance_image, expected.distance_image));
}
