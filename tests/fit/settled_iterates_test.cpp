// When a fit that ran to its iteration cap counts as settled: its last iterates within a tenth of
// its standard errors of the last one, by hand-made sequences of iterates.
#include "fit/settled_iterates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace meravel;

namespace {

using Iterate = std::array<double, 6>;

// Iterates around `centre`, the k-th moved by `move(k)` in the unknown `which`.
template <typename Move>
std::vector<Iterate> iterates(int count, int which, Move move) {
  const Iterate centre{0.1, 150.0, 200.0, 1.2, 300.0, 250.0};
  std::vector<Iterate> out(count, centre);
  for (int k = 0; k < count; ++k) out[k][which] += move(k);
  return out;
}

}  // namespace

TEST(IteratesSettled, CyclesWithinATenthOfTheErrorsOnly) {
  const Iterate errors{0.004, 0.3, 0.3, 0.001, 0.05, 0.05};
  const auto cycle = [](double amplitude) {
    return [amplitude](int k) { return k % 2 ? amplitude : -amplitude; };
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    std::vector<Iterate> last;
    Iterate errors;
    bool settled;
  } const cases[] = {
      // The centre's x swinging by 0.002 px between two points, its error 0.05 px.
      {"a 2-cycle of 0.002 px", iterates(40, 4, cycle(0.001)), errors, true},
      {"a 2-cycle of half an error", iterates(40, 4, cycle(0.0125)), errors, false},
      {"a 2-cycle in lambda of a twentieth of its error", iterates(8, 0, cycle(0.0001)), errors,
       true},
      {"a drift of a twentieth of an error a step",
       iterates(40, 1, [](int k) { return 0.015 * k; }), errors, false},
      {"a cycle that was wide long ago",
       iterates(40, 2, [](int k) { return k < 30 ? (k % 2 ? 1.0 : -1.0) : 0.001 * (k % 2); }),
       errors, true},
      {"too few iterates to tell", iterates(kSettledIterates - 1, 4, cycle(0.0)), errors, false},
      {"an error not known",
       iterates(40, 4, cycle(0.0)),
       {0.004, 0.3, nan, 0.001, 0.05, 0.05},
       false},
      {"an error of zero", iterates(40, 4, cycle(0.0)), {0.004, 0.3, 0.3, 0.0, 0.05, 0.05}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(iterates_settled(c.last, c.errors), c.settled);
  }
}
