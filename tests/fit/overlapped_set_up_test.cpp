// The set-up whose distance map is made on a second thread gives the fit that the plain set-up
// gives: the same outline, box and map bit for bit, the same first status line and the same Output
// view, whether the map is waited for first or the first refresh's energy is computed from the
// outline while the map is still being made.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "fit/fit_W.h"
#include "fit/geometry.h"
#include "tools/demo_photo.h"

using namespace meravel;

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
    EXPECT_EQ(overlapped.target.outline_contour, plain.target.outline_contour);
    EXPECT_EQ(overlapped.target.image_size, plain.target.image_size);
    if (c.explicit_wait) finish_outline_distance(overlapped);
    std::ostringstream overlapped_status;
    compose_output_view(overlapped, overlapped_status);
    // The first view does not wait for the map; the session takes it in before the first key.
    finish_outline_distance(overlapped);

    EXPECT_FALSE(overlapped.distance_in_progress.valid());
    EXPECT_EQ(overlapped_status.str(), plain_status.str());
    EXPECT_TRUE(same_pixels(overlapped.target.distance_image, plain.target.distance_image));
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

// The overlapped set-up's first view is composed from the rows of the photograph that the resize to
// the view reads. That view is the whole composition's; once the other rows are composed, after
// the first view or by the next refresh, so is the overlay, and so is every refresh after it.
TEST(OverlappedSetUp, TheFirstViewFromTheRowsItReadsIsTheWholeComposition) {
  const struct {
    cv::Size size;
    bool rows_left;  // whether the view reads only some of the rows
  } cases[] = {
      {{6000, 4000}, true},   // 7.5 rows a view row
      {{4000, 3000}, true},   // 5
      {{3000, 2000}, true},   // 3.75
      {{2400, 1800}, false},  // 3: every row is read, the middle one of three with weight 1
      {{1000, 3000}, true},   // taller than 4:3: 600 view rows for 3000
      {{1601, 1201}, false},  // just over 2
      {{1600, 1200}, false},  // 2: the resize takes the mean of 2 x 2 pixels
      {{640, 480}, false},    // enlarged
  };
  SessionStart start;
  start.threshold = 131;
  start.lambda = 1.1;
  start.cut_offs = {2, 5};
  for (const auto& c : cases) {
    cv::Mat photo = object_photo(c.size, 50);
    cv::Mat noise(c.size, CV_8UC3);
    cv::RNG(c.size.width).fill(noise, cv::RNG::UNIFORM, 0, 40);
    photo += noise;  // every row differs from its neighbours
    FitState plain;
    prepare_fit(plain, photo, start);
    std::ostringstream plain_status;
    compose_output_view(plain, plain_status);
    // The refresh after a move of the model.
    const auto move = [](FitState& state) {
      state.model.translation_x += 37;
      state.model.rotation = 80;
      std::ostringstream status;
      compose_output_view(state, status);
    };
    std::vector<std::pair<cv::Mat, cv::Mat>> moved_overlapped;  // overlay and view
    for (const bool completed_after_first_view : {true, false}) {
      SCOPED_TRACE(std::to_string(c.size.width) + " x " + std::to_string(c.size.height) +
                   (completed_after_first_view ? ", completed after the first view"
                                               : ", completed by the next refresh"));
      FitState overlapped;
      prepare_fit_overlapped(overlapped, photo, start);
      // A row the view reads but that nobody composed would show this.
      overlapped.overlay_image.setTo(cv::Scalar(1, 2, 3));
      std::ostringstream overlapped_status;
      compose_output_view(overlapped, overlapped_status);
      EXPECT_EQ(overlapped_status.str(), plain_status.str());
      EXPECT_TRUE(same_pixels(overlapped.output_display, plain.output_display));
      EXPECT_EQ(!overlapped.overlay_rows_pending.empty(), c.rows_left);
      if (completed_after_first_view) {
        complete_overlay(overlapped);
        EXPECT_TRUE(same_pixels(overlapped.overlay_image, plain.overlay_image));
      }

      move(overlapped);
      EXPECT_TRUE(overlapped.overlay_rows_pending.empty());
      moved_overlapped.emplace_back(overlapped.overlay_image, overlapped.output_display);
      finish_outline_distance(overlapped);
    }
    move(plain);
    for (const auto& [overlay, view] : moved_overlapped) {
      EXPECT_TRUE(same_pixels(overlay, plain.overlay_image));
      EXPECT_TRUE(same_pixels(view, plain.output_display));
    }
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
  EXPECT_EQ(state.target.outline_contour, expected.target.outline_contour);
  EXPECT_TRUE(same_pixels(state.target.distance_image, expected.target.distance_image));
  finish_outline_distance(state);  // nothing left to wait for: the map stays
  EXPECT_TRUE(same_pixels(state.target.distance_image, expected.target.distance_image));
}

// The first energy, computed from the outline's pixels while the map is made, is the map's: the
// same energy, samples and trace for models near and far from the outline, cut or unscorable; and
// where the computation would take long it reads the map instead, with the same result.
TEST(EnergyBeforeMap, IsTheEnergyTheMapGives) {
  const cv::Mat photo = object_photo({900, 700}, 50);
  SessionStart start;
  start.threshold = 131;
  start.lambda = 1.1;
  const FitState state = prepare_fit(photo, start);
  ASSERT_FALSE(state.target.outline_contour.empty());
  const ParameterVector at_start = parameter_vector(state.model);
  ParameterVector on_object = at_start;
  on_object[0] = 1200;
  on_object[1] = width_for_pixel_width(1.2, 0.6 * 700, 0.3 * 700);
  on_object[2] = 0.6 * 700;
  on_object[3] = 6;
  on_object[4] = 450;
  on_object[5] = 350;
  ParameterVector shifted = on_object;
  shifted[4] += 37;
  shifted[5] -= 21;
  ParameterVector turned = on_object;
  turned[3] = 140;
  ParameterVector outside = on_object;
  outside[4] = -5000;
  const struct {
    const char* name;
    ParameterVector p;
    CutOffs cut_offs;
  } cases[] = {
      {"the start", at_start, {0, 0}},
      {"on the object", on_object, {0, 0}},
      {"on the object, cut", on_object, {10, 25}},
      {"shifted", shifted, {0, 0}},
      {"turned", turned, {3, 0}},
      {"outside the image", outside, {0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<cv::Point> left, right;
    generate_w_curve(c.p, c.cut_offs, left, right, std::cerr);

    EvaluationBuffers work;
    DeviationProfile expected;
    bool expected_traced = false;
    const double energy =
        deviation_energy(state.target, left, right, work, expected, &expected_traced);

    for (const long long budget : {kBeforeMapBudget, 0LL}) {
      SCOPED_TRACE(budget);
      int map_calls = 0;
      const std::function<const cv::Mat&()> map = [&]() -> const cv::Mat& {
        ++map_calls;
        return state.target.distance_image;
      };
      EvaluationBuffers before_work;
      DeviationProfile profile;
      bool traced = !expected_traced;
      EXPECT_EQ(
          deviation_energy_before_map(state.target.outline_contour, state.target.image_size, left,
                                      right, before_work, profile, &traced, map, budget),
          energy);
      EXPECT_EQ(traced, expected_traced);
      EXPECT_EQ(profile.left_samples, expected.left_samples);
      EXPECT_EQ(profile.right_samples, expected.right_samples);
      EXPECT_EQ(profile.deviation_max, expected.deviation_max);
      EXPECT_EQ(before_work.left_curve_storage, work.left_curve_storage);
      if (budget == kBeforeMapBudget) {
        EXPECT_EQ(map_calls, 0);
      }
      if (budget == 0 && expected_traced) {
        EXPECT_EQ(map_calls, 1);
      }
    }
  }
}
