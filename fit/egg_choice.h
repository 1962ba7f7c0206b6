// Several eggs in one photograph, measured in turn: which egg comes next. The eggs themselves are
// found and numbered by find_clutch (fit/clutch.h), as the batch finds them.
//
// Computing core: plain values, no window.
#pragma once

#include <vector>

namespace meravel {

// The position of the next egg after `current` (wrapping round) whose `saved` is false; -1 when
// every egg is saved.
int next_unsaved_egg(const std::vector<bool>& saved, int current);

}  // namespace meravel
