#include "batch/clutch_fit.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <opencv2/imgproc.hpp>

#include "batch/quality_flags.h"
#include "fit/click_geometry.h"
#include "fit/clutch.h"
#include "fit/cut_edge.h"
#include "fit/segmented_fit.h"
#include "series/photo_file.h"

namespace meravel {

namespace {

// The share of an egg's longer side that its region reaches beyond it on every side: the model's
// ends and the ground next to the edge stay in view.
constexpr double kEggMargin = 0.2;

ClutchPhotographFit failed(std::string line) {
  ClutchPhotographFit fit;
  fit.failure = std::move(line);
  return fit;
}

}  // namespace

ClutchPhotographFit fit_clutch_photograph(const std::string& path, const SessionStart& start,
                                          bool with_review_picture, std::ostream& errors,
                                          const ScaleRequest& scale) {
  try {
    PhotographFile file = load_photograph_file(path);
    if (file.status != PhotographFile::loaded) return failed(file.message);
    const ScaleReading scale_reading = read_scale_of_photograph(file.image, scale);
    // The start's region, as the session crops to it, is where the eggs are looked for.
    const cv::Rect area = !start.region.empty() && region_fits(start.region, file.image.size())
                              ? start.region
                              : cv::Rect(cv::Point(0, 0), file.image.size());
    std::vector<cv::RotatedRect> not_eggs;
    if (scale_reading.found() && scale_reading.method == ScaleMethod::disc) {
      not_eggs.push_back(scale_reading.ellipse);
      not_eggs.back().center -= cv::Point2f(area.tl());
    }
    const Segmentation segmentation =
        segment_photograph(file.image(area), 640, not_eggs, /*trace_all=*/true);
    const Clutch clutch = find_clutch(segmentation, area.size());
    if (clutch.eggs.empty()) {
      return failed("No egg found in the photograph " + path +
                    ": no object stands out from the ground with an egg's shape");
    }

    ClutchPhotographFit result;
    result.cut_by_border = clutch.cut_by_border;
    const int count = static_cast<int>(clutch.eggs.size());
    for (int i = 0; i < count; ++i) {
      const ClutchEgg& egg = clutch.eggs[i];
      const int margin =
          static_cast<int>(std::ceil(kEggMargin * std::max(egg.box_px.width, egg.box_px.height))) +
          2;
      SessionStart egg_start = start;
      egg_start.region = (cv::Rect(egg.box_px.x - margin, egg.box_px.y - margin,
                                   egg.box_px.width + 2 * margin, egg.box_px.height + 2 * margin) &
                          cv::Rect(cv::Point(0, 0), area.size())) +
                         area.tl();
      // The egg as the segmentation's one choice, in the pixels of its region.
      Segmentation chosen;
      chosen.candidates.push_back({});
      chosen.candidates[0].outline = egg.outline;
      chosen.chosen = 0;
      chosen.threshold = egg.threshold;
      chosen.polarity = egg.polarity;
      FitState state;
      prepare_fit(state, file.image, egg_start, [&](FitState& s) {
        const cv::Point shift = area.tl() - s.source_origin_in_photo;
        for (cv::Point& p : chosen.candidates[0].outline) p += shift;
        take_segmented_outline(s, chosen);
      });
      // The cut from a touching egg is no edge of the photograph: the fit rests on the egg's own.
      std::vector<cv::Point> cut = egg.cut;
      for (cv::Point& p : cut) p += area.tl() - state.source_origin_in_photo;
      leave_cut_out(state.target, cut);
      PhotographFit fit = measure_prepared_fit(state, path, file.image.size(), true, egg.score, 0.0,
                                               with_review_picture, errors);
      if (fit.measured() && egg.touching) {
        fit.result.warnings.egg_touching = true;
        fit.warnings = warning_phrases(fit.result.warnings);
      }
      fit.capture_date = file.capture_date;
      fit.scale = scale_reading;
      fit.egg_index = i + 1;
      fit.egg_count = count;
      fit.egg_centre_px = cv::Point(static_cast<int>(std::lround(egg.centre_px.x)),
                                    static_cast<int>(std::lround(egg.centre_px.y))) +
                          area.tl();
      fit.egg_box_px = egg.box_px + area.tl();
      result.eggs.push_back(std::move(fit));
    }
    return result;
  } catch (const cv::Exception& e) {
    return failed("The photograph " + path + " could not be measured: " + e.what());
  } catch (const std::bad_alloc&) {
    return failed("The photograph " + path + " could not be measured: out of memory");
  }
}

}  // namespace meravel
