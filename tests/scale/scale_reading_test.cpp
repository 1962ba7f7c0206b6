#include "scale/scale_reading.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <random>

#include "scale/scale_reading_internal.h"
#include "tools/scale_photo.h"

using namespace meravel;

namespace {

// A profile along a ruler: ticks `width` samples wide every `period` samples from `first`, of
// contrast `ink` against the ground (negative: dark ticks), every fifth twice as strong when
// `accents`, on a ground that brightens by `trend` from one end to the other.
std::vector<double> tick_profile(int length, double period, double first, double width, double ink,
                                 bool accents, double trend) {
  std::vector<double> profile(length);
  for (int i = 0; i < length; ++i) {
    // Each sample is the tick's coverage of the pixel [i - 0.5, i + 0.5].
    double value = 120 + trend * i / length;
    for (int k = 0; first + k * period < length + period; ++k) {
      const double centre = first + k * period;
      const double cover = std::max(
          0.0, std::min(i + 0.5, centre + width / 2) - std::max(i - 0.5, centre - width / 2));
      value += cover * ink * (accents && k % 5 == 0 ? 2 : 1);
    }
    profile[i] = value;
  }
  return profile;
}

TEST(RulerProfile, ReadsTheSpacingOfTicksToAFractionOfAPixel) {
  struct Case {
    const char* name;
    double period, first, width, ink;
    bool accents;
    double trend;
  };
  const Case cases[] = {
      {"dark ticks", 7.25, 3.1, 1.5, -80, false, 0},
      {"light ticks", 7.25, 3.1, 1.5, 80, false, 0},
      {"every fifth longer", 12.6, 0.4, 2.0, -60, true, 0},
      {"ground brightening", 4.1, 2.0, 1.0, -70, false, 60},
      {"wide ticks", 20.3, 10.0, 6.0, -40, true, -30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int length = 600;
    const ScaleReading reading = read_ruler_profile(
        tick_profile(length, c.period, c.first, c.width, c.ink, c.accents, c.trend));
    ASSERT_TRUE(reading.found()) << reading.note;
    EXPECT_NEAR(reading.px_per_mm, c.period, 0.002 * c.period);
    EXPECT_LT(reading.px_per_mm_se, 0.001 * c.period);
    EXPECT_FALSE(reading.spacing_varies);
    // Every whole tick inside the profile, and each where it was drawn.
    EXPECT_GE(reading.ticks.size(), static_cast<size_t>((length - c.period) / c.period));
    for (const cv::Point2f& tick : reading.ticks) {
      const double k = std::round((tick.x - c.first) / c.period);
      EXPECT_NEAR(tick.x, c.first + k * c.period, 0.2);
    }
  }
}

TEST(RulerProfile, FindsNoRulerInProfilesWithoutRegularTicks) {
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0, 10);
  std::vector<double> random(600), step(600, 40.0), flat(600, 90.0);
  for (double& v : random) v = 100 + noise(rng);
  for (int i = 300; i < 600; ++i) step[i] = 200;
  // Ticks far too few: 10 over the whole profile.
  std::vector<double> sparse = tick_profile(600, 60, 30, 3, -80, false, 0);
  for (const std::vector<double>* profile : {&random, &step, &flat, &sparse}) {
    const ScaleReading reading = read_ruler_profile(*profile);
    EXPECT_FALSE(reading.found()) << reading.px_per_mm;
    EXPECT_FALSE(reading.note.empty());
  }
}

TEST(RulerProfile, FlagsASpacingThatGrowsAlongTheRuler) {
  // Positions first + k * period * (1 + g k / 2 / count): the spacing grows by g over the ticks.
  for (const double growth : {0.0, 0.004, 0.03, -0.03}) {
    SCOPED_TRACE(growth);
    std::vector<double> profile(700, 150.0);
    const int count = 80;
    for (int k = 0; k < count; ++k) {
      const double centre = 5 + k * 8.0 * (1 + growth * k / 2 / count);
      for (int i = 0; i < 700; ++i) {
        profile[i] -= 90 * std::exp(-0.5 * std::pow((i - centre) / 0.8, 2));
      }
    }
    const ScaleReading reading = read_ruler_profile(profile);
    ASSERT_TRUE(reading.found()) << reading.note;
    EXPECT_EQ(reading.spacing_varies, std::abs(growth) > kRulerSpacingChange);
  }
}

cv::Mat grey_of(const ScaleScene& scene) {
  cv::Mat grey;
  cv::cvtColor(render_scale_photo(scene), grey, cv::COLOR_BGR2GRAY);
  return grey;
}

ScaleReading read(const cv::Mat& grey, const std::string& kind, const ScaleScene& scene) {
  if (kind == "ruler") return find_ruler_scale(grey);
  if (kind == "marker") return find_marker_scale(grey, scene.marker.side_mm);
  return find_disc_scale(grey, scene.disc.diameter_mm);
}

TEST(ScaleFromPhotograph, ReadsRulersMarkersAndDiscsWithinHalfAPerCent) {
  for (const std::string kind : {"ruler", "marker", "disc"}) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
      const ScaleScene scene = random_scale_scene({1200, 900}, kind, seed);
      SCOPED_TRACE(kind + " seed " + std::to_string(seed) + " truth " +
                   std::to_string(scene.px_per_mm));
      const ScaleReading reading = read(grey_of(scene), kind, scene);
      ASSERT_TRUE(reading.found()) << reading.note;
      EXPECT_EQ(scale_method_name(reading.method), kind);
      EXPECT_NEAR(reading.px_per_mm, scene.px_per_mm, 0.005 * scene.px_per_mm);
      EXPECT_GT(reading.px_per_mm_se, 0);
      EXPECT_LT(reading.px_per_mm_se, 0.005 * scene.px_per_mm);
      EXPECT_FALSE(reading.spacing_varies || reading.steep_angle);
    }
  }
}

TEST(ScaleFromPhotograph, WhatToDrawLiesOnTheReference) {
  ScaleScene scene = random_scale_scene({1200, 900}, "ruler", 3);
  scene.marker = random_scale_scene({1200, 900}, "marker", 3).marker;
  scene.marker.centre_px = {150, 150};
  const cv::Mat grey = grey_of(scene);
  const ScaleReading ruler = find_ruler_scale(grey);
  ASSERT_TRUE(ruler.found()) << ruler.note;
  const double a = scene.ruler.angle_deg * CV_PI / 180;
  const cv::Point2d along(std::cos(a), std::sin(a));
  EXPECT_GT(std::abs(along.dot(cv::Point2d(ruler.ruler_direction))), 0.999);
  for (const cv::Point2f& tick : ruler.ticks) {
    // Within the ruler's body, and on a whole millimetre of it.
    const cv::Point2d d = cv::Point2d(tick) - scene.ruler.centre_px;
    const double u = d.dot(along) / scene.px_per_mm, v = d.cross(along) / scene.px_per_mm;
    EXPECT_LT(std::abs(v), scene.ruler.width_mm / 2);
    const double from_start = u + scene.ruler.length_mm / 2;
    EXPECT_NEAR(from_start, std::round(from_start), 0.05);
  }
  const ScaleReading marker = find_marker_scale(grey, scene.marker.side_mm);
  ASSERT_EQ(marker.corners.size(), 4u);
  const double half_diagonal = scene.marker.side_mm * scene.px_per_mm / std::sqrt(2.0);
  for (const cv::Point2f& corner : marker.corners) {
    EXPECT_NEAR(cv::norm(cv::Point2d(corner) - scene.marker.centre_px), half_diagonal, 0.5);
  }
}

TEST(ScaleFromPhotograph, InventsNoScaleWithoutAReference) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    const cv::Mat grey = grey_of(random_scale_scene({1200, 900}, "none", seed));
    EXPECT_FALSE(find_ruler_scale(grey).found());
    EXPECT_FALSE(marker_seen(grey));
    EXPECT_FALSE(find_marker_scale(grey, 20).found());
    // The egg is the one large blob: never taken for a disc.
    EXPECT_FALSE(find_disc_scale(grey, 24).found());
  }
}

TEST(ScaleFromPhotograph, FlagsARulerInPerspectiveAndAMarkerAtASteepAngle) {
  ScaleScene ruler = random_scale_scene({1200, 900}, "ruler", 2);
  ruler.ruler.spacing_change = 0.04;
  const ScaleReading bent = find_ruler_scale(grey_of(ruler));
  ASSERT_TRUE(bent.found()) << bent.note;
  EXPECT_TRUE(bent.spacing_varies);

  ScaleScene marker = random_scale_scene({1200, 900}, "marker", 2);
  marker.marker.foreshortening = 0.9;
  const ScaleReading steep = find_marker_scale(grey_of(marker), marker.marker.side_mm);
  ASSERT_TRUE(steep.found()) << steep.note;
  EXPECT_TRUE(steep.steep_angle);

  EXPECT_FALSE(find_marker_scale(grey_of(marker), 0).found());
  EXPECT_FALSE(find_disc_scale(grey_of(marker), -3).found());
}

}  // namespace
