// The record of an accepted fit: what a session or a batch fit hands back, as the details file's
// row of named values.
#pragma once

#include <string>

#include "fit/session_contract.h"
#include "series/details_file.h"

// The details row of an accepted session's `result` for the photograph `name` (relative to the
// series directory): the six model values, lambda and energy, threshold, the region, the cut-offs,
// the whole photograph's size and the session's keys. The region is the image the fit was made on
// in pixels of the whole photograph: the session's region, or the whole photograph when it had
// none (the model's translation counts from that region's corner). Capture dates, measuring time,
// dimensions and scale are the save's part (save_measurement_with_details).
// The polarity and the warnings are the session's, and so is a scale key c found or key y carried
// over (its method, value, standard error and source; scale.csv is then not read).
DetailsRecord details_record_of(const SessionResult& result, const std::string& name);
