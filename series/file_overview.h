// The file overview: one line per series entry with its count of saved measurements.
#pragma once

#include <string>
#include <vector>

#include "series/series_state.h"

namespace meravel {

// File name of the measures file inside the series directory.
extern const char kMeasuresFileName[];

// Name of the anchor placed three entries before the current one; the view scrolls to it.
extern const char kOverviewAnchor[];

// For each entry, the number of lines of the measures file at `measures_path` whose text before
// the first ";" (the whole line when it holds none) equals the entry's name byte for byte. The
// file is read once; lines end at LF, a last line without one counts too, and a read error ends
// the reading with the lines read so far counted. A missing file, or one that is not a regular
// file (a FIFO would block the window), gives 0 for every entry.
std::vector<int> count_measures(const std::string& measures_path,
                                const std::vector<SeriesEntry>& entries);

// The overview's HTML: "File P (M measures)<br>" for the 1-based position P of each entry with
// its count M, the line of `current_index` bold with "&#60;-- " behind the count, and the anchor
// directly in front of the line three entries before the current one, when there is such a line.
// Each of `notices` (plain text) comes first, as a bold line of its own. An entry whose `eggs` is
// above 0 (a clutch measured egg by egg) says so after its count: "File P (M measures, E eggs)".
std::string overview_html(const std::vector<int>& counts, unsigned current_index,
                          const std::vector<std::string>& notices = {},
                          const std::vector<int>& eggs = {});

}  // namespace meravel
