// The standard errors of the automatic fit on generated photographs with known values: the true
// error lies within two stated standard errors about as often as that claims (95 % for a normal
// error; at least 90 % here for length and breadth), and the plausibility checks leave such right
// fits alone (at most one in ten flagged).
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "auto_fit_support.h"
#include "fit/egg_dimensions.h"
#include "fit/fit_warnings.h"
#include "fit/plausibility.h"

using namespace auto_fit_test;

TEST(FitUncertainty, TwoStandardErrorsCoverTheTrueErrorInNineCasesOfTen) {
  std::mt19937 random(26);
  std::uniform_real_distribution<double> lambda_log(std::log(0.6), std::log(1.7));
  std::uniform_real_distribution<double> size(70.0, 320.0);
  std::uniform_real_distribution<double> elongation(1.15, 1.5);
  std::uniform_real_distribution<double> rotation(0.0, 360.0);
  constexpr int kPhotographs = 36;
  int covered_lambda = 0, covered_length = 0, covered_breadth = 0, flagged = 0, fitted = 0;
  for (int i = 0; i < kPhotographs; ++i) {
    const double lambda = std::exp(lambda_log(random));
    const double height = size(random);
    const DemoObject o = object(lambda, height, height / elongation(random), rotation(random),
                                400 + (i % 5) * 7, 300 + (i % 3) * 5);
    const cv::Mat photo =
        jpeg_round_trip(render_demo_photo({800, 600}, o, light_object(true, 100 + i)), 85);
    FitState state;
    prepare(state, photo, 325, 131, {1, 5});
    std::ostringstream errors;
    const AutoFitResult r = auto_fit(state, errors);
    ASSERT_TRUE(r.found);
    if (!r.edge_fit_converged) continue;
    ++fitted;
    const FitUncertainty& u = r.uncertainty;
    const EggDimensions egg =
        egg_dimensions_of_model(r.model.lambda_milli, r.model.width, r.model.height).value();
    const double fitted_lambda = r.model.lambda_milli / 1000.0;
    // The fit may have taken either end as the top: lambda is compared the same way up.
    const double true_lambda =
        std::fabs(std::log(fitted_lambda / lambda)) < std::fabs(std::log(fitted_lambda * lambda))
            ? lambda
            : 1.0 / lambda;
    const double true_breadth = placement_of(o).pixel_width;
    SCOPED_TRACE(testing::Message() << "lambda " << lambda << " height " << height);
    covered_lambda += std::fabs(fitted_lambda - true_lambda) <= 2 * u.lambda_se;
    covered_length += std::fabs(egg.length - o.height) <= 2 * u.length_se_px;
    covered_breadth += std::fabs(egg.breadth - true_breadth) <= 2 * u.breadth_se_px;
    // Standard errors that cover everything by being huge would say nothing: they stay within a
    // few per cent (the largest are the whole-number polish's moves on objects under 100 px).
    EXPECT_LT(u.length_se_px, 0.05 * o.height);
    EXPECT_LT(u.breadth_se_px, 0.05 * true_breadth);

    FitWarnings warnings =
        fit_warnings(state.target(), r.model, state.cut_offs(), r.energy, kStartRotation);
    FitEvidence evidence;
    evidence.contrast_grey = object_ground_contrast(state.source_image, state.outline_contour);
    evidence.starts_disagree = disagrees(u.lambda_spread, u.lambda_se, fitted_lambda) ||
                               disagrees(u.length_spread_px, u.length_se_px, egg.length) ||
                               disagrees(u.breadth_spread_px, u.breadth_se_px, egg.breadth);
    add_evidence_warnings(warnings, evidence);
    warnings.top_far_from_reference = false;  // the rotations here are drawn at random
    if (warnings.any()) {
      ++flagged;
      std::cout << "a right fit flagged: " << fit_warnings_text(warnings) << std::endl;
    }
  }
  EXPECT_GE(fitted, kPhotographs - 1);
  // Lambda's errors are covered less often (29 of 36 when written): part of its error is the
  // edge's systematic displacement, which leaves no trace in the residuals. Held here at what it
  // reaches, so that a change that makes it worse is seen.
  EXPECT_GE(covered_lambda, 0.8 * fitted);
  EXPECT_GE(covered_length, 0.9 * fitted);
  EXPECT_GE(covered_breadth, 0.9 * fitted);
  EXPECT_LE(flagged, fitted / 10);
  std::cout << "covered within 2 SE of " << fitted << ": lambda " << covered_lambda << ", length "
            << covered_length << ", breadth " << covered_breadth << "; flagged " << flagged
            << std::endl;
}
