// The table of ranges and start values: a row is found by its parameter, and every start value
// lies in its range.
#include "fit/parameter_table.h"

#include <gtest/gtest.h>

#include "fit/session_contract.h"

using namespace meravel;

TEST(ParameterTable, EachRowStandsAtItsParametersPlace) {
  const int rows = static_cast<int>(sizeof kParameterRanges / sizeof kParameterRanges[0]);
  EXPECT_EQ(rows, static_cast<int>(FitParameter::kThreshold) + 1);
  for (int i = 0; i < rows; ++i) {
    EXPECT_EQ(static_cast<int>(kParameterRanges[i].parameter), i) << i;
  }
}

// A 1000 x 500 image, its maxima checked by hand.
TEST(ParameterTable, MaximaOnAnImage) {
  const struct {
    FitParameter parameter;
    int maximum;
  } cases[] = {
      {FitParameter::kLambdaMilli, 6000},  {FitParameter::kWidth, 20000},
      {FitParameter::kHeight, 1119},       {FitParameter::kRotation, 360},
      {FitParameter::kTranslationX, 1000}, {FitParameter::kTranslationY, 500},
      {FitParameter::kCutOffTop, 49},      {FitParameter::kCutOffBottom, 49},
      {FitParameter::kShowInput, 100},     {FitParameter::kThreshold, 250},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.parameter));
    EXPECT_EQ(parameter_maximum(c.parameter, 1000, 500), c.maximum);
  }
}

TEST(ParameterTable, StartValuesLieInTheirRanges) {
  const SessionStart start;
  EXPECT_LE(kStartThreshold, parameter_maximum(FitParameter::kThreshold, 1, 1));
  EXPECT_LE(lambda_milli_of(kStartLambda), kLambdaMilliMax);
  EXPECT_GE(lambda_milli_of(kStartLambda), 1);
  EXPECT_LE(kStartRotation, kRotationMax);
  EXPECT_LE(kStartShowInput, kShowInputMax);
  EXPECT_LE(start.cut_offs.top, kCutOffMax);
  EXPECT_LE(start.cut_offs.bottom, kCutOffMax);
}
