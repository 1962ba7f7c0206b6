#include "series/details_file.h"

#include <algorithm>
#include <cmath>

#include "series/csv_text.h"

const char kDetailsFileName[] = "measures_details.csv";
const char kProgramName[] = "Meravel";
const char kProgramVersion[] = MERAVEL_VERSION;

namespace {

// The shape with the pointed end up, the values' standard errors and the spread of the fits from
// other starts, appended after `version`.
const std::vector<std::string> kUncertaintyColumns = {
    "lambda_pointed_up", "lambda_se",     "length_se_px",     "breadth_se_px",     "length_se_mm",
    "breadth_se_mm",     "lambda_spread", "length_spread_px", "breadth_spread_px", "fit_starts",
};

// The columns appended after `version`, in order: the uncertainty's, then the later warning
// kinds' flags.
std::vector<std::string> appended_columns() {
  std::vector<std::string> columns = kUncertaintyColumns;
  const std::vector<FitWarningKind>& kinds = fit_warning_kinds();
  for (size_t k = kLeadingWarningKinds; k < kinds.size(); ++k) {
    columns.push_back(kinds[k].details_column);
  }
  return columns;
}

std::vector<std::string> with_appended(std::vector<std::string> leading) {
  for (std::string& column : appended_columns()) leading.push_back(std::move(column));
  return leading;
}

}  // namespace

const std::vector<std::string> kDetailsColumns = with_appended({
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
});

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
  const double lambda = r.lambda_milli / 1000.0;
  f.push_back(lambda > 0.0 ? round_trip_number(lambda_pointed_up(lambda)) : "");
  const FitUncertainty& u = r.uncertainty;
  const auto known = [](double value) { return std::isfinite(value) ? dimension(value) : ""; };
  f.push_back(known(u.lambda_se));
  f.push_back(known(u.length_se_px));
  f.push_back(known(u.breadth_se_px));
  f.push_back(scaled ? known(u.length_se_px / r.px_per_mm) : "");
  f.push_back(scaled ? known(u.breadth_se_px / r.px_per_mm) : "");
  f.push_back(known(u.lambda_spread));
  f.push_back(known(u.length_spread_px));
  f.push_back(known(u.breadth_spread_px));
  f.push_back(u.starts > 0 ? std::to_string(u.starts) : "");
  const std::vector<FitWarningKind>& kinds = fit_warning_kinds();
  for (size_t k = kLeadingWarningKinds; k < kinds.size(); ++k) {
    f.push_back(flag(r.warnings.*kinds[k].flag));
  }
  return csv_record(f);
}

double lambda_pointed_up(double lambda) { return std::max(lambda, 1.0 / lambda); }

void set_details_dimensions(DetailsRecord& record, const ScaleLookup& scale) {
  record.dimensions_px =
      egg_dimensions_of_model(record.lambda_milli, record.width, record.height_px);
  record.scale_source = scale.source;
  record.px_per_mm = scale.source == ScaleSource::none ? 0.0 : scale.row.px_per_mm;
}
