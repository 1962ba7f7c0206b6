#include "fit/egg_choice.h"

#include <gtest/gtest.h>

#include <vector>

using namespace meravel;

namespace {

TEST(EggChoice, NextUnsavedEggWrapsRoundAndEndsWhenAllAreSaved) {
  struct Case {
    std::vector<bool> saved;
    int current, next;
  };
  const Case cases[] = {
      {{false, false, false}, 0, 1}, {{false, true, false}, 0, 2}, {{false, true, true}, 2, 0},
      {{true, true, false}, 2, 2},   {{true, true, true}, 1, -1},  {{}, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.current);
    EXPECT_EQ(next_unsaved_egg(c.saved, c.current), c.next);
  }
}

}  // namespace
