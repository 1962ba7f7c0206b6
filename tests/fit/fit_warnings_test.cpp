// The warnings about a fit that may be wrong, each on a photograph or model that raises it and
// on one that does not.
#include "fit/fit_warnings.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "fit/auto_fit.h"

using namespace meravel;

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// A W x H photograph with a filled ellipse; light on dark unless `dark_on_light`.
cv::Mat ellipse_photo(cv::Size size, cv::Point centre, cv::Size axes, bool dark_on_light = false) {
  cv::Mat photo(size, CV_8UC3, cv::Scalar::all(dark_on_light ? 230 : 20));
  cv::ellipse(photo, centre, axes, 0, 0, 360, cv::Scalar::all(dark_on_light ? 20 : 230),
              cv::FILLED);
  return photo;
}

FitTarget target_of(const cv::Mat& photo) {
  return make_fit_target(find_outline(photo, 131).contour, photo.size());
}

// The automatic fit of the photograph's outline from the start rotation.
ModelParameters fitted(const FitTarget& target, const cv::Mat& photo, double* energy) {
  EvaluationBuffers work;
  std::ostringstream errors;
  const AutoFitResult result = auto_fit(target, photo, 131, {1, 5}, kStartRotation, work, errors);
  EXPECT_TRUE(result.found);
  *energy = result.energy;
  return result.model;
}

struct Expected {
  bool touches = false;
  bool frame = false;
  bool energy = false;
  bool border = false;
  bool top = false;
};

void expect_warnings(const FitWarnings& w, const Expected& e) {
  EXPECT_EQ(w.outline_touches_frame, e.touches);
  EXPECT_EQ(w.outline_is_image_frame, e.frame);
  EXPECT_EQ(w.energy_too_high, e.energy);
  EXPECT_EQ(w.model_reaches_border, e.border);
  EXPECT_EQ(w.top_far_from_reference, e.top);
  // The models here are placed by hand, not fitted: the shape checks may add their own warnings.
  if (e.touches || e.frame || e.energy || e.border || e.top) {
    EXPECT_TRUE(w.any());
  }
}

}  // namespace

TEST(FitWarnings, OutlinesOfTheFrameAndOfACutObject) {
  const cv::Size size(400, 300);
  struct Case {
    const char* what;
    cv::Mat photo;
    Expected expected;
  } const cases[] = {
      {"object well inside", ellipse_photo(size, {200, 150}, {60, 90}), {}},
      {"object near the border", ellipse_photo(size, {200, 150}, {60, 144}), {}},
      {"object cut by the left border", ellipse_photo(size, {30, 150}, {60, 90}), {true}},
      {"object cut by the bottom border", ellipse_photo(size, {200, 280}, {60, 90}), {true}},
      {"dark object on a light ground",
       ellipse_photo(size, {200, 150}, {60, 90}, true),
       {true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const FitTarget target = target_of(c.photo);
    ASSERT_FALSE(target.outline_contour.empty());
    // A model well inside, scored well, upright: only the outline can raise a warning.
    ModelParameters model{1200, 400, 100, kStartRotation, 200, 150};
    const FitWarnings w = fit_warnings(target, model, {1, 5}, 0.5, kStartRotation);
    expect_warnings(w, c.expected);
  }
}

TEST(FitWarnings, AnAutomaticFitInsideThePhotographRaisesNone) {
  const cv::Mat photo = ellipse_photo({400, 300}, {200, 150}, {60, 90});
  const FitTarget target = target_of(photo);
  double energy = 0;
  const ModelParameters model = fitted(target, photo, &energy);
  const FitWarnings w = fit_warnings(target, model, {1, 5}, energy, kStartRotation);
  expect_warnings(w, {});
  EXPECT_EQ(fit_warnings_text(w), "");
}

TEST(FitWarnings, EnergyBorderAndTopOfTheModel) {
  const cv::Mat photo = ellipse_photo({400, 300}, {200, 150}, {60, 90});
  const FitTarget target = target_of(photo);
  double fit_energy = 0;
  const ModelParameters fit = fitted(target, photo, &fit_energy);
  struct Case {
    const char* what;
    std::function<void(ModelParameters&)> change;
    double energy;
    Expected expected;
  } const cases[] = {
      {"energy just below the limit", [](ModelParameters&) {}, 2.999, {}},
      {"energy at the limit", [](ModelParameters&) {}, 3.0, {}},
      {"energy above the limit", [](ModelParameters&) {}, 3.001, {false, false, true}},
      {"unscorable model", [](ModelParameters&) {}, kInfinity, {false, false, true}},
      {"model moved to the left border",
       [](ModelParameters& m) { m.translation_x = 20; },
       fit_energy,
       {false, false, false, true}},
      {"model taller than the photograph",
       [](ModelParameters& m) { m.height = 420; },
       fit_energy,
       {false, false, false, true}},
      {"top turned by 90 degrees",
       [](ModelParameters& m) { m.rotation = kStartRotation - 90; },
       fit_energy,
       {}},
      {"top turned by 91 degrees",
       [](ModelParameters& m) { m.rotation = kStartRotation - 91; },
       fit_energy,
       {false, false, false, false, true}},
      {"top turned the other way by 91 degrees",
       [](ModelParameters& m) { m.rotation = (kStartRotation + 91) % 360; },
       fit_energy,
       {false, false, false, false, true}},
      {"top flipped",
       [](ModelParameters& m) { m.rotation = (kStartRotation + 180) % 360; },
       fit_energy,
       {false, false, false, false, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ModelParameters model = fit;
    model.rotation = kStartRotation;
    c.change(model);
    expect_warnings(fit_warnings(target, model, {1, 5}, c.energy, kStartRotation), c.expected);
  }
}

TEST(FitWarnings, TextNamesEveryWarningOnceTheFrameStandingForTheTouch) {
  FitWarnings w;
  w.outline_touches_frame = true;
  EXPECT_EQ(fit_warnings_text(w),
            "Warning: the outline touches the image frame (object cut by the border?).");
  w.outline_is_image_frame = true;
  w.energy_too_high = true;
  EXPECT_EQ(fit_warnings_text(w),
            "Warning: the outline is the frame of the image (a dark object on a light ground? try "
            "key n); the energy is above 3 px.");
  for (const FitWarningKind& kind : fit_warning_kinds()) {
    SCOPED_TRACE(kind.column);
    FitWarnings one;
    one.*kind.flag = true;
    EXPECT_NE(fit_warnings_text(one).find(kind.message), std::string::npos);
  }
}
