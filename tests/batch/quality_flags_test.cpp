// The warnings that flag a fit for review: each on a photograph that shows its fault, none on a
// clean fit; and the series' check of an energy far above its median.
#include "batch/quality_flags.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "fit/auto_fit.h"
#include "fit/fit_W.h"
#include "fit/geometry.h"
#include "tools/demo_photo.h"

using namespace meravel;

namespace {

// A 400 x 300 photograph of one object 150 px high and 110 px wide centred at (x, y).
cv::Mat photograph_with_object_at(double x, double y) {
  DemoObject object;
  object.lambda = 1.2;
  object.height = 150;
  object.width = std::round(width_for_pixel_width(1.2, 150, 110));
  object.rotation_deg = 0;
  object.center_x = x;
  object.center_y = y;
  return render_demo_photo(cv::Size(400, 300), object);
}

struct Fitted {
  FitState state;
  AutoFitResult fit;
};

Fitted fitted(const cv::Mat& photo, int threshold = 131) {
  SessionStart start;
  start.threshold = threshold;
  Fitted f{prepare_fit(photo, start), {}};
  std::ostringstream ignored;
  f.fit = auto_fit(f.state.target, f.state.source_image, f.state.threshold, f.state.cut_offs(),
                   f.state.model.rotation, f.state.work, ignored);
  return f;
}

TEST(FitWarnings, EachFaultGivesItsWarning) {
  const double inf = std::numeric_limits<double>::infinity();
  const Fitted clean = fitted(photograph_with_object_at(200, 150));
  ASSERT_TRUE(clean.fit.found);
  ModelParameters at_edge = clean.fit.model;
  at_edge.translation_x = 20;  // half the model beyond the left edge
  const Fitted cut = fitted(photograph_with_object_at(360, 150));
  ASSERT_TRUE(cut.fit.found);
  // Threshold 0: the dark ground is white too, so the largest outline is the frame's.
  const Fitted frame = fitted(photograph_with_object_at(200, 150), 0);

  struct Case {
    const char* what;
    const FitTarget& target;
    ModelParameters model;
    double energy;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"a clean fit", clean.state.target, clean.fit.model, clean.fit.energy, {}},
      {"energy above the limit", clean.state.target, clean.fit.model, 3.5, {"energy above 3 px"}},
      {"energy at the limit", clean.state.target, clean.fit.model, 3.0, {}},
      {"unscorable", clean.state.target, clean.fit.model, inf, {"energy above 3 px"}},
      {"the model beyond the edge",
       clean.state.target,
       at_edge,
       clean.fit.energy,
       {"the model reaches the border"}},
      {"an object cut by the edge",
       cut.state.target,
       clean.fit.model,
       clean.fit.energy,
       {"the outline touches the frame"}},
      {"the frame as the outline",
       frame.state.target,
       clean.fit.model,
       clean.fit.energy,
       {"the outline is the image frame"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(fit_warnings(c.target, c.model, CutOffs{1, 5}, c.energy), c.expected);
  }
  EXPECT_LT(clean.fit.energy, 1.0);
}

TEST(SeriesMedian, FlagsOnlyEnergiesFarAboveTheMedian) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(median_energy({}), 0.0);
  EXPECT_EQ(median_energy({0.5, inf, 0.7, 0.6}), 0.6);
  EXPECT_EQ(median_energy({0.8, 0.5, 0.7, 0.6}), 0.6);
  struct Case {
    double energy, median;
    bool flagged;
  };
  const Case cases[] = {
      {1.81, 0.6, true},   {1.79, 0.6, false},  // three times the median
      {0.29, 0.05, false},                      // three times, but less than 0.25 px above it
      {0.31, 0.05, true},  {inf, 0.6, false},   // an unscorable fit is flagged by the limit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.energy);
    EXPECT_EQ(far_above_median(c.energy, c.median), c.flagged);
  }
}

// The series' check as the batch run applies it: the median of all the series' energies, each
// energy against it, and nothing for fewer than three.
TEST(SeriesMedian, FlagsEachEnergyOfASeriesAgainstItsOwnMedian) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* what;
    std::vector<double> energies;
    std::vector<bool> flagged;
  } cases[] = {
      {"no fit", {}, {}},
      {"two fits give no median", {0.1, 5.0}, {false, false}},
      {"the outlier first", {5.0, 0.5, 0.6}, {true, false, false}},
      {"the outlier last", {0.5, 0.6, 0.7, 2.5}, {false, false, false, true}},
      // The lower middle of 0.5, 0.6, 0.7, 1.9 is 0.6: 1.9 is more than three times it.
      {"an even count takes the lower middle", {1.9, 0.7, 0.5, 0.6}, {true, false, false, false}},
      {"an unscorable fit neither counts nor is flagged",
       {inf, 0.5, inf, 1.9, 0.6},
       {false, false, false, true, false}},
      {"a series of equal energies", {1.0, 1.0, 1.0}, {false, false, false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(far_above_series_median(c.energies), c.flagged);
  }
}

}  // namespace
