// One photograph measured with no window: the steps of a session in which key a and then ENTER
// are pressed, from the same start values.
#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "fit/fit_W.h"
#include "fit/fit_uncertainty.h"
#include "fit/session_contract.h"
#include "scale/scale_request.h"
#include "series/exif_date.h"

namespace meravel {

struct PhotographFit {
  // Empty when measured; otherwise the one line saying why not (the photograph cannot be loaded,
  // it shows no outline at the threshold, no fit was found, the outline is the image's frame, the
  // fitted model cannot be scored). Such a fit is no measurement and is not recorded.
  std::string failure;
  // When measured: what the session hands back on ENTER after key a.
  SessionResult result;
  std::vector<std::string> warnings;  // warning_phrases of result.warnings
  FitUncertainty uncertainty;         // of the saved values
  CaptureDate capture_date;           // of the bytes loaded for the fit
  cv::Mat review_picture;             // when asked for: the fit's review_picture
  ScaleReading scale;                 // read as `scale` asked, from the whole photograph
  // An egg of a clutch measured egg by egg (fit_clutch_photograph): its 1-based index in the
  // clutch's order, the number of eggs, its centre and bounding box in pixels of the whole
  // photograph; egg_count 0 for a photograph measured as one object.
  int egg_index = 0;
  int egg_count = 0;
  cv::Point egg_centre_px;
  cv::Rect egg_box_px;

  bool measured() const { return failure.empty(); }
};

// Loads the photograph at `path` (load_photograph_file: read once, upright), sets the fit up from
// `start` (prepare_fit: rotation 325, the region and cut-offs of `start`), runs the automatic fit
// of key a from there with the session's Rotation as its reference, and takes the energy as the
// refresh after key a computes it. The automatic fit's own messages go to `errors`. Touches no
// shared state: any number of calls may run at once, each on its own photograph. The scale is
// read from the whole photograph as `scale` asks (read_scale), before the fit.
// With `segment`, the outline is the egg that segment_photograph chooses in the photograph (or
// its region) instead of the largest outline at the start's threshold and polarity, which it
// replaces by those it found; a photograph with no plausible egg is not measured.
PhotographFit fit_photograph(const std::string& path, const SessionStart& start,
                             bool with_review_picture, std::ostream& errors, bool segment = false,
                             const ScaleRequest& scale = {});

// fit_photograph's steps once `state` is set up on the photograph at `path` (of `photo_size`)
// with its outline: the automatic fit (along the long axis when `segment`), the checks that refuse
// a fit, the warnings with the candidate's and the runner-up's scores, the review picture.
PhotographFit measure_prepared_fit(FitState& state, const std::string& path, cv::Size photo_size,
                                   bool segment, double candidate_score, double runner_up_score,
                                   bool with_review_picture, std::ostream& errors);

}  // namespace meravel
