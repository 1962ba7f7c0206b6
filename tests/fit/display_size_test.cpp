#include <gtest/gtest.h>

#include "fit/fit_W.h"

using namespace meravel;

TEST(DisplaySize, FitsWidthUnlessTallerThanFourToThree) {
  struct Case {
    int width, height;
    int display_width, display_height;
    bool fit_width;
  } const cases[] = {
      {4000, 3000, 800, 600, true},  // exactly 4:3 counts as wide
      {3000, 4000, 450, 600, false}, {1000, 500, 800, 400, true},
      {1600, 1200, 800, 600, true},  {1000, 751, 798, 600, false},  // 751 > 750
      {1, 700, 1, 600, false},                                      // 600/700 would be 0 wide
      {900, 1, 800, 1, true},                                       // 800/900 would be 0 high
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    bool fit_width = !c.fit_width;
    cv::Size size = display_size(c.width, c.height, &fit_width);
    EXPECT_EQ(size, cv::Size(c.display_width, c.display_height));
    EXPECT_EQ(fit_width, c.fit_width);
  }
}
