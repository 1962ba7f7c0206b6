// The details file, "measures_details.csv" beside measures.csv: one row per saved measurement, in
// the same order as the lines of measures.csv, with everything needed to redraw and audit the fit
// and the egg's dimensions in pixels and millimetres.
//
// Plain comma-separated text: an English header line, then one row per measurement; a field that
// holds a comma, a quote or a line break is quoted as RFC 4180 says (in double quotes, quotes
// doubled); rows end with LF. Numbers always have "." as the decimal point, whatever the locale.
// Integers are written as they are, lambda, the energy and px_per_mm in their shortest exact form,
// the derived dimensions with 10 significant digits. An empty field means "none": no dimensions
// for a model without extent, no millimetres without a scale.
//
// The columns, in this order (details_columns(), whose names are kDetailsColumns):
//   file                       the photograph, relative to the series directory
//   capture_date_original      EXIF DateTimeOriginal (tag 0x9003), as the caller read it
//   capture_date               EXIF DateTime of IFD 0 (tag 0x0132), as in measures.csv
//   measured_at                the time of the save, ISO 8601 with the UTC offset
//   lambda                     lambda_milli / 1000, as in measures.csv's Lambda
//   energy_px                  the deviation energy in pixels, "inf" when it could not be scored
//   lambda_milli, width, height_px, rotation_deg, translation_x_px, translation_y_px
//                              the six model values as the trackbars held them
//   threshold                  the binarisation threshold
//   polarity                   light_on_dark or dark_on_light
//   roi_x_px, roi_y_px, roi_width_px, roi_height_px
//                              the region the fit saw, in pixels of the whole photograph
//   cut_off_top_percent, cut_off_bottom_percent
//   image_width_px, image_height_px   the whole photograph, upright as shown
//   keys                       the keys pressed in the session, in order, blank-separated ("r a")
//   length_px, breadth_px, breadth_position, elongation, volume_px3, surface_px2
//                              the egg of the model values; the position is
//                              the depth of the largest breadth below the top / length
//   length_mm, breadth_mm, volume_mm3, surface_mm2   the same in millimetres, with a scale
//   px_per_mm                  the scale used, empty without one
//   scale_source               series, photograph or none (series/scale_file.h)
//   warn_outline_touches_frame, warn_outline_is_frame, warn_energy_high, warn_model_at_border,
//   warn_top_far_from_rotation 1 when the warning held for the saved fit, else 0
//   flags                      free text from a later review, normally empty
//   program, version           "Meravel" and its version
// and after them, columns that later versions appended (an older file's header is a prefix):
//   segmentation               how the object was found: automatic (the egg the automatic
//                              segmentation chose) or threshold (the largest outline at the
//                              threshold and polarity)
//   candidate_score, runner_up_score   the egg-likeness (0..1) of the object measured and of the
//                              next best object; empty unless automatic, 0 when no runner-up
//   lambda_pointed_up          lambda_pointed_up(lambda): the shape with the pointed end up
//   lambda_se, length_se_px, breadth_se_px, length_se_mm, breadth_se_mm
//                              standard errors of the saved values; empty
//                              where unknown (a fit by hand), the mm ones without a scale; the mm
//                              ones include the scale's own error (px_per_mm_se)
//   lambda_spread, length_spread_px, breadth_spread_px, fit_starts
//                              the largest differences of the fits from other starts, and how
//                              many of those converged; empty where none was made
//   scale_method               where the scale came from: ruler, marker or disc (read from this
//                              photograph), given (--scale PX_PER_MM), carried (read from another
//                              photograph, scale_from), clicked (key k, scale.csv) or none.
//                              scale_source keeps its older meaning (the scope of a scale.csv row);
//                              a scale read, given or carried is a photograph, series, series one.
//   px_per_mm_se               the scale's standard error, empty when not known (given, clicked)
//   scale_relative_se          px_per_mm_se / px_per_mm: every millimetre length has this relative
//                              standard error from the scale (areas twice it, volumes three times)
//   scale_from                 carried: the source photograph's position in the measuring order,
//                              or its path when it is not one of the series
//   warn_length_below_breadth ... warn_egg_touching
//                              the warnings added later, in the warning table's order:
//                              1 when the warning held for the saved fit, else 0
//   egg_index, egg_count       an egg of a clutch measured egg by egg: its 1-based index (left to
//                              right by centre x, ties top to bottom) and the number of eggs
//   centre_x_px, centre_y_px, bbox_x_px, bbox_y_px, bbox_width_px, bbox_height_px
//                              that egg's centre and bounding box in pixels of the whole
//                              photograph; these six and the two above are empty otherwise
#pragma once

#include <ctime>
#include <limits>
#include <opencv2/core.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "series/scale_file.h"

namespace meravel {

// File name of the details file inside the series directory.
extern const char kDetailsFileName[];

// The column names, in file order.
extern const std::vector<std::string> kDetailsColumns;

// The program's name and version as the rows record them.
extern const char kProgramName[];
extern const char kProgramVersion[];

// The egg's dimensions in pixels, as the measurement worked them out from the model values.
struct DetailsDimensions {
  double length = 0.0;
  double breadth = 0.0;
  double breadth_position = 0.0;  // depth of the largest breadth below the top / length
  double elongation = 0.0;        // length / breadth
  double volume = 0.0;
  double surface = 0.0;
};

// Standard errors and spreads of the saved values; NaN where not known.
struct DetailsUncertainty {
  static constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();
  double lambda_se = kUnknown;
  double length_se_px = kUnknown;
  double breadth_se_px = kUnknown;
  double lambda_spread = kUnknown;
  double length_spread_px = kUnknown;
  double breadth_spread_px = kUnknown;
  int starts = 0;  // the other starts whose fits converged; 0: none made
};

// Every field of one row. The dimensions are those of the model values, which the measurement
// sets; the millimetre columns are derived from them and px_per_mm when the scale source is not
// none.
struct DetailsRecord {
  std::string file;
  std::string capture_date_original;
  std::string capture_date;
  std::tm measured_at{};  // local time with tm_gmtoff, as localtime_r fills it
  double energy_px = 0.0;
  int lambda_milli = 0;
  int width = 0;
  int height_px = 0;
  int rotation_deg = 0;
  int translation_x_px = 0;
  int translation_y_px = 0;
  int threshold = 0;
  bool dark_on_light = false;  // the polarity: a dark object on a light ground, else light on dark
  int roi_x_px = 0;
  int roi_y_px = 0;
  int roi_width_px = 0;
  int roi_height_px = 0;
  int cut_off_top_percent = 0;
  int cut_off_bottom_percent = 0;
  int image_width_px = 0;
  int image_height_px = 0;
  std::string keys;
  std::optional<DetailsDimensions> dimensions_px;  // none for a model without extent
  ScaleSource scale_source = ScaleSource::none;
  double px_per_mm = 0.0;  // > 0 with a scale; a source without one is written as none
  // Set when the scale was read, given or carried rather than taken from scale.csv: its method's
  // name ("ruler", ...; empty: clicked when there is a scale), standard error (0: not known) and,
  // carried, its source.
  std::string scale_method;
  double px_per_mm_se = 0.0;
  std::string scale_from;
  std::set<std::string> warnings_held;  // the warn_ columns written 1; the others are 0
  DetailsUncertainty uncertainty;       // unknown (NaN) for a fit made by hand
  std::string flags;
  std::string program = kProgramName;
  std::string version = kProgramVersion;
  std::string segmentation = "threshold";  // or "automatic"
  double candidate_score = 0.0;
  double runner_up_score = 0.0;
  // The egg's place among the eggs of its photograph measured in one go (meravel fit --objects
  // all): its 1-based index, left to right by centre x, ties top to bottom by centre y; the count
  // of eggs; its centre and bounding box in pixels of the whole photograph. egg_count 0: none
  // (one object measured), and the columns are empty.
  int egg_index = 0;
  int egg_count = 0;
  cv::Point egg_centre_px;
  cv::Rect egg_box_px;
};

// The one of lambda and 1/lambda that describes the egg with its pointed end at the model's top:
// the larger. The model's widest point lies at the fraction lambda / (1 + lambda) of its length
// below the top; an egg's pointed end is the one farther from its widest point, so with the
// pointed end up the widest point lies below the middle, lambda >= 1.
double lambda_pointed_up(double lambda);

// One column of the file: its name, how a record's value is written in it, and the program version
// that first wrote it. A warning's column is written 1 when the warning held, else 0. New columns
// are appended at the end, so that an older file's header is a prefix of a newer one's.
struct DetailsColumn {
  std::string name;
  std::string (*write)(const DetailsRecord& record) = nullptr;  // null for a warning's column
  std::string since;
  bool warning = false;  // 1 when the record's warnings_held names the column, else 0
  // The column's text for `record`.
  std::string value_of(const DetailsRecord& record) const;
};

// Every column, in file order (kDetailsColumns are their names).
const std::vector<DetailsColumn>& details_columns();

// The header line with its line break.
std::string format_details_header();

// One row with its line break.
std::string format_details_row(const DetailsRecord& record);

// Sets the scale of `record` from `scale`, the lookup for the record's photograph. A record whose
// scale_method is set keeps its own scale (px_per_mm and scale_source).
void set_details_scale(DetailsRecord& record, const ScaleLookup& scale);

}  // namespace meravel
