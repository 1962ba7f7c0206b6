#include "series/details_file.h"

#include <cmath>

#include "series/csv_text.h"

const char kDetailsFileName[] = "measures_details.csv";
const char kProgramName[] = "Meravel";
const char kProgramVersion[] = MERAVEL_VERSION;

const std::vector<std::string> kDetailsColumns = {
    "file",
    "capture_date_original",
    "capture_date",
    "measured_at",
    "lambda",
    "energy_px",
    "lambda_milli",
    "width",
    "height_px",
    "rotation_deg",
    "translation_x_px",
    "translation_y_px",
    "threshold",
    "polarity",
    "roi_x_px",
    "roi_y_px",
    "roi_width_px",
    "roi_height_px",
    "cut_off_top_percent",
    "cut_off_bottom_percent",
    "image_width_px",
    "image_height_px",
    "keys",
    "length_px",
    "breadth_px",
    "breadth_position",
    "elongation",
    "volume_px3",
    "surface_px2",
    "length_mm",
    "breadth_mm",
    "volume_mm3",
    "surface_mm2",
    "px_per_mm",
    "scale_source",
    "warn_outline_touches_frame",
    "warn_outline_is_frame",
    "warn_energy_high",
    "warn_model_at_border",
    "warn_top_far_from_rotation",
    "flags",
    "program",
    "version",
    "scale_method",
    "px_per_mm_se",
    "scale_relative_se",
    "scale_from",
    "warn_scale_spacing_varies",
    "warn_scale_steep_angle",
};

namespace {

// Far more digits than the model values fix, and few enough to read.
constexpr int kDimensionDigits = 10;

std::string dimension(double value) { return number_with_digits(value, kDimensionDigits); }

const char* polarity_name(ObjectPolarity polarity) {
  return polarity == ObjectPolarity::kDarkOnLight ? "dark_on_light" : "light_on_dark";
}

const char* flag(bool set) { return set ? "1" : "0"; }

}  // namespace

std::string format_details_header() { return csv_record(kDetailsColumns); }

std::string format_details_row(const DetailsRecord& r) {
  std::vector<std::string> f = {
      r.file,
      r.capture_date_original,
      r.capture_date,
      iso8601_time(r.measured_at),
      round_trip_number(r.lambda_milli / 1000.0),
      round_trip_number(r.energy_px),
      std::to_string(r.lambda_milli),
      std::to_string(r.width),
      std::to_string(r.height_px),
      std::to_string(r.rotation_deg),
      std::to_string(r.translation_x_px),
      std::to_string(r.translation_y_px),
      std::to_string(r.threshold),
      polarity_name(r.polarity),
      std::to_string(r.roi_x_px),
      std::to_string(r.roi_y_px),
      std::to_string(r.roi_width_px),
      std::to_string(r.roi_height_px),
      std::to_string(r.cut_off_top_percent),
      std::to_string(r.cut_off_bottom_percent),
      std::to_string(r.image_width_px),
      std::to_string(r.image_height_px),
      r.keys,
  };
  const bool scaled =
      r.scale_source != ScaleSource::none && std::isfinite(r.px_per_mm) && r.px_per_mm > 0;
  if (r.dimensions_px) {
    const EggDimensions& px = *r.dimensions_px;
    for (double value :
         {px.length, px.breadth, px.breadth_position, px.elongation, px.volume, px.surface}) {
      f.push_back(dimension(value));
    }
  } else {
    f.insert(f.end(), 6, "");
  }
  if (r.dimensions_px && scaled) {
    const EggDimensions mm = egg_dimensions_in_mm(*r.dimensions_px, r.px_per_mm);
    for (double value : {mm.length, mm.breadth, mm.volume, mm.surface}) {
      f.push_back(dimension(value));
    }
  } else {
    f.insert(f.end(), 4, "");
  }
  f.push_back(scaled ? round_trip_number(r.px_per_mm) : "");
  f.push_back(scale_source_name(scaled ? r.scale_source : ScaleSource::none));
  const FitWarnings& w = r.warnings;
  for (bool set : {w.outline_touches_frame, w.outline_is_image_frame, w.energy_too_high,
                   w.model_reaches_border, w.top_far_from_reference}) {
    f.push_back(flag(set));
  }
  f.push_back(r.flags);
  f.push_back(r.program);
  f.push_back(r.version);
  f.push_back(!scaled ? "none" : r.scale_method.empty() ? "clicked" : r.scale_method);
  const bool known_error = scaled && std::isfinite(r.px_per_mm_se) && r.px_per_mm_se > 0;
  f.push_back(known_error ? round_trip_number(r.px_per_mm_se) : "");
  f.push_back(known_error ? dimension(r.px_per_mm_se / r.px_per_mm) : "");
  f.push_back(scaled ? r.scale_from : "");
  f.push_back(flag(scaled && w.scale_spacing_varies));
  f.push_back(flag(scaled && w.scale_steep_angle));
  return csv_record(f);
}

void set_details_dimensions(DetailsRecord& record, const ScaleLookup& scale) {
  record.dimensions_px =
      egg_dimensions_of_model(record.lambda_milli, record.width, record.height_px);
  if (!record.scale_method.empty()) return;
  record.scale_source = scale.source;
  record.px_per_mm = scale.source == ScaleSource::none ? 0.0 : scale.row.px_per_mm;
}
