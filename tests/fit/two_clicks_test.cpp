// Waiting for two clicks: a table of click sequences and what each step gives.
#include "fit/two_clicks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace meravel;

TEST(TwoClicks, EachSequenceGivesThePairOnItsSecondClick) {
  // Steps: 'a' arms, 'd' disarms, a digit clicks at (digit, 10 * digit). `pairs` lists, for each
  // step, the pair returned as "first,second" digits, or "-" for none.
  const struct {
    const char* what;
    std::string steps;
    std::vector<std::string> pairs;
    bool armed_after;
  } cases[] = {
      {"not armed: clicks are ignored", "12", {"-", "-"}, false},
      {"two clicks", "a12", {"-", "-", "12"}, false},
      {"a third click is ignored", "a123", {"-", "-", "12", "-"}, false},
      {"armed again after the first: it starts over", "a1a23", {"-", "-", "-", "-", "23"}, false},
      {"disarmed between the clicks", "a1d2", {"-", "-", "-", "-"}, false},
      {"waiting for the second", "a1", {"-", "-"}, true},
      {"twice in a row", "a12a34", {"-", "-", "12", "-", "-", "34"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TwoClicks clicks;
    ASSERT_EQ(c.steps.size(), c.pairs.size());
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const char step = c.steps[i];
      std::string got = "-";
      if (step == 'a') {
        clicks.arm();
        EXPECT_TRUE(clicks.awaiting_first());
      } else if (step == 'd') {
        clicks.disarm();
      } else {
        const int digit = step - '0';
        const auto pair = clicks.click(cv::Point(digit, 10 * digit));
        if (pair) {
          EXPECT_EQ(pair->first.y, 10 * pair->first.x);
          EXPECT_EQ(pair->second.y, 10 * pair->second.x);
          got = std::to_string(pair->first.x) + std::to_string(pair->second.x);
        }
      }
      EXPECT_EQ(got, c.pairs[i]) << "step " << i;
    }
    EXPECT_EQ(clicks.armed(), c.armed_after);
  }
}
