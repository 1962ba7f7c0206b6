#include "batch/photograph_fit.h"

#include <cmath>
#include <new>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "batch/quality_flags.h"
#include "batch/review_sheet.h"
#include "fit/auto_fit.h"
#include "fit/fit_W.h"
#include "fit/fit_warnings.h"
#include "fit/plausibility.h"
#include "fit/segmented_fit.h"
#include "series/photo_file.h"

namespace meravel {

namespace {

PhotographFit failed(std::string line) {
  PhotographFit fit;
  fit.failure = std::move(line);
  return fit;
}

}  // namespace

PhotographFit fit_photograph(const std::string& path, const SessionStart& start,
                             bool with_review_picture, std::ostream& errors, bool segment,
                             const ScaleRequest& scale) {
  try {
    PhotographFile file = load_photograph_file(path);
    if (file.status != PhotographFile::loaded) return failed(file.message);
    ScaleReading scale_reading = read_scale_of_photograph(file.image, scale);

    FitState state;
    Segmentation segmentation;
    if (segment) {
      // A disc read as the scale is a coin or a reference, never the egg.
      std::vector<cv::RotatedRect> not_eggs;
      if (scale_reading.found() && scale_reading.method == ScaleMethod::disc) {
        not_eggs.push_back(scale_reading.ellipse);
      }
      prepare_fit(state, file.image, start, [&segmentation, &not_eggs](FitState& s) {
        for (cv::RotatedRect& e : not_eggs) e.center -= cv::Point2f(s.source_origin_in_photo);
        segmentation = segment_photograph(s.source_image, 640, not_eggs);
        take_segmented_outline(s, segmentation);
      });
    } else {
      prepare_fit(state, file.image, start);
    }
    const cv::Size photo_size = file.image.size();
    file.image.release();  // the state holds the photograph (or its region) now
    if (segment && !segmentation.found()) {
      return failed("No egg found in the photograph " + path +
                    ": no object stands out from the ground with an egg's shape");
    }
    if (state.target.outline_contour.empty()) {
      return failed("No outline in the photograph " + path + " at threshold " +
                    std::to_string(state.threshold));
    }
    PhotographFit fit =
        measure_prepared_fit(state, path, photo_size, segment, segmentation.chosen_score(),
                             segmentation.runner_up_score(), with_review_picture, errors);
    fit.capture_date = file.capture_date;
    fit.scale = std::move(scale_reading);
    return fit;
  } catch (const cv::Exception& e) {
    return failed("The photograph " + path + " could not be measured: " + e.what());
  } catch (const std::bad_alloc&) {
    return failed("The photograph " + path + " could not be measured: out of memory");
  }
}

PhotographFit measure_prepared_fit(FitState& state, const std::string& path, cv::Size photo_size,
                                   bool segment, double candidate_score, double runner_up_score,
                                   bool with_review_picture, std::ostream& errors) {
  // The segmentation chose an egg: it is measured along its long axis.
  const AutoFitResult automatic = auto_fit(state, errors, segment ? kEggAxisTolerancePx : 0.0);
  if (!automatic.found) return failed("No fit found for the photograph " + path);
  state.model = automatic.model;
  // What ENTER saves after key a is the refresh's energy: the deviation energy of exactly these
  // values, which the automatic fit returns (the full-size view need not be composed for it).
  state.energy = automatic.energy;

  PhotographFit fit;
  fit.result = accepted_result(state);
  fit.result.photo_size = photo_size;
  fit.result.keys = "a";
  fit.result.segmented = segment;
  fit.result.candidate_score = candidate_score;
  fit.result.runner_up_score = runner_up_score;
  // A fit that cannot be a measurement is not recorded, so that the next run tries it again (with
  // another threshold, or --dark): the ground taken for the object, a model that cannot be
  // scored at all, or one placed by the stand-in alone because the fit to the edge did not
  // converge.
  FitWarnings found =
      fit_warnings(state.target, state.model, state.cut_offs(), state.energy, kStartRotation);
  if (found.outline_is_image_frame) {
    return failed("The outline is the frame of the image at threshold " +
                  std::to_string(state.threshold) +
                  " (a dark object on a light ground? try --dark): not recorded");
  }
  if (!std::isfinite(state.energy)) {
    return failed("The fitted model cannot be scored (energy inf): not recorded");
  }
  if (!automatic.edge_fit_converged) {
    return failed("The fit to the object's edge did not converge: not recorded");
  }
  const FitUncertainty& u = automatic.uncertainty;
  FitEvidence evidence =
      fit_evidence(state.source_image, state.target.outline_contour, state.model, u);
  // Another object that scored nearly as egg-like as the one measured may be the egg.
  if (segment && candidate_score > 0) {
    evidence.runner_up_score_ratio = runner_up_score / candidate_score;
  }
  add_evidence_warnings(found, evidence);
  fit.result.warnings = found;
  fit.uncertainty = u;
  fit.warnings = warning_phrases(found);
  if (with_review_picture) {
    fit.review_picture = review_picture(state.source_image, state.target.outline_contour,
                                        state.model, state.cut_offs());
  }
  return fit;
}

}  // namespace meravel
