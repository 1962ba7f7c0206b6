// The binarisation's polarity: a dark object on a light ground is found as the object, not as the
// frame of the image, and a light object on a dark ground is found as before.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <sstream>

#include "fit/auto_fit.h"
#include "fit/fit_W.h"

using namespace meravel;

namespace {

// A 400 x 300 photograph with an ellipse centred at (200, 150), half axes 60 x 90.
cv::Mat ellipse_photo(bool dark_on_light) {
  cv::Mat photo(300, 400, CV_8UC3, cv::Scalar::all(dark_on_light ? 220 : 30));
  cv::ellipse(photo, {200, 150}, {60, 90}, 0, 0, 360, cv::Scalar::all(dark_on_light ? 30 : 220),
              cv::FILLED);
  return photo;
}

}  // namespace

TEST(Polarity, TheOutlineIsTheObjectsForTheMatchingPolarity) {
  struct Case {
    const char* what;
    bool dark_on_light;
    ObjectPolarity polarity;
    bool object;  // the outline is the ellipse's (else the image frame's)
  } const cases[] = {
      {"light on dark, default", false, ObjectPolarity::kLightOnDark, true},
      {"dark on light, default", true, ObjectPolarity::kLightOnDark, false},
      {"dark on light, inverted", true, ObjectPolarity::kDarkOnLight, true},
      {"light on dark, inverted", false, ObjectPolarity::kDarkOnLight, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const cv::Mat photo = ellipse_photo(c.dark_on_light);
    const Outline outline = find_outline(photo, 131, nullptr, nullptr, c.polarity);
    ASSERT_FALSE(outline.contour.empty());
    if (c.object) {
      EXPECT_NEAR(outline.box.width, 120, 2);
      EXPECT_NEAR(outline.box.height, 180, 2);
      EXPECT_NEAR(outline.box.center_x, 200, 1);
      EXPECT_NEAR(outline.box.center_y, 150, 1);
    } else {
      // The outer pixel frame counts as background: the ground runs just inside it.
      EXPECT_EQ(outline.box.width, 400 - 3);
      EXPECT_EQ(outline.box.height, 300 - 3);
    }
  }
}

TEST(Polarity, InvertingTheGroundAndThePolarityGivesTheSameOutline) {
  const Outline light = find_outline(ellipse_photo(false), 131);
  cv::Mat inverted;
  cv::bitwise_not(ellipse_photo(false), inverted);
  // Inverting the grey image undoes the photograph's inversion: the same threshold selects the
  // same pixels.
  const Outline dark = find_outline(inverted, 131, nullptr, nullptr, ObjectPolarity::kDarkOnLight);
  EXPECT_EQ(dark.contour, light.contour);
}

TEST(Polarity, TheStateBinarisesWithItsPolarityAndTheAutomaticFitIsFinite) {
  SessionStart start;
  start.polarity = ObjectPolarity::kDarkOnLight;
  FitState state = prepare_fit(ellipse_photo(true), start);
  EXPECT_EQ(state.polarity, ObjectPolarity::kDarkOnLight);
  EXPECT_NEAR(state.outline_height, 180, 2);
  std::ostringstream errors;
  const AutoFitResult fit = auto_fit(state, errors);
  ASSERT_TRUE(fit.found);
  EXPECT_LT(fit.energy, 1.5);
  // The edge is read on the inverted grey image, where the object is the light side: an ellipse.
  EXPECT_NEAR(fit.model.lambda_milli, 1000, 10);
  EXPECT_NEAR(fit.model.translation_y, 150, 3);
}
