#include "fit/optimiser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "fit/fit_W.h"

using namespace meravel;

namespace {

const double kInf = std::numeric_limits<double>::infinity();

// A fit state as setup leaves it on a 1000 x 500 photograph, with the session's rotation.
FitState state_on_1000_by_500() {
  FitState state;
  state.source_image = cv::Mat(500, 1000, CV_8UC3);
  state.model.lambda_milli = 1000;
  state.model.width = 6000;
  state.model.height = 375;
  state.model.rotation = 325;
  state.model.translation_x = 500;
  state.model.translation_y = 250;
  return state;
}

std::vector<Candidate> candidates_at(double step_fraction, const ParameterVector& current,
                                     const ParameterVector& low, const ParameterVector& high,
                                     int depth = 1) {
  ParameterVector span;
  for (int k = 0; k < 6; ++k) span[k] = high[k] - low[k];
  std::vector<Candidate> list;
  collect_candidates(Candidate{}, 0, depth, step_fraction, current, high, low, span, list);
  return list;
}

}  // namespace

TEST(AngleInRange, OpenIntervalsPlainAndWrapping) {
  struct Case {
    int degree, low, high;
    bool inside;
  } const cases[] = {
      {5, 0, 10, true},     {0, 0, 10, false},     {10, 0, 10, false},  // ends excluded
      {300, 270, 90, true}, {55, 270, 90, true},   {0, 270, 90, true},
      {360, 270, 90, true}, {235, 270, 90, false}, {270, 270, 90, false},
      {90, 270, 90, false}, {5, 5, 5, false},      {0, 0, 0, false},  // empty interval
      {358, -5, 5, false},  {0, -5, 5, true},      {4, -5, 5, true},  // (-5, 5) does not wrap
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.degree << " in (" << c.low << ", " << c.high << ")");
    EXPECT_EQ(angle_in_range(c.degree, c.low, c.high), c.inside);
  }
}

TEST(AngleInRangeDeathTest, DegreeAbove360Aborts) {
  EXPECT_DEATH(angle_in_range(361, 0, 10), "degree<=360");
}

TEST(CandidateRotation, TruncatesEachTermThenWrapsInto0To359) {
  struct Case {
    double current, offset;
    int rotation;
  } const cases[] = {
      {325, -90, 235}, {325, 90, 55}, {0, -3.125, 357}, {359, 1, 0},
      {2.9, 0.9, 2},   {0, -0.9, 0},  {360, 0, 0},      {10, -730, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.current << " + " << c.offset);
    EXPECT_EQ(candidate_rotation(c.current, c.offset), c.rotation);
  }
}

TEST(CollectCandidates, DepthOneGivesPlusThenMinusForEachParameterInOrder) {
  const ParameterVector low = {0, 0, 0, 0, 0, 0};
  const ParameterVector high = {100, 200, 300, 80, 500, 600};
  const ParameterVector current = {50, 100, 150, 40, 250, 300};
  const std::vector<Candidate> list = candidates_at(0.25, current, low, high);
  ASSERT_EQ(list.size(), 12u);
  const double steps[6] = {25, 50, 75, 20, 125, 150};
  for (int k = 0; k < 6; ++k) {
    SCOPED_TRACE(k);
    Candidate plus{}, minus{};
    plus[k] = steps[k];
    minus[k] = -steps[k];
    EXPECT_EQ(list[2 * k], plus);
    EXPECT_EQ(list[2 * k + 1], minus);
  }
}

TEST(CollectCandidates, MovesMustLandStrictlyInsideTheBounds) {
  // lambda 1000 in (950, 1050): a step of 50 lands on both ends, 31.25 lands inside.
  struct Case {
    double step_fraction;
    size_t count;
  } const cases[] = {{0.5, 0}, {0.5 / 1.6, 2}};
  const ParameterVector current = {1000, 10, 10, 10, 10, 10};
  const ParameterVector low = {950, 10, 10, 10, 10, 10};
  const ParameterVector high = {1050, 10, 10, 10, 10, 10};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step_fraction);
    EXPECT_EQ(candidates_at(c.step_fraction, current, low, high).size(), c.count);
  }
}

TEST(CollectCandidates, WrappingRotationFrom325) {
  // Span 90 - 270 = -180 and step -90: the plus move lands on 235 (outside), the minus move on 55.
  const ParameterVector current = {1000, 10, 10, 325, 10, 10};
  const ParameterVector low = {1000, 10, 10, 270, 10, 10};
  const ParameterVector high = {1000, 10, 10, 90, 10, 10};
  const std::vector<Candidate> list = candidates_at(0.5, current, low, high);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0], (Candidate{0, 0, 0, 90, 0, 0}));
  EXPECT_EQ(candidate_rotation(current[kRotation], list[0][kRotation]), 55);
}

TEST(CollectCandidates, RotationNearZeroDoesNotWrapARangeThatDoesNot) {
  // Range (-5, 5) at rotation 0: a move of 3.125 down gives 357, outside; up gives 3, inside.
  const ParameterVector current = {1, 1, 1, 0, 1, 1};
  const ParameterVector low = {1, 1, 1, -5, 1, 1};
  const ParameterVector high = {1, 1, 1, 5, 1, 1};
  const std::vector<Candidate> list = candidates_at(0.5 / 1.6, current, low, high);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0][kRotation], 3.125);
}

TEST(CollectCandidates, DeeperCombinationsFollowEachMoveDepthFirst) {
  const ParameterVector current = {50, 50, 7, 7, 7, 7};
  const ParameterVector low = {0, 0, 7, 7, 7, 7};
  const ParameterVector high = {100, 100, 7, 7, 7, 7};
  const std::vector<Candidate> list = candidates_at(0.1, current, low, high, 2);
  const std::vector<Candidate> expected = {
      {10, 0, 0, 0, 0, 0},   {10, 10, 0, 0, 0, 0},   {10, -10, 0, 0, 0, 0}, {-10, 0, 0, 0, 0, 0},
      {-10, 10, 0, 0, 0, 0}, {-10, -10, 0, 0, 0, 0}, {0, 10, 0, 0, 0, 0},   {0, -10, 0, 0, 0, 0},
  };
  EXPECT_EQ(list, expected);
}

TEST(Ranges, PresetsOfTheOptimiserKeys) {
  const FitState state = state_on_1000_by_500();
  struct Case {
    const char* key;
    OptimiserRanges ranges;
    double expected[12];
  } const cases[] = {
      {"o",
       ranges_all_values(state.source_image.size()),
       {200, 6000, 2000, 20000, 50, 450, 270, 90, 200, 800, 100, 400}},
      {"u",
       ranges_width(state.model, state.source_image.size()),
       {1000, 1000, 2000, 20000, 375, 375, 325, 325, 500, 500, 250, 250}},
      {"i",
       ranges_lambda_width(state.model),
       {900, 1300, 4800, 7200, 375, 375, 325, 325, 500, 500, 250, 250}},
      {"p, third pass",
       ranges_fine(state.model),
       {950, 1050, 5700, 6300, 356.25, 393.75, 320, 330, 475, 525, 237.5, 262.5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    // The expected bounds as (low, high) pairs in parameter order.
    for (int k = 0; k < 6; ++k) {
      EXPECT_DOUBLE_EQ(c.ranges.low[k], c.expected[2 * k]) << k;
      EXPECT_DOUBLE_EQ(c.ranges.high[k], c.expected[2 * k + 1]) << k;
    }
  }
}

TEST(PatternSearch, AllParametersFixedEvaluatesTheStartOnly) {
  const ParameterVector start = {1100, 6000, 375, 325, 500, 250};
  int evaluations = 0;
  const ParameterVector result =
      pattern_search(start, start, start, 1, [&](const ParameterVector&) {
        ++evaluations;
        return 1.0;
      });
  EXPECT_EQ(result, start);
  EXPECT_EQ(evaluations, 1);
}

TEST(PatternSearch, WidthPassStepsFromNineWDownByFactor1Point6) {
  // Key u on a 1000-wide photograph: width in (2000, 20000) from 6000, nothing improves. The
  // proposals are 6000 +- 0.5/1.6^k * 18000 that land strictly inside, for ten iterations.
  const FitState state = state_on_1000_by_500();
  const OptimiserRanges ranges = ranges_width(state.model, state.source_image.size());
  const ParameterVector& low = ranges.low;
  const ParameterVector& high = ranges.high;
  const ParameterVector start = parameter_vector(state.model);
  std::vector<ParameterVector> evaluated;
  pattern_search(start, low, high, 1, [&](const ParameterVector& p) {
    evaluated.push_back(p);
    return 5.0;
  });
  std::vector<double> expected_widths = {6000};
  double fraction = 0.5;
  for (int iteration = 0; iteration < 10; ++iteration, fraction /= 1.6) {
    const double step = fraction * 18000;
    if (6000 + step < 20000) expected_widths.push_back(6000 + step);
    if (6000 - step > 2000) expected_widths.push_back(6000 - step);
  }
  ASSERT_EQ(evaluated.size(), expected_widths.size());
  EXPECT_EQ(evaluated[1][kWidth], 15000);  // the first step is 9 W
  for (size_t i = 0; i < evaluated.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_DOUBLE_EQ(evaluated[i][kWidth], expected_widths[i]);
    for (int k : {kLambdaMilli, kHeight, kRotation, kTranslationX, kTranslationY}) {
      EXPECT_EQ(evaluated[i][k], start[k]);
    }
  }
}

TEST(PatternSearch, FinePassProposesNothingUntilTheSecondStep) {
  const FitState state = state_on_1000_by_500();
  const OptimiserRanges ranges = ranges_fine(state.model);
  std::vector<ParameterVector> evaluated;
  pattern_search(parameter_vector(state.model), ranges.low, ranges.high, 1,
                 [&](const ParameterVector& p) {
                   evaluated.push_back(p);
                   return 5.0;
                 });
  // Start, then nothing at 0.5, then all twelve moves at 0.3125 of each span.
  ASSERT_GE(evaluated.size(), 13u);
  EXPECT_DOUBLE_EQ(evaluated[1][kLambdaMilli], 1000 + 31.25);
  EXPECT_DOUBLE_EQ(evaluated[2][kLambdaMilli], 1000 - 31.25);
  EXPECT_DOUBLE_EQ(evaluated[3][kWidth], 6000 + 187.5);
  EXPECT_EQ(evaluated[7][kRotation], 328);  // 325 + trunc(3.125)
  EXPECT_EQ(evaluated[8][kRotation], 322);
}

TEST(PatternSearch, FirstOfEqualCandidatesWinsAndEqualIsNoImprovement) {
  // At step 0.5 both lambda moves land on the range ends; at 0.3125 both score 0.5 against 1.0 at
  // the start, and the plus move, listed first, wins. From there every point scores 0.5 again,
  // which is not an improvement, so the search stays.
  const ParameterVector start = {1000, 10, 10, 10, 10, 10};
  const ParameterVector low = {500, 10, 10, 10, 10, 10};
  const ParameterVector high = {1500, 10, 10, 10, 10, 10};
  const ParameterVector result = pattern_search(
      start, low, high, 1, [](const ParameterVector& p) { return p[0] == 1000 ? 1.0 : 0.5; });
  EXPECT_EQ(result[kLambdaMilli], 1312.5);
}

TEST(PatternSearch, InfiniteStartTakesTheLowestFiniteCandidate) {
  const ParameterVector start = {1000, 10, 10, 10, 10, 10};
  const ParameterVector low = {0, 0, 10, 10, 10, 10};
  const ParameterVector high = {4000, 40, 10, 10, 10, 10};
  // The first iteration proposes lambda +2000 (scoring 3) and width +20 (scoring 2); every other
  // point is unscorable.
  const ParameterVector result = pattern_search(start, low, high, 1, [](const ParameterVector& p) {
    if (p[0] == 3000 && p[1] == 10) return 3.0;
    if (p[0] == 1000 && p[1] == 30) return 2.0;
    return p[0] == 1000 && p[1] == 10 ? kInf : std::nan("");
  });
  EXPECT_EQ(result, (ParameterVector{1000, 30, 10, 10, 10, 10}));
}

TEST(PatternSearch, DescendsABowlToItsMinimumWithinTheBounds) {
  const ParameterVector target = {1234.9, 4321, 200, 10, 300, 150};
  const ParameterVector start = {1000, 6000, 375, 325, 500, 250};
  const ParameterVector low = {200, 2000, 50, 270, 200, 100};
  const ParameterVector high = {6000, 20000, 450, 90, 800, 400};
  const ParameterVector result = pattern_search(start, low, high, 1, [&](const ParameterVector& p) {
    double sum = 0;
    for (int k = 0; k < 6; ++k) {
      const double d = (p[k] - target[k]) / (high[k] - low[k]);
      sum += d * d;
    }
    return sum;
  });
  // The last step is 0.5/1.6^9 of each span (about 0.7 %); the search ends within a step or two.
  for (int k : {kLambdaMilli, kWidth, kHeight, kTranslationX, kTranslationY}) {
    SCOPED_TRACE(k);
    EXPECT_NEAR(result[k], target[k], 0.015 * (high[k] - low[k]));
    EXPECT_GT(result[k], low[k]);
    EXPECT_LT(result[k], high[k]);
  }
  EXPECT_NEAR(result[kRotation], 10, 3);
}

TEST(TruncatedModel, TruncatesTowardZero) {
  FitState state;
  state.model = truncated_model({1234.9, 5999.999, 0.7, 359, -0.5, 2.5e10});
  EXPECT_EQ(state.model.lambda_milli, 1234);
  EXPECT_EQ(state.model.width, 5999);
  EXPECT_EQ(state.model.height, 0);
  EXPECT_EQ(state.model.rotation, 359);
  EXPECT_EQ(state.model.translation_x, 0);  // not -1: toward zero, not downward
  EXPECT_EQ(state.model.translation_y, std::numeric_limits<int>::max());
}
