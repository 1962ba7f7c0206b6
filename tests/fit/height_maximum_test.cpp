#include "fit/height_maximum.h"

#include <gtest/gtest.h>

using namespace meravel;

// The diagonal rounded up: whole where the photograph's sides make a Pythagorean triple, one
// pixel more as soon as the square root is not whole, and exact far beyond 2^31 / 2 squared.
TEST(HeightMaximum, IsTheDiagonalRoundedUp) {
  struct Case {
    int width, height, maximum;
  } const cases[] = {
      {800, 600, 1000},       // 3-4-5: whole
      {1000, 500, 1119},      // 1118.03
      {300, 200, 361},        // 360.56
      {1, 1, 2},              // 1.41
      {0, 0, 0},              // no photograph
      {0, 240, 240},          // one side only
      {6000, 4000, 7212},     // 7211.10
      {46341, 46341, 65537},  // squares beyond 32 bits: 65536.07
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
    EXPECT_EQ(height_maximum(c.width, c.height), c.maximum);
  }
}
