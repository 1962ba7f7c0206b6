// Measuring a whole series with no window: the automatic fit of every photograph in measuring
// order, each accepted fit saved as ENTER saves it.
#pragma once

#include <atomic>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "batch/left_out_files.h"
#include "fit/session_contract.h"
#include "scale/scale_request.h"
#include "series/measures_file.h"
#include "series/series_from_directory.h"

namespace meravel {

struct BatchSettings {
  std::string directory;  // the series directory, as for "Read!"
  SessionStart start;     // the main window's start values: threshold 131, lambda 1.1, ...
  unsigned jobs = 1;      // photographs decoded and fitted at once, at least 1
  bool again = false;     // measure photographs that already have a record too
  // The egg found by the automatic segmentation instead of the largest outline at the start's
  // threshold (fit_photograph's `segment`).
  bool automatic_segmentation = false;
  // Every egg the segmentation finds measured, each its own record (fit_clutch_photograph),
  // instead of the one it chooses; needs automatic_segmentation.
  bool every_egg = false;
  // Measure only the photographs whose last standing (not withdrawn) measurement was flagged.
  bool again_flagged = false;
  // The review sheet's path; empty: review.png in the series directory, written only when some
  // fit is flagged.
  std::string review_path;
  // Where each photograph's scale comes from: read from it as `scale` asks, or, when
  // `scale_from` names a photograph, read from that one (as `scale` asks, automatic when none)
  // and carried to every photograph. Neither: the scale.csv of the series, as ENTER.
  ScaleRequest scale;
  std::string scale_from;
};

// Where a run reports and what it depends on.
struct BatchEnvironment {
  std::ostream& out;       // the summary and the list of flagged fits
  std::ostream& progress;  // the progress, one line for each photograph that failed
  bool terminal = false;   // `progress` is a terminal: a bar instead of a line per photograph
  MeasuringClock clock = local_measuring_time;
  OrderSeed seed = time_order_seed;
  // Polled before each photograph is started: once it is set, no further photograph is begun,
  // the ones under way are finished and saved.
  const std::atomic<bool>* stop = nullptr;
};

struct FlaggedFit {
  unsigned position = 0;  // 1-based place in the measuring order
  std::vector<std::string> warnings;
  int egg = 0;  // the egg's index in a clutch measured egg by egg; 0 for one object
};

struct BatchSummary {
  bool series_found = false;  // the directory was set up as a series with photographs
  // The scale asked for cannot be had (the photograph to carry it from has none, or cannot be
  // read), or the series' scale.csv cannot be used: nothing was measured.
  bool scale_refused = false;
  size_t measured = 0;  // photographs of which a record (an egg's at least) was saved
  // Records saved, one per egg; of photographs with some egg saved, the eggs that were not.
  size_t eggs_measured = 0;
  size_t eggs_failed = 0;
  size_t skipped = 0;          // had a record already (and no --again)
  size_t failed = 0;           // could not be loaded, fitted or saved
  size_t not_started = 0;      // left when the run was stopped
  size_t no_capture_date = 0;  // measured photographs without an EXIF DateTime
  LeftOutFiles left_out;       // pictures in the directory that the name rules leave out
  std::vector<FlaggedFit> flagged;
  std::string review_sheet;  // the path written, empty when none
  // The record files' problem that stopped the run before anything was measured, else empty.
  std::string records_problem;
  bool stopped() const { return not_started > 0; }
};

// Sets the series up exactly like "Read!" (the same order file, the same name rules, the series
// lock), measures each photograph without a record (every one with `again`), in measuring order,
// `jobs` at once, and appends the records in measuring order with save_measurement. A photograph
// that cannot be measured is reported on one line and the run goes on.
// Whether a photograph still needs measuring is decided again when its record is saved, under
// the save's lock: one that another run saved meanwhile is skipped, not saved twice (without
// `again`). Record files that a save would refuse stop the run before anything is measured.
BatchSummary run_batch(const BatchSettings& settings, BatchEnvironment& environment);

// 0 when every photograph was measured or skipped, 1 when any failed or was left unmeasured by a
// stop, 2 when the directory is no series of photographs or the scale was refused (a wrong
// argument).
int batch_exit_status(const BatchSummary& summary);

}  // namespace meravel
