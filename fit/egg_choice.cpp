#include "fit/egg_choice.h"

namespace meravel {

int next_unsaved_egg(const std::vector<bool>& saved, int current) {
  const int count = static_cast<int>(saved.size());
  for (int step = 1; step <= count; ++step) {
    const int n = ((current + step) % count + count) % count;
    if (!saved[n]) return n;
  }
  return -1;
}

}  // namespace meravel
