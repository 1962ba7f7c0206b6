#include "measurement/session_record.h"

#include <cmath>

namespace meravel {

DetailsRecord details_record_of(const SessionResult& result, const std::string& name) {
  DetailsRecord record;
  record.file = name;
  record.energy_px = result.energy;
  record.lambda_milli = result.model.lambda_milli;
  record.width = result.model.width;
  record.height_px = result.model.height;
  record.rotation_deg = result.model.rotation;
  record.translation_x_px = result.model.translation_x;
  record.translation_y_px = result.model.translation_y;
  record.threshold = result.threshold;
  record.dark_on_light = result.polarity == ObjectPolarity::kDarkOnLight;
  const bool has_region = result.region.width > 0 && result.region.height > 0;
  const cv::Rect region = has_region ? result.region : cv::Rect(cv::Point(0, 0), result.photo_size);
  record.roi_x_px = region.x;
  record.roi_y_px = region.y;
  record.roi_width_px = region.width;
  record.roi_height_px = region.height;
  record.cut_off_top_percent = result.cut_offs.top;
  record.cut_off_bottom_percent = result.cut_offs.bottom;
  record.image_width_px = result.photo_size.width;
  record.image_height_px = result.photo_size.height;
  record.keys = result.keys;
  FitWarnings warnings = result.warnings;
  if (result.segmented) {
    record.segmentation = "automatic";
    record.candidate_score = result.candidate_score;
    record.runner_up_score = result.runner_up_score;
  }
  record.uncertainty = details_uncertainty_of(result.uncertainty);
  // A scale key c found or key y carried over holds for this photograph instead of scale.csv's.
  if (result.scale.found()) {
    record.scale_method = result.scale.method;
    record.scale_source =
        result.scale.method == "carried" ? ScaleSource::series : ScaleSource::photograph;
    record.px_per_mm = result.scale.px_per_mm;
    record.px_per_mm_se = result.scale.px_per_mm_se;
    record.scale_from = result.scale.from;
    warnings.scale_spacing_varies = result.scale.spacing_varies;
    warnings.scale_steep_angle = result.scale.steep_angle;
  }
  record.warnings_held = held_warning_columns(warnings);
  record.dimensions_px =
      details_dimensions_of_model(record.lambda_milli, record.width, record.height_px);
  // An egg chosen among several in the window is recorded as the batch records each egg of a
  // clutch; a photograph of one egg keeps these columns empty.
  if (result.egg.count > 1) {
    record.egg_index = result.egg.index;
    record.egg_count = result.egg.count;
    record.egg_centre_px = cv::Point(static_cast<int>(std::lround(result.egg.centre_in_photo.x)),
                                     static_cast<int>(std::lround(result.egg.centre_in_photo.y)));
    record.egg_box_px = result.egg.box_in_photo;
  }
  return record;
}

std::set<std::string> held_warning_columns(const FitWarnings& warnings) {
  std::set<std::string> columns;
  for (const FitWarningKind& kind : fit_warning_kinds()) {
    if (kind.column && warnings.*kind.flag) columns.insert(kind.column);
  }
  return columns;
}

DetailsUncertainty details_uncertainty_of(const FitUncertainty& u) {
  DetailsUncertainty d;
  d.lambda_se = u.lambda_se;
  d.length_se_px = u.length_se_px;
  d.breadth_se_px = u.breadth_se_px;
  d.lambda_spread = u.lambda_spread;
  d.length_spread_px = u.length_spread_px;
  d.breadth_spread_px = u.breadth_spread_px;
  d.starts = u.starts;
  return d;
}

std::optional<DetailsDimensions> details_dimensions_of_model(int lambda_milli, int width,
                                                             int height_px) {
  const std::optional<EggDimensions> egg = egg_dimensions_of_model(lambda_milli, width, height_px);
  if (!egg) return std::nullopt;
  DetailsDimensions d;
  d.length = egg->length;
  d.breadth = egg->breadth;
  d.breadth_position = egg->breadth_position;
  d.elongation = egg->elongation;
  d.volume = egg->volume;
  d.surface = egg->surface;
  return d;
}

void set_details_dimensions(DetailsRecord& record, const ScaleLookup& scale) {
  record.dimensions_px =
      details_dimensions_of_model(record.lambda_milli, record.width, record.height_px);
  set_details_scale(record, scale);
}

}  // namespace meravel
