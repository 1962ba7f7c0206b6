// Moving the current file through a series of `count` entries (count > 0).
#pragma once

#include <cstddef>

namespace meravel {

// One step forward, from the last entry (or any index beyond it) to the first.
unsigned next_file_index(unsigned current_index, std::size_t count);

// One step back, from the first entry to the last.
unsigned previous_file_index(unsigned current_index, std::size_t count);

// The index a typed 1-based position selects: a number above `count` selects the last entry, a
// number below 1 (0, negative, text that reads as 0) the first.
unsigned jump_file_index(int typed_position, std::size_t count);

}  // namespace meravel
