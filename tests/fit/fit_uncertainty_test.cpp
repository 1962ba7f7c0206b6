// The standard errors of the automatic fit on generated photographs with known values: the true
// error lies within two stated standard errors about as often as that claims (95 % for a normal
// error; at least 90 % here for lambda, length and breadth), and the plausibility checks leave such
// right fits alone (at most one in ten flagged).
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <random>
#include <sstream>

#include "auto_fit_support.h"
#include "fit/egg_dimensions.h"
#include "fit/fit_warnings.h"
#include "fit/plausibility.h"

using namespace meravel;

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
    EXPECT_LT(u.lambda_se, 0.01 * fitted_lambda);

    FitWarnings warnings =
        fit_warnings(state.target, r.model, state.cut_offs(), r.energy, kStartRotation);
    const FitEvidence evidence =
        fit_evidence(state.source_image, state.target.outline_contour, r.model, u);
    add_evidence_warnings(warnings, evidence);
    warnings.top_far_from_reference = false;  // the rotations here are drawn at random
    if (warnings.any()) {
      ++flagged;
      std::cout << "a right fit flagged: " << fit_warnings_text(warnings) << std::endl;
    }
  }
  EXPECT_GE(fitted, kPhotographs - 1);
  // Lambda's error is mostly the edge's displacement along long stretches of the outline, which
  // the residuals' correlation over 60 points covered in only 29 of 36; the jackknife over
  // stretches of the outline covers it (34 of 36 when written).
  EXPECT_GE(covered_lambda, 0.9 * fitted);
  EXPECT_GE(covered_length, 0.9 * fitted);
  EXPECT_GE(covered_breadth, 0.9 * fitted);
  EXPECT_LE(flagged, fitted / 10);
  std::cout << "covered within 2 SE of " << fitted << ": lambda " << covered_lambda << ", length "
            << covered_length << ", breadth " << covered_breadth << "; flagged " << flagged
            << std::endl;
}

// An egg with its cast shadow beside it, light enough to lie above the threshold: the outline
// takes the shadow in. Whatever the fit makes of it, it is right or flagged.
TEST(FitUncertainty, AnEggWithItsShadowTakenInIsRightOrFlagged) {
  const struct {
    double dx, dy;  // the shadow's offset, as fractions of the egg's breadth and length
  } shadows[] = {{0.15, 0.05}, {0.25, 0.1}, {0.0, 0.12}, {-0.2, 0.08}};
  for (const auto& shadow : shadows) {
    SCOPED_TRACE(testing::Message() << shadow.dx << ", " << shadow.dy);
    const DemoObject o = object(1.2, 220, 160, 180, 400, 300);
    cv::Mat photo = render_demo_photo({800, 600}, o, light_object(true, 7));
    std::vector<cv::Point> egg, cast;
    for (const cv::Point2d& p : demo_object_outline(o)) {
      egg.emplace_back(cvRound(p.x), cvRound(p.y));
      cast.emplace_back(cvRound(p.x + shadow.dx * 160), cvRound(p.y + shadow.dy * 220));
    }
    cv::Mat egg_mask(photo.size(), CV_8UC1, cv::Scalar(0)), shadow_mask = egg_mask.clone();
    cv::fillPoly(egg_mask, std::vector<std::vector<cv::Point>>{egg}, cv::Scalar(255));
    cv::fillPoly(shadow_mask, std::vector<std::vector<cv::Point>>{cast}, cv::Scalar(255));
    cv::Mat shaded;
    cv::GaussianBlur(photo, shaded, cv::Size(), 1.0);
    shaded.setTo(cv::Scalar::all(150), shadow_mask & ~egg_mask);
    cv::GaussianBlur(shaded, shaded, cv::Size(), 1.0);
    shaded.copyTo(photo, ~egg_mask);
    photo = jpeg_round_trip(photo, 85);

    FitState state;
    prepare(state, photo, 325, 131, {1, 5});
    std::ostringstream errors;
    const AutoFitResult r = auto_fit(state, errors);
    ASSERT_TRUE(r.found);
    const EggDimensions egg_fitted =
        egg_dimensions_of_model(r.model.lambda_milli, r.model.width, r.model.height).value();
    const bool right = std::fabs(egg_fitted.length / o.height - 1) <= 0.03 &&
                       std::fabs(egg_fitted.breadth / placement_of(o).pixel_width - 1) <= 0.03;
    FitWarnings warnings =
        fit_warnings(state.target, r.model, state.cut_offs(), r.energy, kStartRotation);
    add_evidence_warnings(warnings, fit_evidence(state.source_image, state.target.outline_contour,
                                                 r.model, r.uncertainty));
    std::cout << "shadow " << shadow.dx << "," << shadow.dy << ": length "
              << egg_fitted.length / o.height - 1 << ", breadth "
              << egg_fitted.breadth / placement_of(o).pixel_width - 1 << ", "
              << fit_warnings_text(warnings) << std::endl;
    EXPECT_TRUE(right || warnings.any());
  }
  // Light from one side changes the contrast along the outline smoothly, not in a step.
  DemoLook side_light = light_object(true, 8);
  side_light.object_shading = 90;
  side_light.background_gradient = 40;
  const DemoObject o = object(1.2, 220, 160, 150, 400, 300);
  const cv::Mat photo = jpeg_round_trip(render_demo_photo({800, 600}, o, side_light), 85);
  FitState state;
  prepare(state, photo, 325, 131, {1, 5});
  std::ostringstream errors;
  const AutoFitResult r = auto_fit(state, errors);
  ASSERT_TRUE(r.found);
  const double step = contrast_step_along_outline(state.source_image, state.target.outline_contour);
  EXPECT_LT(step, kContrastStepFraction / 2) << step;
}
