#include "fit/auto_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <limits>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "auto_fit_support.h"
#include "fit/auto_fit_detail.h"
#include "fit/height_maximum.h"
#include "reference/literal_energy.h"
#include "tools/demo_photo.h"

using namespace meravel;

using namespace auto_fit_test;

namespace {

using auto_fit_detail::Placement;

// The points of a rectangle's border, as a contour search would give them (order aside).
std::vector<cv::Point> rectangle_border(int left, int top, int right, int bottom) {
  std::vector<cv::Point> points;
  for (int x = left; x <= right; ++x) {
    points.emplace_back(x, top);
    points.emplace_back(x, bottom);
  }
  for (int y = top + 1; y < bottom; ++y) {
    points.emplace_back(left, y);
    points.emplace_back(right, y);
  }
  return points;
}

// Key a's fit on the state, as the session runs it.
AutoFitResult fit_automatically(FitState& state) {
  return auto_fit(state.target, state.source_image, state.threshold, state.cut_offs(),
                  state.model.rotation, state.work, std::cerr);
}

}  // namespace

// D(t) = (h/2) e^t + e^(-lambda t). lambda 1, h 2: smallest at t = 0, D = 2, so width = pixel
// width. lambda 1, h 8: smallest at e^t = 1/2, D = 2 + 2 = 4, so width = 2 x pixel width.
// lambda 2, h 4: 2 e^t = 2 e^(-2t) at t = 0, D = 3, so width = 3/4 x pixel width.
TEST(WidthForPixelWidth, InvertsTheWidthRelationAtTheWidestPoint) {
  struct Case {
    double lambda, height, pixel_width, width;
  } const cases[] = {{1.0, 2.0, 10.0, 10.0}, {1.0, 8.0, 10.0, 20.0}, {2.0, 4.0, 40.0, 30.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "lambda " << c.lambda << " h " << c.height);
    EXPECT_NEAR(width_for_pixel_width(c.lambda, c.height, c.pixel_width), c.width, 1e-12);
  }
}

// The generated model is as wide as asked, less its truncations (each offset loses under a
// pixel) and the 0.05 sampling of t near the widest point.
TEST(WidthForPixelWidth, GivesTheModelThatWide) {
  struct Case {
    double lambda, height, pixel_width;
  } const cases[] = {{0.6, 120, 80}, {1.1, 300, 250}, {2.5, 90, 200}, {3.0, 400, 150}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "lambda " << c.lambda << " h " << c.height);
    FitState state;
    std::vector<cv::Point> left, right;
    const double width = width_for_pixel_width(c.lambda, c.height, c.pixel_width);
    const WCurveExtent extent = generate_w_curve(c.lambda, c.lambda * width, c.height, 0, 500, 500,
                                                 state.cut_offs(), left, right, std::cerr);
    ASSERT_TRUE(extent.produced);
    EXPECT_LE(extent.pixel_width, c.pixel_width);
    EXPECT_GE(extent.pixel_width, c.pixel_width - 3);
  }
}

// Tall and wide rectangles: the long axis comes first, and of its two directions the one within
// 90 degrees of the reference rotation is the model's top-to-bottom direction (0 down, 90 left,
// 180 up, 270 right).
TEST(AxisRotations, LongAxisFirstTurnedTowardsTheReference) {
  struct Case {
    const char* name;
    std::vector<cv::Point> outline;
    int reference;
    double long_axis, short_axis;
  } const cases[] = {
      {"tall, reference 325", rectangle_border(10, 10, 30, 70), 325, 0.0, 270.0},
      {"tall, reference 150", rectangle_border(10, 10, 30, 70), 150, 180.0, 90.0},
      {"wide, reference 325", rectangle_border(10, 10, 70, 30), 325, 270.0, 0.0},
      {"wide, reference 100", rectangle_border(10, 10, 70, 30), 100, 90.0, 180.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<double> rotations = auto_fit_detail::axis_rotations(c.outline, c.reference);
    ASSERT_EQ(rotations.size(), 2u);
    EXPECT_NEAR(degrees_between(rotations[0], c.long_axis), 0.0, 1e-9);
    EXPECT_NEAR(degrees_between(rotations[1], c.short_axis), 0.0, 1e-9);
  }
}

// The rectangle x 10..30, y 100..160: along a vertical axis the height is 60 and the width 20,
// along a horizontal one the other way round; the centre is the middle either way.
TEST(PlaceAlongAxis, HeightAlongWidthAcrossCentreInTheMiddle) {
  const std::vector<cv::Point> outline = rectangle_border(10, 100, 30, 160);
  struct Case {
    double rotation, height, pixel_width;
  } const cases[] = {{0, 60, 20}, {90, 20, 60}, {180, 60, 20}, {270, 20, 60}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "rotation " << c.rotation);
    const Placement q = auto_fit_detail::place_along_axis(outline, c.rotation, 1.3);
    EXPECT_NEAR(q.height, c.height, 1e-9);
    EXPECT_NEAR(q.pixel_width, c.pixel_width, 1e-9);
    EXPECT_NEAR(q.center_x, 20.0, 1e-9);
    EXPECT_NEAR(q.center_y, 130.0, 1e-9);
    EXPECT_EQ(q.lambda, 1.3);
  }
}

// If every distance is 3 pixels, the root mean square is 3 whatever the model.
TEST(ChordEnergy, ConstantDistanceGivesThatDistance) {
  FitState state;
  state.target.distance_image = cv::Mat(200, 300, CV_32FC1, cv::Scalar(3.0f));
  Placement q;
  q.lambda = 1.4;
  q.pixel_width = 80;
  q.height = 120;
  q.rotation_degrees = 33;
  q.center_x = 150;
  q.center_y = 100;
  EXPECT_NEAR(auto_fit_detail::chord_energy(state.target, state.cut_offs(), q), 3.0, 1e-6);
  q.height = 0;
  EXPECT_EQ(auto_fit_detail::chord_energy(state.target, state.cut_offs(), q),
            std::numeric_limits<double>::infinity());
}

// On a clean photograph the stand-in is lower at the object's true placement than at any
// placement a few pixels, degrees or per cent of lambda away.
TEST(ChordEnergy, LowestAtTheTruePlacement) {
  const DemoObject o = object(1.6, 150, 110, 20, 160, 120);
  FitState state;
  prepare(state, render_demo_photo({320, 240}, o, fit_test_look(false, 1)));
  const Placement truth = placement_of(o);
  const double at_truth = auto_fit_detail::chord_energy(state.target, state.cut_offs(), truth);
  EXPECT_LT(at_truth, 1.0);
  struct Move {
    const char* name;
    double Placement::*field;
    double by;
  } const moves[] = {
      {"lambda +5 %", &Placement::lambda, 0.08},
      {"lambda -5 %", &Placement::lambda, -0.08},
      {"height +3", &Placement::height, 3},
      {"width -3", &Placement::pixel_width, -3},
      {"rotation +3", &Placement::rotation_degrees, 3},
      {"x +2", &Placement::center_x, 2},
      {"y -2", &Placement::center_y, -2},
  };
  for (const Move& m : moves) {
    SCOPED_TRACE(m.name);
    Placement moved = truth;
    moved.*m.field += m.by;
    EXPECT_GT(auto_fit_detail::chord_energy(state.target, state.cut_offs(), moved), at_truth);
  }
}

// The outline is the object's border pixels, whose centres lie up to a pixel inside the true edge.
// The stand-in allows for that, so its lowest point from the truth keeps the object's height and
// pixel width (read half a pixel inside on each side, a small object came out about a pixel
// shorter and narrower, and lambda several tenths of a per cent to two per cent off).
TEST(ChordEnergy, LowestPointKeepsTheObjectsSize) {
  struct Case {
    DemoObject object;
  } const cases[] = {
      {{2.539, 533, 88, 297, 100, 80}},
      {{1.292, 314, 55, 13, 100, 80}},
      {object(0.8, 70, 90, 140, 100, 80)},
  };
  for (const Case& c : cases) {
    const DemoObject& o = c.object;
    SCOPED_TRACE(testing::Message() << "lambda " << o.lambda << " h " << o.height);
    FitState state;
    prepare(state, render_demo_photo({200, 160}, o, fit_test_look(false, 6)));
    const Placement truth = placement_of(o);
    int evaluations = 0;
    const Placement lowest =
        auto_fit_detail::minimise_chord_energy(state.target, state.cut_offs(), truth, &evaluations);
    EXPECT_NEAR(lowest.height, truth.height, 0.3);
    EXPECT_NEAR(lowest.pixel_width, truth.pixel_width, 0.3);
  }
}

// Objects of 55 to 90 pixels, the size at which one pixel of height is over one per cent: lambda
// within 1 % on clean photographs, 2 % on noisy ones. Measured from the object's own top.
TEST(AutoFit, RecoversLambdaOfSmallObjects) {
  struct Case {
    DemoObject object;
    bool noisy;
  } const cases[] = {
      {{2.539, 533, 88, 297, 100, 80}, false},
      {{1.292, 314, 55, 13, 100, 80}, false},
      {{2.226, 136, 60, 181, 100, 80}, true},
  };
  unsigned seed = 20;
  for (const Case& c : cases) {
    const DemoObject& o = c.object;
    SCOPED_TRACE(testing::Message() << "lambda " << o.lambda << " h " << o.height);
    cv::Mat photo = render_demo_photo({200, 160}, o, fit_test_look(c.noisy, seed++));
    if (c.noisy) photo = jpeg_round_trip(photo, 75);
    FitState state;
    prepare(state, photo, static_cast<int>(o.rotation_deg));
    const AutoFitResult result = fit_automatically(state);
    ASSERT_TRUE(result.found);
    EXPECT_LE(degrees_between(result.model.rotation, o.rotation_deg), 3.0);
    EXPECT_NEAR(result.model.lambda_milli / 1000.0, o.lambda, (c.noisy ? 0.02 : 0.01) * o.lambda);
    if (!c.noisy) {
      EXPECT_LE(result.energy, energy_at(state, o) + 0.05);
    }
  }
}

// An object nearly as wide as high: the placements along the six axes score alike, and the two
// best rungs of the lambda ladder can both lie off the symmetry axis (here 60 degrees off each).
TEST(AutoFit, FindsTheSymmetryAxisOfARoundObject) {
  const DemoObject o{1.159, 1356, 153, 315, 110, 100};
  cv::Mat photo = jpeg_round_trip(render_demo_photo({220, 200}, o, fit_test_look(true, 41046)), 75);
  FitState state;
  prepare(state, photo);
  const AutoFitResult result = fit_automatically(state);
  ASSERT_TRUE(result.found);
  EXPECT_LE(degrees_between(result.model.rotation, o.rotation_deg), 3.0);
  EXPECT_NEAR(result.model.lambda_milli / 1000.0, o.lambda, 0.02 * o.lambda);
}

// Recovery on small photographs: lambda within 1 % on clean ones, with an energy no more than
// 0.05 px above the truth's, and within 2 % after noise, blur and JPEG quality 75. Every object
// is in the orientation the reference rotation 325 picks (top within 90 degrees of it); the
// turned-round ones are the next test's.
TEST(AutoFit, RecoversLambdaOnGeneratedPhotographs) {
  struct Case {
    const char* name;
    DemoObject object;
    bool noisy;
  } const cases[] = {
      {"upright, clean", object(1.1, 150, 120, 0, 160, 120), false},
      {"tilted, wide, clean", object(0.7, 120, 150, 300, 150, 125), false},
      {"lying, clean", object(2.4, 200, 140, 275, 170, 120), false},
      {"tilted, noisy", object(1.8, 170, 110, 20, 165, 115), true},
      {"lying, wide, noisy", object(0.8, 130, 160, 250, 160, 120), true},
  };
  unsigned seed = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cv::Mat photo = render_demo_photo({320, 240}, c.object, fit_test_look(c.noisy, seed++));
    if (c.noisy) photo = jpeg_round_trip(photo, 75);
    FitState state;
    prepare(state, photo);
    const AutoFitResult result = fit_automatically(state);
    ASSERT_TRUE(result.found);
    const double lambda = result.model.lambda_milli / 1000.0;
    EXPECT_NEAR(lambda, c.object.lambda, (c.noisy ? 0.02 : 0.01) * c.object.lambda);
    EXPECT_LE(degrees_between(result.model.rotation, c.object.rotation_deg), 2.0);
    EXPECT_NEAR(result.model.height, c.object.height, 4.0);
    EXPECT_NEAR(result.model.translation_x, c.object.center_x, 2.0);
    EXPECT_NEAR(result.model.translation_y, c.object.center_y, 2.0);
    if (!c.noisy) {
      EXPECT_LE(result.energy, energy_at(state, c.object) + 0.05);
    }
  }
}

// An ellipse (lambda 1) turned by a quarter turn with height and breadth swapped is the same
// outline; an egg's length is its long axis. The third demo photograph (360 by 223 px at 328
// degrees) was fitted 222 high and 362 broad at 238 degrees before key a tried the turned fit.
TEST(AutoFit, MeasuresARoundEggAlongItsLongAxis) {
  struct Case {
    DemoObject object;
    cv::Size photo;
    bool noisy;
  } const cases[] = {
      {object(1.0, 360, 223.23, 328, 326, 235), {640, 480}, false},
      {object(1.0, 180, 130, 300, 160, 120), {320, 240}, false},
      {object(1.0, 200, 150, 20, 170, 125), {340, 250}, true},
      {object(1.02, 170, 120, 350, 160, 120), {320, 240}, true},
  };
  unsigned seed = 70;
  for (const Case& c : cases) {
    const DemoObject& o = c.object;
    SCOPED_TRACE(testing::Message() << "height " << o.height << " at " << o.rotation_deg);
    cv::Mat photo = render_demo_photo(c.photo, o, fit_test_look(c.noisy, seed++));
    if (c.noisy) photo = jpeg_round_trip(photo, 75);
    FitState state;
    prepare(state, photo);
    const AutoFitResult result = fit_automatically(state);
    ASSERT_TRUE(result.found);
    EXPECT_NEAR(result.model.height, o.height, 0.01 * o.height);
    EXPECT_NEAR(pixel_width_for_width(result.model.lambda_milli / 1000.0, result.model.height,
                                      result.model.width),
                pixel_width_for_width(o.lambda, o.height, o.width), 3.0);
    EXPECT_LE(degrees_between(result.model.rotation, o.rotation_deg), 3.0);
  }
}

// A W-curve with lambda seen upside down is the W-curve with 1/lambda. The same photograph of an
// object standing on its head (rotation 180, lambda 1.5) is measured as lambda 1.5 from the
// reference 180, and as lambda 1/1.5 the right way up from the session's 325.
TEST(AutoFit, TopFollowsTheCurrentRotation) {
  const DemoObject o = object(1.5, 160, 120, 180, 160, 120);
  const cv::Mat photo = render_demo_photo({320, 240}, o, fit_test_look(false, 3));
  struct Case {
    int reference;
    double rotation, lambda;
  } const cases[] = {{180, 180.0, 1.5}, {325, 0.0, 1.0 / 1.5}, {100, 180.0, 1.5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "reference " << c.reference);
    FitState state;
    prepare(state, photo, c.reference);
    const AutoFitResult result = fit_automatically(state);
    ASSERT_TRUE(result.found);
    EXPECT_LE(degrees_between(result.model.rotation, c.rotation), 2.0);
    EXPECT_NEAR(result.model.lambda_milli / 1000.0, c.lambda, 0.01 * c.lambda);
  }
}

// The energy handed back is the deviation energy of exactly the parameters handed back, as the
// literal procedure computes it; the state's own parameters are not touched.
TEST(AutoFit, EnergyIsTheLiteralEnergyOfTheResult) {
  const DemoObject o = object(0.9, 140, 110, 340, 150, 110);
  FitState state;
  prepare(state, render_demo_photo({300, 220}, o, fit_test_look(true, 4)));
  state.model.lambda_milli = 1100;
  state.model.width = 1800;
  state.model.height = 165;
  state.model.translation_x = 150;
  state.model.translation_y = 110;
  const AutoFitResult result = fit_automatically(state);
  ASSERT_TRUE(result.found);
  EXPECT_EQ(state.model.lambda_milli, 1100);
  EXPECT_EQ(state.model.width, 1800);
  EXPECT_EQ(state.model.height, 165);
  EXPECT_EQ(state.model.rotation, 325);
  EXPECT_EQ(state.model.translation_x, 150);
  EXPECT_EQ(state.model.translation_y, 110);

  const double lambda = result.model.lambda_milli / 1000.0;
  std::vector<cv::Point> left, right;
  ASSERT_TRUE(literal_generate_w_curve(
      state, lambda, lambda * result.model.width, result.model.height, result.model.rotation,
      result.model.translation_x, result.model.translation_y, left, right));
  EXPECT_EQ(result.energy, literal_deviation_energy(state, left, right));
}

// The result lies within the trackbars' ranges, even for an object cut by the image's edge (here
// by 10 % at the bottom and 7 % on the left). It is fitted on what is visible, lambda within
// 1 %; its model reaches past the image, and the energy handed back is that model's deviation
// energy, +inf.
TEST(AutoFit, StaysWithinTheTrackbarRanges) {
  const DemoObject o = object(1.2, 220, 150, 0, 60, 110);
  FitState state;
  prepare(state, render_demo_photo({200, 200}, o, fit_test_look(false, 5)));
  const AutoFitResult result = fit_automatically(state);
  ASSERT_TRUE(result.found);
  EXPECT_GE(result.model.lambda_milli, 1);
  EXPECT_LE(result.model.lambda_milli, 6000);
  EXPECT_GE(result.model.width, 1);
  EXPECT_LE(result.model.width, 20 * 200);
  EXPECT_GE(result.model.height, 1);
  EXPECT_LE(result.model.height, height_maximum(200, 200));
  EXPECT_GE(result.model.rotation, 0);
  EXPECT_LE(result.model.rotation, 359);
  EXPECT_GE(result.model.translation_x, 0);
  EXPECT_LE(result.model.translation_x, 200);
  EXPECT_GE(result.model.translation_y, 0);
  EXPECT_LE(result.model.translation_y, 200);
  EXPECT_NEAR(result.model.lambda_milli / 1000.0, o.lambda, 0.01 * o.lambda);
  EXPECT_EQ(result.energy, evaluate_parameters(state, parameter_vector(result.model)));
}

// A black photograph has no outline: nothing is found and nothing is scored.
TEST(AutoFit, NoOutlineFindsNothing) {
  FitState state;
  prepare(state, cv::Mat(120, 160, CV_8UC3, cv::Scalar::all(0)));
  ASSERT_TRUE(state.target.outline_contour.empty());
  const AutoFitResult result = fit_automatically(state);
  EXPECT_FALSE(result.found);
  EXPECT_EQ(result.evaluations, 0);
}
