// Key k's dialog: the length between the two clicked ends in millimetres, and whether the scale
// holds for the series or for this photograph only; and keeping the scale in scale.csv.
#pragma once

#include <QWidget>
#include <optional>
#include <ostream>
#include <string>

#include "fit/session_contract.h"
#include "series/measures_file.h"
#include "series/scale_file.h"

struct ScaleAnswer {
  double length_mm = 0.0;        // > 0
  bool photograph_only = false;  // "This photograph only" was ticked
  bool proposal_kept = false;    // OK with the proposed length as it was proposed
};

// Object names of the dialog and its controls, for finding them.
inline constexpr const char* kScaleDialogName = "scale_dialog";
inline constexpr const char* kScaleLengthFieldName = "lineEdit_length_mm";
inline constexpr const char* kScalePhotographOnlyName = "checkBox_photograph_only";

// Asks, in a modal dialog over `parent`, for the length between two points `distance_px` pixels
// apart: OK takes a length parse_length_mm accepts ("12.5" or "12,5", > 0) and is disabled for
// anything else. Empty after Cancel or closing the dialog.
// With `proposed_mm` > 0 the field holds that length to four significant digits to begin with.
std::optional<ScaleAnswer> ask_scale_length(QWidget* parent, double distance_px,
                                            double proposed_mm = 0.0);

// What key k's step did: a row written to scale.csv, or the proposed scale kept (the row in force
// that set it, on another photograph), or neither.
struct ScaleStepOutcome {
  bool set = false;
  std::optional<meravel::ScaleRow> carried;
};

// Key k's step for the photograph `name` of the series in `directory`: asks the length (no dialog
// when the two ends are one pixel, or when the series' scale.csv cannot be used), and appends the
// scale row for the series or for this photograph to scale.csv, set at `clock`'s time. When a
// scale set on another photograph is in force for this one, the dialog proposes the length it
// gives the two ends; kept as proposed, no row is written and that row is handed back as carried:
// its scale is carried over to this photograph. Every other outcome is one line on `out`: the
// scale set, the scale left as it was after a cancel, or why the row could not be written.
ScaleStepOutcome set_scale_of_series(const std::string& directory, const std::string& name,
                                     const meravel::ScaleClicks& clicks, QWidget* parent,
                                     const meravel::MeasuringClock& clock, std::ostream& out);
