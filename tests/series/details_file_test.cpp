// The details file's header and rows: every column where the header puts it, numbers with "."
// under a comma locale, dimensions from the model values and millimetres only with a scale, and
// file names that need quoting.
#include "series/details_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fit/fit_warnings.h"
#include "measurement/session_record.h"
#include "series/csv_text.h"

using namespace meravel;

namespace {

std::tm measured_at() {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 10;
  t.tm_hour = 9;
  t.tm_min = 14;
  t.tm_sec = 27;
  t.tm_gmtoff = 3600;
  return t;
}

// A fit of the third demo photograph.
DetailsRecord demo_record() {
  DetailsRecord r;
  r.file = "IMG_0003.JPG";
  r.capture_date_original = "2012-04-01 18:07:40";
  r.capture_date = "2012-04-01 18:07:45";
  r.measured_at = measured_at();
  r.energy_px = 0.592503;
  r.lambda_milli = 1005;
  r.width = 3000;
  r.height_px = 360;
  r.rotation_deg = 328;
  r.translation_x_px = 326;
  r.translation_y_px = 235;
  r.threshold = 131;
  r.roi_width_px = 640;
  r.roi_height_px = 480;
  r.image_width_px = 640;
  r.image_height_px = 480;
  r.keys = "r a";
  return r;
}

ScaleLookup series_scale(double px_per_mm) {
  ScaleLookup lookup;
  lookup.source = ScaleSource::series;
  lookup.row = make_scale_row(ScaleScope::series, "IMG_0001.JPG", {40, 552},
                              {40 + 30 * px_per_mm, 552}, 30, measured_at())
                   .value();
  return lookup;
}

// The row read back through the header: column name -> field.
std::map<std::string, std::string> fields_of(const DetailsRecord& record) {
  const CsvText text = parse_csv(format_details_header() + format_details_row(record));
  EXPECT_EQ(text.problem, "");
  std::map<std::string, std::string> fields;
  if (text.records.size() != 2) {
    ADD_FAILURE() << "expected a header and one row";
    return fields;
  }
  const std::vector<std::string>& names = text.records[0].fields;
  const std::vector<std::string>& values = text.records[1].fields;
  EXPECT_EQ(names.size(), values.size());
  for (size_t i = 0; i < names.size() && i < values.size(); ++i) fields[names[i]] = values[i];
  return fields;
}

double number(const std::string& text) {
  const std::optional<double> value = parse_number(text);
  EXPECT_TRUE(value) << '"' << text << '"';
  return value.value_or(std::nan(""));
}

}  // namespace

TEST(DetailsFile, HeaderNamesEveryColumnInOrder) {
  EXPECT_EQ(format_details_header(),
            "file,capture_date_original,capture_date,measured_at,lambda,energy_px,lambda_milli,"
            "width,height_px,rotation_deg,translation_x_px,translation_y_px,threshold,polarity,"
            "roi_x_px,roi_y_px,roi_width_px,roi_height_px,cut_off_top_percent,"
            "cut_off_bottom_percent,image_width_px,image_height_px,keys,length_px,breadth_px,"
            "breadth_position,elongation,volume_px3,surface_px2,length_mm,breadth_mm,volume_mm3,"
            "surface_mm2,px_per_mm,scale_source,warn_outline_touches_frame,warn_outline_is_frame,"
            "warn_energy_high,warn_model_at_border,warn_top_far_from_rotation,flags,program,"
            "version,segmentation,candidate_score,runner_up_score,lambda_pointed_up,lambda_se,"
            "length_se_px,breadth_se_px,length_se_mm,breadth_se_mm,lambda_spread,"
            "length_spread_px,breadth_spread_px,fit_starts,scale_method,px_per_mm_se,"
            "scale_relative_se,scale_from,warn_length_below_breadth,warn_too_small,"
            "warn_lambda_not_egg_like,warn_area_mismatch,warn_not_convex,warn_starts_disagree,"
            "warn_runner_up_close,warn_low_contrast,warn_contrast_steps,warn_scale_spacing_varies,"
            "warn_scale_steep_angle,warn_egg_touching,egg_index,egg_count,centre_x_px,"
            "centre_y_px,bbox_x_px,bbox_y_px,bbox_width_px,bbox_height_px\n");
  EXPECT_EQ(kDetailsColumns.size(), 80u);
}

// How the object was found: the threshold's outline has no scores; the segmentation's egg has
// both, to three digits.
TEST(DetailsFile, SegmentationColumnsSayHowTheObjectWasFound) {
  DetailsRecord automatic = demo_record();
  automatic.segmentation = "automatic";
  automatic.candidate_score = 0.87654;
  automatic.runner_up_score = 0.0;
  const struct {
    const char* name;
    DetailsRecord record;
    const char *segmentation, *score, *runner_up;
  } cases[] = {
      {"threshold", demo_record(), "threshold", "", ""},
      {"automatic", automatic, "automatic", "0.877", "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<std::string, std::string> f = fields_of(c.record);
    EXPECT_EQ(f["segmentation"], c.segmentation);
    EXPECT_EQ(f["candidate_score"], c.score);
    EXPECT_EQ(f["runner_up_score"], c.runner_up);
  }
}

// Every column names the version that first wrote it, none later than this program's; an older
// file's columns are a prefix of the table, so the versions never decrease along it.
// An egg of a clutch says its place; a photograph measured as one object leaves those empty.
TEST(DetailsFile, EggColumnsSayWhichEggOfAClutchOrNothing) {
  const char* const names[] = {"egg_index", "egg_count", "centre_x_px",   "centre_y_px",
                               "bbox_x_px", "bbox_y_px", "bbox_width_px", "bbox_height_px"};
  DetailsRecord one;
  for (const char* name : names) EXPECT_EQ(fields_of(one)[name], "") << name;
  DetailsRecord egg;
  egg.egg_index = 2;
  egg.egg_count = 5;
  egg.egg_centre_px = {812, 40};
  egg.egg_box_px = {700, 0, 224, 81};
  egg.warnings_held = {"warn_egg_touching"};
  std::map<std::string, std::string> fields = fields_of(egg);
  const char* const values[] = {"2", "5", "812", "40", "700", "0", "224", "81"};
  for (size_t i = 0; i < std::size(names); ++i) EXPECT_EQ(fields[names[i]], values[i]) << names[i];
  EXPECT_EQ(fields["warn_egg_touching"], "1");
}

TEST(DetailsFile, EachColumnSaysSinceWhichVersion) {
  const auto version = [](const std::string& text) {
    int major = -1, minor = -1;
    EXPECT_EQ(std::sscanf(text.c_str(), "%d.%d", &major, &minor), 2) << text;
    return std::make_pair(major, minor);
  };
  std::pair<int, int> previous{0, 0};
  for (const DetailsColumn& column : details_columns()) {
    SCOPED_TRACE(column.name);
    const std::pair<int, int> since = version(column.since);
    EXPECT_LE(since, version(kProgramVersion));
    EXPECT_GE(since, previous);
    previous = since;
  }
}

// A row's warning flags are written in the order of the warning table, whose columns they are:
// the fit's warnings together after scale_source, those appended later after every other column
// (an older file's header stays a prefix), none for a warning without a column. Each warning sets
// its own column and no other.
TEST(DetailsFile, WarningColumnsAreTheWarningTablesInItsOrder) {
  std::vector<size_t> with_fit, at_end;  // column indices, in the warning table's order
  std::vector<const FitWarningKind*> with_column;
  for (const FitWarningKind& kind : fit_warning_kinds()) {
    if (kind.place == WarningColumnPlace::kNone) {
      EXPECT_EQ(kind.column, nullptr);
      continue;
    }
    SCOPED_TRACE(kind.column);
    const auto at = std::find(kDetailsColumns.begin(), kDetailsColumns.end(), kind.column);
    ASSERT_NE(at, kDetailsColumns.end());
    const size_t index = at - kDetailsColumns.begin();
    (kind.place == WarningColumnPlace::kAtEnd ? at_end : with_fit).push_back(index);
    with_column.push_back(&kind);
  }
  const auto scale_source =
      std::find(kDetailsColumns.begin(), kDetailsColumns.end(), "scale_source");
  ASSERT_FALSE(with_fit.empty());
  EXPECT_EQ(with_fit.front(), static_cast<size_t>(scale_source - kDetailsColumns.begin()) + 1);
  for (size_t k = 0; k < with_fit.size(); ++k) EXPECT_EQ(with_fit[k], with_fit.front() + k);
  // The later warnings follow the columns of the older files in one block; an egg of a clutch's
  // columns come after them.
  const auto scale_from = std::find(kDetailsColumns.begin(), kDetailsColumns.end(), "scale_from");
  for (size_t k = 0; k < at_end.size(); ++k) {
    EXPECT_EQ(at_end[k], static_cast<size_t>(scale_from - kDetailsColumns.begin()) + 1 + k);
  }

  for (const FitWarningKind* kind : with_column) {
    SCOPED_TRACE(kind->column);
    FitWarnings warnings;
    warnings.*kind->flag = true;
    DetailsRecord record;
    record.warnings_held = held_warning_columns(warnings);
    std::vector<std::string> fields = parse_csv(format_details_row(record)).records.at(0).fields;
    ASSERT_EQ(fields.size(), kDetailsColumns.size());
    for (const FitWarningKind* other : with_column) {
      const size_t index =
          std::find(kDetailsColumns.begin(), kDetailsColumns.end(), other->column) -
          kDetailsColumns.begin();
      EXPECT_EQ(fields.at(index), other == kind ? "1" : "0") << other->column;
    }
  }
  // And the file has no warning column that the table does not name.
  size_t warning_columns = 0;
  for (const DetailsColumn& column : details_columns()) warning_columns += column.warning;
  EXPECT_EQ(warning_columns, with_column.size());
}

// Where the scale came from: scale.csv's scale is a clicked one; a scale read, given or carried
// keeps its own value, standard error and source through set_details_dimensions.
TEST(DetailsFile, RowsSayWhereTheirScaleCameFrom) {
  struct Case {
    const char* name;
    const char* method;  // DetailsRecord::scale_method; empty: from scale.csv
    double px_per_mm, se;
    const char* from;
    bool spacing_varies;
    std::map<std::string, std::string> expected;
  };
  const Case cases[] = {
      {"clicked",
       "",
       8,
       0,
       "",
       false,
       {{"scale_source", "series"},
        {"scale_method", "clicked"},
        {"px_per_mm", "8"},
        {"px_per_mm_se", ""},
        {"scale_relative_se", ""},
        {"length_mm", "45"}}},
      {"ruler",
       "ruler",
       12,
       0.03,
       "",
       true,
       {{"scale_source", "photograph"},
        {"scale_method", "ruler"},
        {"px_per_mm", "12"},
        {"px_per_mm_se", "0.03"},
        {"scale_relative_se", "0.0025"},
        {"length_mm", "30"},
        {"scale_from", ""},
        {"warn_scale_spacing_varies", "1"}}},
      {"carried",
       "carried",
       9,
       0.009,
       "4",
       false,
       {{"scale_source", "series"},
        {"scale_method", "carried"},
        {"px_per_mm", "9"},
        {"px_per_mm_se", "0.009"},
        {"scale_relative_se", "0.001"},
        {"length_mm", "40"},
        {"scale_from", "4"},
        {"warn_scale_spacing_varies", "0"}}},
      {"asked for and not found",
       "none",
       0,
       0,
       "",
       false,
       {{"scale_source", "none"},
        {"scale_method", "none"},
        {"px_per_mm", ""},
        {"length_mm", ""},
        {"scale_relative_se", ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DetailsRecord record = demo_record();
    record.scale_method = c.method;
    if (*c.method) {
      record.scale_source = std::string(c.method) == "carried" ? ScaleSource::series
                            : c.px_per_mm > 0                  ? ScaleSource::photograph
                                                               : ScaleSource::none;
      record.px_per_mm = c.px_per_mm;
      record.px_per_mm_se = c.se;
      record.scale_from = c.from;
      if (c.spacing_varies) record.warnings_held.insert("warn_scale_spacing_varies");
    }
    // scale.csv's scale stands aside for a record's own.
    set_details_dimensions(record, series_scale(8));
    std::map<std::string, std::string> f = fields_of(record);
    for (const auto& [column, text] : c.expected) {
      SCOPED_TRACE(column);
      EXPECT_EQ(f[column], text);
    }
  }
}

// Every field of a scaled fit, under a locale whose decimal separator is a comma.
TEST(DetailsFile, RowHoldsEveryFieldOfAScaledFit) {
  DetailsRecord record = demo_record();
  set_details_dimensions(record, series_scale(8));
  const std::string old_locale = std::setlocale(LC_ALL, nullptr);
  const bool comma_locale = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  std::map<std::string, std::string> f = fields_of(record);
  std::setlocale(LC_ALL, old_locale.c_str());

  const std::map<std::string, std::string> expected = {
      {"file", "IMG_0003.JPG"},
      {"capture_date_original", "2012-04-01 18:07:40"},
      {"capture_date", "2012-04-01 18:07:45"},
      {"measured_at", "2026-12-10T09:14:27+01:00"},
      {"lambda", "1.005"},
      {"energy_px", "0.592503"},
      {"lambda_milli", "1005"},
      {"width", "3000"},
      {"height_px", "360"},
      {"rotation_deg", "328"},
      {"translation_x_px", "326"},
      {"translation_y_px", "235"},
      {"threshold", "131"},
      {"polarity", "light_on_dark"},
      {"roi_x_px", "0"},
      {"roi_y_px", "0"},
      {"roi_width_px", "640"},
      {"roi_height_px", "480"},
      {"cut_off_top_percent", "0"},
      {"cut_off_bottom_percent", "0"},
      {"image_width_px", "640"},
      {"image_height_px", "480"},
      {"keys", "r a"},
      {"length_px", "360"},
      {"length_mm", "45"},
      {"px_per_mm", "8"},
      {"scale_source", "series"},
      {"warn_outline_touches_frame", "0"},
      {"warn_outline_is_frame", "0"},
      {"warn_energy_high", "0"},
      {"warn_model_at_border", "0"},
      {"warn_top_far_from_rotation", "0"},
      {"flags", ""},
      {"program", "Meravel"},
      {"version", kProgramVersion},
      // A fit by hand: the shape with the pointed end up, but no standard errors.
      {"lambda_pointed_up", "1.005"},
      {"lambda_se", ""},
      {"length_se_mm", ""},
      {"fit_starts", ""},
      {"warn_low_contrast", "0"},
  };
  for (const auto& [column, text] : expected) {
    SCOPED_TRACE(column);
    EXPECT_EQ(f[column], text);
  }
  // The dimensions are those of the model values, to ten digits, and in millimetres divided by
  // the scale, its square and its cube.
  const EggDimensions px = egg_dimensions_of_model(1005, 3000, 360).value();
  const struct {
    const char* column;
    double value;
  } dimensions[] = {
      {"breadth_px", px.breadth},      {"breadth_position", px.breadth_position},
      {"elongation", px.elongation},   {"volume_px3", px.volume},
      {"surface_px2", px.surface},     {"breadth_mm", px.breadth / 8},
      {"volume_mm3", px.volume / 512}, {"surface_mm2", px.surface / 64},
  };
  for (const auto& d : dimensions) {
    SCOPED_TRACE(d.column);
    EXPECT_NEAR(number(f[d.column]), d.value, 1e-9 * d.value);
  }
  EXPECT_NE(f["breadth_px"].find('.'), std::string::npos);
  if (!comma_locale) GTEST_SKIP() << "de_DE.UTF-8 locale missing: checked in the C locale only";
}

// What the row says when parts are missing or unusual.
TEST(DetailsFile, RowsWithoutScaleWithoutExtentAndWithWarnings) {
  struct Case {
    const char* name;
    DetailsRecord record;
    ScaleLookup scale;
    std::map<std::string, std::string> expected;
  };
  DetailsRecord unscaled = demo_record();
  DetailsRecord no_extent = demo_record();
  no_extent.lambda_milli = 0;
  DetailsRecord unscorable = demo_record();
  unscorable.energy_px = std::numeric_limits<double>::infinity();
  DetailsRecord reviewed = demo_record();
  reviewed.dark_on_light = true;
  reviewed.keys = "m p o";
  reviewed.roi_x_px = 12;
  reviewed.roi_y_px = 34;
  reviewed.roi_width_px = 200;
  reviewed.roi_height_px = 150;
  reviewed.cut_off_top_percent = 10;
  reviewed.cut_off_bottom_percent = 5;
  reviewed.warnings_held = {"warn_outline_touches_frame", "warn_energy_high",
                            "warn_top_far_from_rotation"};
  reviewed.flags = "outline, \"odd\"";
  ScaleLookup photograph_scale = series_scale(12.5);
  photograph_scale.source = ScaleSource::photograph;
  ScaleLookup broken_scale = series_scale(8);
  broken_scale.row.px_per_mm = 0;

  const std::map<std::string, std::string> no_mm = {{"length_mm", ""},  {"breadth_mm", ""},
                                                    {"volume_mm3", ""}, {"surface_mm2", ""},
                                                    {"px_per_mm", ""},  {"scale_source", "none"}};
  std::map<std::string, std::string> no_dimensions = no_mm;
  for (const char* column :
       {"length_px", "breadth_px", "breadth_position", "elongation", "volume_px3", "surface_px2"}) {
    no_dimensions[column] = "";
  }
  no_dimensions["lambda"] = "0";
  no_dimensions["scale_source"] = "series";
  std::map<std::string, std::string> scaled_without_extent = no_dimensions;
  scaled_without_extent["px_per_mm"] = "8";
  std::map<std::string, std::string> with_warnings = {{"polarity", "dark_on_light"},
                                                      {"keys", "m p o"},
                                                      {"roi_x_px", "12"},
                                                      {"roi_y_px", "34"},
                                                      {"roi_width_px", "200"},
                                                      {"roi_height_px", "150"},
                                                      {"cut_off_top_percent", "10"},
                                                      {"cut_off_bottom_percent", "5"},
                                                      {"warn_outline_touches_frame", "1"},
                                                      {"warn_outline_is_frame", "0"},
                                                      {"warn_energy_high", "1"},
                                                      {"warn_model_at_border", "0"},
                                                      {"warn_top_far_from_rotation", "1"},
                                                      {"flags", "outline, \"odd\""},
                                                      {"length_mm", "28.8"},
                                                      {"px_per_mm", "12.5"},
                                                      {"scale_source", "photograph"}};

  const Case cases[] = {
      {"no scale", unscaled, ScaleLookup{}, no_mm},
      {"a scale without a usable value", unscaled, broken_scale, no_mm},
      {"model without extent", no_extent, series_scale(8), scaled_without_extent},
      {"unscorable model", unscorable, ScaleLookup{}, {{"energy_px", "inf"}, {"length_px", "360"}}},
      {"reviewed fit with a photograph's scale", reviewed, photograph_scale, with_warnings},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DetailsRecord record = c.record;
    set_details_dimensions(record, c.scale);
    std::map<std::string, std::string> f = fields_of(record);
    EXPECT_EQ(f.size(), kDetailsColumns.size());
    for (const auto& [column, text] : c.expected) {
      SCOPED_TRACE(column);
      EXPECT_EQ(f[column], text);
    }
  }
}

// The automatic fit's standard errors and spreads, in millimetres with the scale; lambda with the
// pointed end up is the larger of lambda and 1/lambda.
TEST(DetailsFile, UncertaintyAndThePointedEndUp) {
  DetailsRecord record = demo_record();
  record.lambda_milli = 800;
  record.uncertainty.lambda_se = 0.004;
  record.uncertainty.length_se_px = 0.5;
  record.uncertainty.breadth_se_px = 0.25;
  record.uncertainty.lambda_spread = 0.001;
  record.uncertainty.length_spread_px = 0.125;
  record.uncertainty.breadth_spread_px = 0;
  record.uncertainty.starts = 4;
  record.warnings_held = {"warn_low_contrast"};
  set_details_dimensions(record, series_scale(8));
  std::map<std::string, std::string> f = fields_of(record);
  const std::map<std::string, std::string> expected = {
      {"lambda", "0.8"},
      {"lambda_pointed_up", "1.25"},
      {"lambda_se", "0.004"},
      {"length_se_px", "0.5"},
      {"breadth_se_px", "0.25"},
      {"length_se_mm", "0.0625"},
      {"breadth_se_mm", "0.03125"},
      {"lambda_spread", "0.001"},
      {"length_spread_px", "0.125"},
      {"breadth_spread_px", "0"},
      {"fit_starts", "4"},
      {"warn_low_contrast", "1"},
      {"warn_too_small", "0"},
      {"version", kProgramVersion},
  };
  for (const auto& [column, text] : expected) {
    SCOPED_TRACE(column);
    EXPECT_EQ(f[column], text);
  }
  set_details_dimensions(record, ScaleLookup{});
  f = fields_of(record);
  EXPECT_EQ(f["length_se_px"], "0.5");
  EXPECT_EQ(f["length_se_mm"], "");
}

// A file name with a comma, a quote or a line break stays one field and reads back as it was.
TEST(DetailsFile, FileNamesThatNeedQuotingReadBackAsTheyWere) {
  for (const std::string name :
       {"eggs, clutch 3/IMG_0001.JPG", "\"best\" egg.jpg", "two\nlines.jpg", "crlf\r\n.jpg",
        "all, \"of\"\r\nthem.JPG", "plain.jpg"}) {
    SCOPED_TRACE(name);
    DetailsRecord record = demo_record();
    record.file = name;
    record.capture_date = "2012-04-01 18:07:45, cam\"2\"";
    set_details_dimensions(record, series_scale(8));
    std::map<std::string, std::string> f = fields_of(record);
    EXPECT_EQ(f["file"], name);
    EXPECT_EQ(f["capture_date"], record.capture_date);
    EXPECT_EQ(f["version"], kProgramVersion);
  }
  const std::string row = format_details_row(demo_record());
  EXPECT_EQ(row.rfind("IMG_0003.JPG,2012-04-01 18:07:40,2012-04-01 18:07:45,", 0), 0u) << row;
  EXPECT_EQ(row.back(), '\n');
  EXPECT_EQ(std::count(row.begin(), row.end(), '\n'), 1);
}
