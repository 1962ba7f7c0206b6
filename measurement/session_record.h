// The record of an accepted fit: what a session or a batch fit hands back, as the details file's
// row of named values.
#pragma once

#include <optional>
#include <set>
#include <string>

#include "fit/egg_dimensions.h"
#include "fit/fit_uncertainty.h"
#include "fit/fit_warnings.h"
#include "fit/session_contract.h"
#include "series/details_file.h"

namespace meravel {

// The details row of an accepted session's `result` for the photograph `name` (relative to the
// series directory): the six model values, lambda and energy, threshold, the region, the cut-offs,
// the whole photograph's size, the session's keys and the egg's dimensions of the model values. The
// region is the image the fit was made on in pixels of the whole photograph: the session's region,
// or the whole photograph when it had none (the model's translation counts from that region's
// corner). Capture dates, measuring time and the scale are the save's part
// (save_measurement_with_details). The polarity and the warnings are the session's, and so is a
// scale key c found or key y carried over (its method, value, standard error and source; scale.csv
// is then not read).
DetailsRecord details_record_of(const SessionResult& result, const std::string& name);

// The details file's names of what the core hands back: the warn_ columns of the warnings that
// hold in `warnings` (those with a column), the standard errors and spreads, and the dimensions of
// the model values (none for a model without extent).
std::set<std::string> held_warning_columns(const FitWarnings& warnings);
DetailsUncertainty details_uncertainty_of(const FitUncertainty& uncertainty);
std::optional<DetailsDimensions> details_dimensions_of_model(int lambda_milli, int width,
                                                             int height_px);

// Sets the dimensions of `record` from its model values (lambda_milli, width, height_px) and its
// scale from `scale`, the lookup for the record's photograph (set_details_scale).
void set_details_dimensions(DetailsRecord& record, const ScaleLookup& scale);

}  // namespace meravel
