// The scale of a series: how many pixels of a photograph make one millimetre, taken from two
// points clicked on a ruler or scale bar in the photograph and the length between them, and kept
// in "scale.csv" in the series directory.
//
// scale.csv is comma-separated (RFC 4180 quoting, "." as the decimal point whatever the locale),
// one header line and then one row per scale set, only ever appended:
//
//   scope,file,px_per_mm,x1_px,y1_px,x2_px,y2_px,length_mm,set_at
//   series,IMG_0001.JPG,8,40,508,280,508,30,2026-12-10T09:14:27+01:00
//   photograph,IMG_0006.JPG,16,80,1016,560,1016,30,2026-12-10T09:20:03+01:00
//
//   scope      "series": holds for every photograph of the series; "photograph": only for `file`
//   file       the photograph the two points were taken on, relative to the series directory
//   px_per_mm  pixels per millimetre: the distance between the two points / length_mm
//   x1_px ...  the two points, in pixels of the whole photograph as shown (upright), x to the
//              right and y downwards, whatever region of interest the view was cropped to
//   length_mm  the length between them that was typed in, in millimetres
//   set_at     when it was set, ISO 8601 local time with its offset from UTC
//
// Which scale holds for a photograph: its own latest photograph row when it has one, otherwise the
// latest series row, otherwise none. A photograph row stays in force when a series scale is set
// later (it is there because that photograph was taken differently); setting its photograph scale
// again replaces it.
//
// A file that is not of this form (another program's scale.csv, a damaged or hand-edited row)
// gives no scale at all, never part of one, and one line that says what is wrong: a wrong scale
// would go unnoticed into every millimetre value, an empty column does not.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace meravel {

// File name of the scale file inside the series directory.
extern const char kScaleFileName[];

// The header line, without its line break.
extern const char kScaleHeader[];

// A point in pixels of the whole photograph: x to the right, y downwards.
struct PointPx {
  double x = 0.0;
  double y = 0.0;
};

enum class ScaleScope { series, photograph };

struct ScaleRow {
  ScaleScope scope = ScaleScope::series;
  std::string file;  // the photograph it was taken on, relative to the series directory
  double px_per_mm = 0.0;
  PointPx first;
  PointPx second;
  double length_mm = 0.0;
  std::string set_at;  // ISO 8601 with the UTC offset
};

// The length typed into the scale dialog, in millimetres: digits with at most one decimal point
// or comma ("12.5", "12,5", "30", ".5"), blanks around it allowed, and a value > 0. Empty for
// anything else: a sign, an exponent, a thousands separator, two separators, other characters.
std::optional<double> parse_length_mm(std::string_view typed);

// Pixels per millimetre for two points `length_mm` apart: their distance / length_mm. Empty when
// the points coincide or a value is not finite, or length_mm is not > 0.
std::optional<double> px_per_mm_from(PointPx first, PointPx second, double length_mm);

// A row for scale.csv from the two points and the length, set at `local_time`; empty when
// px_per_mm_from is, or when a photograph row names no photograph.
std::optional<ScaleRow> make_scale_row(ScaleScope scope, const std::string& file, PointPx first,
                                       PointPx second, double length_mm, const std::tm& local_time);

// One row of scale.csv with its line break; numbers in their shortest exact form.
std::string format_scale_row(const ScaleRow& row);

struct ScaleFile {
  std::vector<ScaleRow> rows;  // in file order; empty when `problem` is set
  // Empty, or the one line to show when the file cannot be used: it names the file and the line
  // and says that no scale is used.
  std::string problem;
};

// The rows of the scale file's text; `path` only names the file in the problem line.
ScaleFile parse_scale_file(std::string_view text, const std::string& path);

// Reads and parses the file at `path`. A missing or empty file has no rows and no problem; one
// that cannot be read, or is larger than any scale file (16 MiB), has a problem.
ScaleFile read_scale_file(const std::string& path);

enum class ScaleSource { none, series, photograph };

// "none", "series", "photograph".
const char* scale_source_name(ScaleSource source);

struct ScaleLookup {
  ScaleSource source = ScaleSource::none;
  ScaleRow row;  // the row in force; meaningful unless source is none
};

// The scale in force for the photograph `file` (relative to the series directory), by the rule
// above.
ScaleLookup scale_for_photograph(const std::vector<ScaleRow>& rows, const std::string& file);

struct ScaleWriteOutcome {
  bool saved = false;
  std::string failure;  // when not saved: the line to show
};

// Appends `row` to the scale file at `path` as the measures file is appended to (append_durably:
// under the file's exclusive lock, synced before it returns), in one piece with the header when
// the file is missing or empty, after a line break when the file does not end with one. A row
// that cannot be written completely is cut off again, so the file keeps exactly its earlier
// content; the failure line names the file, e.g. "ERROR opening file: Permission denied
// (scale.csv). Nothing was saved.". A file that read_scale_file cannot use is left alone: a row
// appended to it would never be read.
ScaleWriteOutcome append_scale_row(const std::string& path, const ScaleRow& row);

}  // namespace meravel
