#include "report/repeatability.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace meravel;

namespace {

// Shrout & Fleiss (1979), Table 2: six targets, each rated by four judges.
const std::vector<std::vector<double>> kShroutFleiss = {{9, 2, 5, 8}, {6, 1, 3, 2},  {8, 4, 6, 8},
                                                        {7, 1, 2, 6}, {10, 5, 6, 9}, {6, 2, 4, 7}};

// ICC(1,1) the long way round, as a statistics text derives it: the total sum of squares minus
// the within-group sum gives the between-group sum; the variance components are estimated from
// the expected mean squares, E[MSB] = s2_within + k0 s2_between, and ICC = s2_between / (sum).
double literal_icc(const std::vector<std::vector<double>>& groups) {
  long double n = 0, total = 0, squared_sizes = 0;
  for (const auto& g : groups) {
    n += g.size();
    squared_sizes += g.size() * g.size();
    for (double x : g) total += x;
  }
  const long double grand = total / n;
  long double total_squares = 0, within = 0;
  for (const auto& g : groups) {
    long double sum = 0;
    for (double x : g) sum += x;
    const long double mean = sum / g.size();
    for (double x : g) {
      total_squares += (x - grand) * (x - grand);
      within += (x - mean) * (x - mean);
    }
  }
  const long double a = groups.size();
  const long double msb = (total_squares - within) / (a - 1);
  const long double msw = within / (n - a);
  const long double k0 = (n - squared_sizes / n) / (a - 1);
  const long double between_variance = (msb - msw) / k0;
  return static_cast<double>(between_variance / (between_variance + msw));
}

TEST(Repeatability, ShroutFleissPublishedExample) {
  const std::optional<Repeatability> r = one_way_icc(kShroutFleiss);
  ASSERT_TRUE(r);
  // Published: BMS 11.24, WMS 6.26, ICC(1,1) .17; F 1.79 and the 95 % interval -.13 to .72 as
  // the usual statistics packages give them for this table.
  EXPECT_NEAR(r->msb, 11.24, 0.005);
  EXPECT_NEAR(r->msw, 6.26, 0.005);
  EXPECT_NEAR(r->icc, 0.17, 0.005);
  EXPECT_NEAR(r->f, 1.79, 0.005);
  EXPECT_NEAR(r->lower, -0.13, 0.005);
  EXPECT_NEAR(r->upper, 0.72, 0.005);
  EXPECT_EQ(r->k0, 4.0);
  EXPECT_NEAR(r->icc, literal_icc(kShroutFleiss), 1e-9);
}

TEST(Repeatability, IccMeanAndSdMatchLiteralComputationOnRandomSeries) {
  std::mt19937 random(20261211);
  std::normal_distribution<double> egg(1.25, 0.08);
  std::normal_distribution<double> repeat(0.0, 0.02);
  std::uniform_int_distribution<int> repeats(2, 5);
  for (int series = 0; series < 50; ++series) {
    SCOPED_TRACE(series);
    std::vector<std::vector<double>> groups(3 + series % 40);
    for (auto& g : groups) {
      const double truth = egg(random);
      for (int k = repeats(random); k > 0; --k) g.push_back(truth + repeat(random));
    }
    const std::optional<Repeatability> r = one_way_icc(groups);
    ASSERT_TRUE(r);
    EXPECT_NEAR(r->icc, literal_icc(groups), 1e-9);
    // Each photograph's mean and SD against the textbook one-pass sums in long double.
    for (const auto& g : groups) {
      long double sum = 0, squares = 0;
      for (double x : g) {
        sum += x;
        squares += static_cast<long double>(x) * x;
      }
      const long double mean = sum / g.size();
      const ValueSummary s = summarise_values(g);
      EXPECT_NEAR(s.mean, static_cast<double>(mean), 1e-9);
      EXPECT_NEAR(
          s.sd, std::sqrt(static_cast<double>((squares - g.size() * mean * mean) / (g.size() - 1))),
          1e-9);
    }
    EXPECT_LT(r->lower, r->icc);
    EXPECT_GT(r->upper, r->icc);
  }
}

TEST(Repeatability, EdgeCases) {
  struct Case {
    const char* name;
    std::vector<std::vector<double>> groups;
    bool figures;
    double icc;
  };
  const Case cases[] = {
      {"no groups", {}, false, 0},
      {"one repeated photograph", {{1.1, 1.2}, {1.3}}, false, 0},
      {"single measurements do not enter", {{1.1, 1.2}, {1.3}, {1.5, 1.5}}, true, NAN},
      {"repeats agree exactly", {{1.1, 1.1}, {1.35, 1.35, 1.35}}, true, 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<Repeatability> r = one_way_icc(c.groups);
    ASSERT_EQ(r.has_value(), c.figures);
    if (!r) continue;
    if (std::isnan(c.icc)) {
      EXPECT_EQ(r->photographs, 2);
      EXPECT_EQ(r->measurements, 4);
      EXPECT_NEAR(r->icc, literal_icc({{1.1, 1.2}, {1.5, 1.5}}), 1e-9);
    } else {
      EXPECT_EQ(r->icc, c.icc);
      EXPECT_EQ(r->lower, 1.0);
      EXPECT_EQ(r->within_sd, 0.0);
    }
  }
}

TEST(Repeatability, UnequalGroupsUseTheMeanGroupSize) {
  // Sizes 2, 3 and 4: N = 9, k0 = (9 - 29/9) / 2 = 26/9.
  const std::optional<Repeatability> r =
      one_way_icc({{1.0, 1.2}, {1.5, 1.4, 1.6}, {0.9, 1.0, 1.1, 1.0}});
  ASSERT_TRUE(r);
  EXPECT_NEAR(r->k0, 26.0 / 9.0, 1e-12);
  // Within: 0.02 + 0.02 + 0.02 = 0.06 over 6 degrees of freedom.
  EXPECT_NEAR(r->within_sd, 0.1, 1e-12);
  EXPECT_NEAR(r->cv_percent, 100.0 * 0.1 / (10.7 / 9), 1e-9);
}

TEST(ValueSummary, MeanSdAndRangeByHand) {
  const ValueSummary s = summarise_values({1.0, 2.0, 4.0});
  EXPECT_EQ(s.n, 3);
  EXPECT_NEAR(s.mean, 7.0 / 3, 1e-15);
  EXPECT_NEAR(s.sd, std::sqrt((16.0 / 9 + 1.0 / 9 + 25.0 / 9) / 2), 1e-15);
  EXPECT_EQ(s.min, 1.0);
  EXPECT_EQ(s.max, 4.0);
  EXPECT_TRUE(std::isnan(summarise_values({1.5}).sd));
  EXPECT_TRUE(std::isnan(summarise_values({}).mean));
}

TEST(Agreement, LimitsAreMeanPlusMinus196Sd) {
  const Agreement g = limits_of_agreement({1.0, 2.0, 3.0});
  EXPECT_EQ(g.pairs, 3);
  EXPECT_DOUBLE_EQ(g.mean_difference, 2.0);
  EXPECT_DOUBLE_EQ(g.sd_difference, 1.0);
  EXPECT_NEAR(g.lower_limit, 2.0 - 1.96, 1e-4);
  EXPECT_NEAR(g.upper_limit, 2.0 + 1.96, 1e-4);
}

}  // namespace
