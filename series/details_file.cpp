#include "series/details_file.h"

#include <algorithm>
#include <cmath>

#include "series/csv_text.h"

namespace meravel {

const char kDetailsFileName[] = "measures_details.csv";
const char kProgramName[] = "Meravel";
const char kProgramVersion[] = MERAVEL_VERSION;

namespace {

// Far more digits than the model values fix, and few enough to read.
constexpr int kDimensionDigits = 10;

// A score of 0..1 to three decimals or so.
constexpr int kScoreDigits = 3;

std::string dimension(double value) { return number_with_digits(value, kDimensionDigits); }

const char* polarity_name(bool dark_on_light) {
  return dark_on_light ? "dark_on_light" : "light_on_dark";
}

bool scaled(const DetailsRecord& r) {
  return r.scale_source != ScaleSource::none && std::isfinite(r.px_per_mm) && r.px_per_mm > 0;
}

// A dimension of the model in pixels; empty for a model without extent.
template <double DetailsDimensions::*field>
std::string in_px(const DetailsRecord& r) {
  return r.dimensions_px ? dimension((*r.dimensions_px).*field) : "";
}

// The same in millimetres; empty too without a scale.
// A length, breadth, volume or surface in millimetres: the pixels divided by the scale to the
// power `power`. Empty too without a scale.
template <double DetailsDimensions::*field, int power>
std::string in_mm(const DetailsRecord& r) {
  if (!r.dimensions_px || !scaled(r)) return "";
  const double s = r.px_per_mm;
  const double divisor = power == 1 ? s : power == 2 ? s * s : s * s * s;
  return dimension((*r.dimensions_px).*field / divisor);
}

template <int DetailsRecord::*field>
std::string whole(const DetailsRecord& r) {
  return std::to_string(r.*field);
}

template <std::string DetailsRecord::*field>
std::string text(const DetailsRecord& r) {
  return r.*field;
}

// The egg-likeness of the object measured and of the next best; empty unless the automatic
// segmentation chose it.
std::string candidate_score(const DetailsRecord& r) {
  return r.segmentation == "automatic" ? number_with_digits(r.candidate_score, kScoreDigits) : "";
}

std::string runner_up_score(const DetailsRecord& r) {
  return r.segmentation == "automatic" ? number_with_digits(r.runner_up_score, kScoreDigits) : "";
}

// lambda_pointed_up of the saved lambda; empty for a model without lambda.
std::string pointed_up(const DetailsRecord& r) {
  const double lambda = r.lambda_milli / 1000.0;
  return lambda > 0.0 ? round_trip_number(lambda_pointed_up(lambda)) : "";
}

// A standard error or a spread; empty where it is not known (a fit by hand).
template <double DetailsUncertainty::*field>
std::string known(const DetailsRecord& r) {
  const double value = r.uncertainty.*field;
  return std::isfinite(value) ? dimension(value) : "";
}

// A length's standard error in millimetres: the fit's, in pixels, taken to millimetres, and the
// scale's relative error of the length itself, added in quadrature (a scale without a known error
// adds none). Empty without a scale.
template <double DetailsUncertainty::*se_px, double DetailsDimensions::*length_px>
std::string in_mm_se(const DetailsRecord& r) {
  if (!scaled(r) || !r.dimensions_px) return "";
  const double fit_mm = r.uncertainty.*se_px / r.px_per_mm;
  const double relative_scale =
      std::isfinite(r.px_per_mm_se) && r.px_per_mm_se > 0 ? r.px_per_mm_se / r.px_per_mm : 0.0;
  const double scale_mm = (*r.dimensions_px).*length_px / r.px_per_mm * relative_scale;
  const double value = std::sqrt(fit_mm * fit_mm + scale_mm * scale_mm);
  return std::isfinite(value) ? dimension(value) : "";
}

std::string fit_starts(const DetailsRecord& r) {
  return r.uncertainty.starts > 0 ? std::to_string(r.uncertainty.starts) : "";
}

// Where the scale came from: a scale.csv row's is a clicked one.
std::string scale_method(const DetailsRecord& r) {
  if (!scaled(r)) return "none";
  return r.scale_method.empty() ? "clicked" : r.scale_method;
}

// The scale's standard error, and the same relative to the scale; empty when not known.
bool known_scale_error(const DetailsRecord& r) {
  return scaled(r) && std::isfinite(r.px_per_mm_se) && r.px_per_mm_se > 0;
}

std::string px_per_mm_se(const DetailsRecord& r) {
  return known_scale_error(r) ? round_trip_number(r.px_per_mm_se) : "";
}

std::string scale_relative_se(const DetailsRecord& r) {
  return known_scale_error(r) ? dimension(r.px_per_mm_se / r.px_per_mm) : "";
}

std::string scale_from(const DetailsRecord& r) { return scaled(r) ? r.scale_from : ""; }

// An egg of a clutch's place; empty for a photograph measured as one object.
template <int DetailsRecord::*field>
std::string of_egg(const DetailsRecord& r) {
  return r.egg_count > 0 ? std::to_string(r.*field) : "";
}

template <int cv::Point::*coordinate, cv::Point DetailsRecord::*point>
std::string egg_place(const DetailsRecord& r) {
  return r.egg_count > 0 ? std::to_string((r.*point).*coordinate) : "";
}

template <int cv::Rect::*field>
std::string egg_box(const DetailsRecord& r) {
  return r.egg_count > 0 ? std::to_string(r.egg_box_px.*field) : "";
}

// The columns of the fit's warnings, written after scale_source.
const char* const kWarningColumnsWithFit[] = {
    "warn_outline_touches_frame", "warn_outline_is_frame",      "warn_energy_high",
    "warn_model_at_border",       "warn_top_far_from_rotation",
};

// The columns of the warnings added later, appended after every column above them so that an
// older file's header stays a prefix.
const char* const kWarningColumnsAtEnd[] = {
    "warn_length_below_breadth", "warn_too_small",         "warn_lambda_not_egg_like",
    "warn_area_mismatch",        "warn_not_convex",        "warn_starts_disagree",
    "warn_runner_up_close",      "warn_low_contrast",      "warn_contrast_steps",
    "warn_scale_spacing_varies", "warn_scale_steep_angle", "warn_egg_touching",
};

template <size_t count>
void add_warning_columns(std::vector<DetailsColumn>& columns, const char* const (&names)[count],
                         const char* since) {
  for (const char* name : names) columns.push_back({name, nullptr, since, true});
}

std::vector<DetailsColumn> make_details_columns() {
  std::vector<DetailsColumn> columns = {
      {"file", text<&DetailsRecord::file>, "1.7"},
      {"capture_date_original", text<&DetailsRecord::capture_date_original>, "1.7"},
      {"capture_date", text<&DetailsRecord::capture_date>, "1.7"},
      {"measured_at", [](const DetailsRecord& r) { return iso8601_time(r.measured_at); }, "1.7"},
      {"lambda", [](const DetailsRecord& r) { return round_trip_number(r.lambda_milli / 1000.0); },
       "1.7"},
      {"energy_px", [](const DetailsRecord& r) { return round_trip_number(r.energy_px); }, "1.7"},
      {"lambda_milli", whole<&DetailsRecord::lambda_milli>, "1.7"},
      {"width", whole<&DetailsRecord::width>, "1.7"},
      {"height_px", whole<&DetailsRecord::height_px>, "1.7"},
      {"rotation_deg", whole<&DetailsRecord::rotation_deg>, "1.7"},
      {"translation_x_px", whole<&DetailsRecord::translation_x_px>, "1.7"},
      {"translation_y_px", whole<&DetailsRecord::translation_y_px>, "1.7"},
      {"threshold", whole<&DetailsRecord::threshold>, "1.7"},
      {"polarity",
       [](const DetailsRecord& r) -> std::string { return polarity_name(r.dark_on_light); }, "1.7"},
      {"roi_x_px", whole<&DetailsRecord::roi_x_px>, "1.7"},
      {"roi_y_px", whole<&DetailsRecord::roi_y_px>, "1.7"},
      {"roi_width_px", whole<&DetailsRecord::roi_width_px>, "1.7"},
      {"roi_height_px", whole<&DetailsRecord::roi_height_px>, "1.7"},
      {"cut_off_top_percent", whole<&DetailsRecord::cut_off_top_percent>, "1.7"},
      {"cut_off_bottom_percent", whole<&DetailsRecord::cut_off_bottom_percent>, "1.7"},
      {"image_width_px", whole<&DetailsRecord::image_width_px>, "1.7"},
      {"image_height_px", whole<&DetailsRecord::image_height_px>, "1.7"},
      {"keys", text<&DetailsRecord::keys>, "1.7"},
      {"length_px", in_px<&DetailsDimensions::length>, "1.7"},
      {"breadth_px", in_px<&DetailsDimensions::breadth>, "1.7"},
      {"breadth_position", in_px<&DetailsDimensions::breadth_position>, "1.7"},
      {"elongation", in_px<&DetailsDimensions::elongation>, "1.7"},
      {"volume_px3", in_px<&DetailsDimensions::volume>, "1.7"},
      {"surface_px2", in_px<&DetailsDimensions::surface>, "1.7"},
      {"length_mm", in_mm<&DetailsDimensions::length, 1>, "1.7"},
      {"breadth_mm", in_mm<&DetailsDimensions::breadth, 1>, "1.7"},
      {"volume_mm3", in_mm<&DetailsDimensions::volume, 3>, "1.7"},
      {"surface_mm2", in_mm<&DetailsDimensions::surface, 2>, "1.7"},
      {"px_per_mm",
       [](const DetailsRecord& r) { return scaled(r) ? round_trip_number(r.px_per_mm) : ""; },
       "1.7"},
      {"scale_source",
       [](const DetailsRecord& r) -> std::string {
         return scale_source_name(scaled(r) ? r.scale_source : ScaleSource::none);
       },
       "1.7"},
  };
  add_warning_columns(columns, kWarningColumnsWithFit, "1.7");
  columns.insert(
      columns.end(),
      {
          {"flags", text<&DetailsRecord::flags>, "1.7"},
          {"program", text<&DetailsRecord::program>, "1.7"},
          {"version", text<&DetailsRecord::version>, "1.7"},
          {"segmentation", text<&DetailsRecord::segmentation>, "1.7"},
          {"candidate_score", candidate_score, "1.7"},
          {"runner_up_score", runner_up_score, "1.7"},
          {"lambda_pointed_up", pointed_up, "1.7"},
          {"lambda_se", known<&DetailsUncertainty::lambda_se>, "1.7"},
          {"length_se_px", known<&DetailsUncertainty::length_se_px>, "1.7"},
          {"breadth_se_px", known<&DetailsUncertainty::breadth_se_px>, "1.7"},
          {"length_se_mm", in_mm_se<&DetailsUncertainty::length_se_px, &DetailsDimensions::length>,
           "1.7"},
          {"breadth_se_mm",
           in_mm_se<&DetailsUncertainty::breadth_se_px, &DetailsDimensions::breadth>, "1.7"},
          {"lambda_spread", known<&DetailsUncertainty::lambda_spread>, "1.7"},
          {"length_spread_px", known<&DetailsUncertainty::length_spread_px>, "1.7"},
          {"breadth_spread_px", known<&DetailsUncertainty::breadth_spread_px>, "1.7"},
          {"fit_starts", fit_starts, "1.7"},
          {"scale_method", scale_method, "1.7"},
          {"px_per_mm_se", px_per_mm_se, "1.7"},
          {"scale_relative_se", scale_relative_se, "1.7"},
          {"scale_from", scale_from, "1.7"},
      });
  // The later warnings, appended after every column above.
  add_warning_columns(columns, kWarningColumnsAtEnd, "1.7");
  columns.insert(
      columns.end(),
      {
          {"egg_index", of_egg<&DetailsRecord::egg_index>, "1.7"},
          {"egg_count", of_egg<&DetailsRecord::egg_count>, "1.7"},
          {"centre_x_px", egg_place<&cv::Point::x, &DetailsRecord::egg_centre_px>, "1.7"},
          {"centre_y_px", egg_place<&cv::Point::y, &DetailsRecord::egg_centre_px>, "1.7"},
          {"bbox_x_px", egg_box<&cv::Rect::x>, "1.7"},
          {"bbox_y_px", egg_box<&cv::Rect::y>, "1.7"},
          {"bbox_width_px", egg_box<&cv::Rect::width>, "1.7"},
          {"bbox_height_px", egg_box<&cv::Rect::height>, "1.7"},
      });
  return columns;
}

}  // namespace

const std::vector<DetailsColumn>& details_columns() {
  static const std::vector<DetailsColumn> columns = make_details_columns();
  return columns;
}

std::string DetailsColumn::value_of(const DetailsRecord& record) const {
  if (warning) return record.warnings_held.count(name) ? "1" : "0";
  return write(record);
}

const std::vector<std::string> kDetailsColumns = [] {
  std::vector<std::string> names;
  for (const DetailsColumn& column : details_columns()) names.push_back(column.name);
  return names;
}();

std::string format_details_header() { return csv_record(kDetailsColumns); }

std::string format_details_row(const DetailsRecord& r) {
  std::vector<std::string> fields;
  for (const DetailsColumn& column : details_columns()) fields.push_back(column.value_of(r));
  return csv_record(fields);
}

double lambda_pointed_up(double lambda) { return std::max(lambda, 1.0 / lambda); }

void set_details_scale(DetailsRecord& record, const ScaleLookup& scale) {
  if (!record.scale_method.empty()) return;
  record.scale_source = scale.source;
  record.px_per_mm = scale.source == ScaleSource::none ? 0.0 : scale.row.px_per_mm;
}

}  // namespace meravel
