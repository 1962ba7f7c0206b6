#include "series/file_navigation.h"

namespace meravel {

unsigned next_file_index(unsigned current_index, std::size_t count) {
  return current_index + std::size_t{1} < count ? current_index + 1 : 0;
}

unsigned previous_file_index(unsigned current_index, std::size_t count) {
  return current_index == 0 ? static_cast<unsigned>(count - 1) : current_index - 1;
}

unsigned jump_file_index(int typed_position, std::size_t count) {
  if (typed_position < 1) return 0;
  if (static_cast<std::size_t>(typed_position) > count) return static_cast<unsigned>(count - 1);
  return static_cast<unsigned>(typed_position - 1);
}

}  // namespace meravel
