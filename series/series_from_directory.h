// Turning a directory into a measurement series.
#pragma once

#include <functional>
#include <string>

#include "series/series_state.h"

namespace meravel {

// The line written when there is no series to work on.
extern const char kNoSeriesMessage[];

// Seed of a newly drawn random order.
using OrderSeed = std::function<unsigned()>;

// The real seed: the calendar time in whole seconds.
unsigned time_order_seed();

// Whether a directory entry's name makes it an image of the series: six characters or more,
// ending exactly in ".jpg" or ".JPG". Only regular files (or links to them) with such names are
// taken; set_up_series leaves out directories, FIFOs and devices.
bool is_series_image_name(const std::string& name);

// Whether a name can be stored in the two semicolon files: no ";", no CR, no LF.
bool is_storable_name(const std::string& name);

// Why a name cannot be a file of the series directory, as the start of the line that leaves it
// out (the line goes on with the name), or nullptr when it can: the path of a file is the
// directory, "/" and the name, so a name with "/", "\\" or a NUL byte, an empty name, "." and
// ".." would lead elsewhere.
const char* series_name_problem(const std::string& name);

enum class SetupOutcome {
  no_directory_text,      // nothing was entered: nothing else changed
  invalid_directory,      // the listing cannot be opened: the previous series stays
  no_images,              // no image names: the series is empty
  order_file_unreadable,  // the order file exists but cannot be read: the series is empty
  complete,               // the series is sorted into measuring order, current_index 0
  // Complete, but the newly drawn order could not be written to the order file: it holds for
  // this set-up only, and the next one draws another.
  complete_order_not_stored,
};

// Sets `state` up from `directory`, a file-system path in the platform's file-name encoding.
// series_directory always becomes `directory`. From a directory whose listing opens, file_list
// and current_index are replaced. Lists the directory, creates the random order file when there
// is none (keys drawn with `seed()`) or reads it, and sorts by key. Reading it, each line that
// adds nothing is reported with its number, a name listed again is reported and taken once, and
// an order file that lists no photograph says so (the series is then empty). A name with '"' is
// left out with one line, from the listing or the order file. A name that cannot be a file
// of the series (series_name_problem), from the listing or the order file, is left out with one
// line; so is a listed entry that is not a regular file or whose name is not storable. Status
// lines go to standard output, a failing closedir to standard error.
SetupOutcome set_up_series(SeriesState& state, const std::string& directory,
                           const OrderSeed& seed = time_order_seed);

}  // namespace meravel
