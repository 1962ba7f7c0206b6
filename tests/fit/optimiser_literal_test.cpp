// The optimiser keys run on the fast energy (distance map once per outline, halves traced on their
// bounding boxes) against the same searches on the literal energy (full-size masks, contour
// searches and a distance transform in every evaluation): on small synthetic photographs the two
// must evaluate the same points in the same order, get bit-identical energies and end on the same
// fitted values.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "fit/fit_W.h"
#include "fit/optimiser.h"
#include "reference/literal_energy.h"
#include "tools/demo_photo.h"

using namespace meravel;

namespace {

struct Search {
  std::vector<ParameterVector> points;
  std::vector<double> energies;
  ModelParameters fitted;
};

// Key o's pass, or key p's three passes (each reading the fields the previous one left).
template <typename Energy>
Search run_key(FitState& state, char key, Energy energy) {
  Search search;
  auto pass = [&](const OptimiserRanges& r) {
    state.model = truncated_model(pattern_search(parameter_vector(state.model), r.low, r.high, 1,
                                                 [&](const ParameterVector& p) {
                                                   const double e = energy(p);
                                                   search.points.push_back(p);
                                                   search.energies.push_back(e);
                                                   return e;
                                                 }));
  };
  const cv::Size size = state.source_image.size();
  if (key == 'o') {
    pass(ranges_all_values(size));
  } else {
    pass(ranges_width(state.model, size));
    pass(ranges_lambda_width(state.model));
    pass(ranges_fine(state.model));
  }
  search.fitted = state.model;
  return search;
}

double literal_energy_at(FitState& state, const ParameterVector& p) {
  const double lambda = p[0] / 1000;
  std::vector<cv::Point> left;
  std::vector<cv::Point> right;
  if (!literal_generate_w_curve(state, lambda, lambda * p[1], p[2], p[3], p[4], p[5], left,
                                right)) {
    return std::numeric_limits<double>::infinity();
  }
  return literal_deviation_energy(state, left, right);
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST(OptimiserOnTheFastEnergy, VisitsTheSamePointsAndFitsTheSameValuesAsOnTheLiteralOne) {
  const struct {
    const char* name;
    cv::Size size;
    DemoObject object;
    char key;
  } cases[] = {
      {"key o, upright object", {240, 160}, {1.25, 420, 100, 0, 125, 78}, 'o'},
      {"key p, upright object", {240, 160}, {1.25, 420, 100, 0, 125, 78}, 'p'},
      {"key o, turned object touching the frame", {200, 150}, {0.8, 680, 150, 350, 96, 70}, 'o'},
      {"key p, turned object touching the frame", {200, 150}, {0.8, 680, 150, 350, 96, 70}, 'p'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FitState start;
    start.source_image = render_demo_photo(c.size, c.object);
    start.threshold = 131;
    start.model.lambda_milli = 1100;
    start.model.width = 6 * c.size.width;
    start.model.height = (3 * c.size.height) / 4;
    start.model.translation_x = c.size.width / 2;
    start.model.translation_y = c.size.height / 2;
    rebuild_outline(start);
    ASSERT_FALSE(start.target.outline_contour.empty());

    FitState fast_state = start;
    const Search fast = run_key(fast_state, c.key, [&](const ParameterVector& p) {
      return evaluate_parameters(fast_state, p);
    });
    FitState literal_state = start;
    const Search literal = run_key(literal_state, c.key, [&](const ParameterVector& p) {
      return literal_energy_at(literal_state, p);
    });

    ASSERT_EQ(fast.points.size(), literal.points.size());
    int finite = 0;
    for (size_t i = 0; i < fast.points.size(); ++i) {
      ASSERT_EQ(fast.points[i], literal.points[i]) << "evaluation " << i;
      ASSERT_TRUE(same_bits(fast.energies[i], literal.energies[i]))
          << "evaluation " << i << ": " << fast.energies[i] << " vs " << literal.energies[i];
      finite += std::isfinite(fast.energies[i]);
    }
    EXPECT_EQ(fast.fitted, literal.fitted);
    // A search that only ever saw +inf would prove nothing about the distances.
    EXPECT_GT(finite, 20);
  }
}
